// The survey's blocks gathered by stratum of the sampling frame, as they are fitted, for the rows
// of dogs per stratum and in the whole city written after the blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Analysis.h"
#include "OutputWriters.h"
#include "SamplingFrame.h"
#include "SurveyReader.h"
#include "Totals.h"

namespace kestrum::survey {

struct TotalsRow {
    bool city = false;
    std::string stratum;
    std::uint64_t sampled = 0;
    std::uint64_t used = 0;
    inference::Total total;
    std::vector<Note> notes;
};

class SurveyTotals {
public:
    explicit SurveyTotals(SamplingFrame frame);

    // The block's stratum in the frame. Throws InputError, naming the line and the stratum, when
    // the frame does not hold the stratum or holds fewer blocks than are sampled from it: a total
    // scaled to a frame that does not describe the survey would be plainly wrong.
    std::size_t sample(const BlockRow& row);
    // The block's dogs into its stratum's total, or its name into the list of blocks left out.
    void add(std::size_t stratum, const BlockRow& row, const inference::Analysis& analysis);

    // One row per stratum of the frame, in the frame's order, then the city's.
    std::vector<TotalsRow> rows() const;

private:
    struct LeftOutBlocks {
        std::uint64_t count = 0;
        std::string named; // the first few, as "name" (line N)
    };
    struct Stratum {
        std::uint64_t sampled = 0;
        inference::StratumSample sample;
        // By reason, in the order of inference::LeftOut after None.
        LeftOutBlocks leftOut[4];
    };

    SamplingFrame frame_;
    std::vector<Stratum> strata_;
};

} // namespace kestrum::survey
