// How many blocks the city holds in each stratum, from which the survey's blocks were drawn: a
// CSV file with the columns stratum and blocks, or one number for a survey of one stratum.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "SurveyReader.h"

namespace kestrum::survey {

struct FrameStratum {
    std::string name; // empty for the one stratum of --blocks
    std::uint64_t blocks = 0;
};

class SamplingFrame {
public:
    // Throws InputError, its message starting "<name>:<line>: ", for a frame that lacks a column,
    // names a stratum twice or without a name, or gives a size that is not a whole number of
    // blocks, zero or more.
    static SamplingFrame read(ByteSource& source, const std::string& name);
    // Throws InputError for a size that is not a whole number, zero or more.
    static SamplingFrame oneStratum(std::string_view blocks);

    const std::vector<FrameStratum>& strata() const { return strata_; }
    std::optional<std::size_t> find(std::string_view stratum) const;
    // Whether strata are told apart by name; false for --blocks.
    bool byName() const { return byName_; }
    // For messages: "the frame frame.csv", "--blocks 40".
    const std::string& described() const { return described_; }

private:
    std::vector<FrameStratum> strata_;
    std::unordered_map<std::string, std::size_t> index_;
    bool byName_ = true;
    std::string described_;
};

} // namespace kestrum::survey
