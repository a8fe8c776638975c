#include "SamplingFrame.h"

#include <cmath>

namespace kestrum::survey {

namespace {

// Above this a count of blocks no longer holds every whole number as a double.
constexpr double kMostBlocks = 9007199254740992.0; // 2^53

// The size as a whole number of blocks, or what is wrong with it; read as the survey's numbers are.
std::optional<std::uint64_t> blockCount(std::string_view text, bool decimalComma,
                                        std::string& problem)
{
    const std::optional<double> number = readNumber(text, decimalComma);
    const double value = number.value_or(0.0);
    if (text.empty()) {
        problem = "is missing";
    } else if (!number) {
        problem = "is not a number: " + printable(text);
    } else if (value < 0.0) {
        problem = "is negative: " + printable(text);
    } else if (value != std::floor(value)) {
        problem = "is not a whole number: " + printable(text);
    } else if (value > kMostBlocks) {
        problem = "is too large: " + printable(text);
    } else {
        return static_cast<std::uint64_t>(value);
    }
    return std::nullopt;
}

std::string lowerCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

} // namespace

SamplingFrame SamplingFrame::read(ByteSource& source, const std::string& name)
{
    SamplingFrame frame;
    frame.described_ = "the frame " + name;
    const auto refuse = [&name](std::size_t line, const std::string& problem) {
        return InputError(name + ":" + std::to_string(line) + ": " + problem);
    };

    RecordReader records(source);
    Record record;
    char separator = ',';
    bool partialMark = false;
    const auto next = [&] {
        try {
            return records.next(record);
        } catch (const InputError& error) {
            throw InputError(name + ": " + error.what());
        }
    };
    try {
        // As the survey's header.
        partialMark = startHeader(records);
        separator = records.separator();
    } catch (const InputError& error) {
        throw InputError(name + ": " + error.what());
    }
    if (!next()) {
        throw refuse(1, "the frame is empty: a header row naming the columns stratum and blocks "
                        "is needed");
    }
    if (!record.problem.empty()) {
        throw refuse(record.line, record.problem);
    }
    std::optional<std::size_t> stratumColumn;
    std::optional<std::size_t> blocksColumn;
    for (std::size_t k = 0; k < record.fields.size(); ++k) {
        const std::string column = lowerCase(record.fields[k]);
        std::optional<std::size_t>* const found = column == "stratum"  ? &stratumColumn
                                                  : column == "blocks" ? &blocksColumn
                                                                       : nullptr;
        if (found == nullptr) {
            continue;
        }
        if (*found) {
            throw refuse(record.line, "the header names the column " + column + " twice");
        }
        *found = k;
    }
    if (!stratumColumn || !blocksColumn) {
        throw refuse(record.line, partialMark ? "the header must name the columns stratum and "
                                                "blocks (it begins with part of a UTF-8 "
                                                "byte-order mark, read as part of its first name)"
                                              : "the header must name the columns stratum and "
                                                "blocks");
    }
    const std::size_t fields = record.fields.size();

    while (next()) {
        if (!record.problem.empty()) {
            throw refuse(record.line, record.problem);
        }
        if (record.fields.size() != fields) {
            throw refuse(record.line, "the record has " + std::to_string(record.fields.size()) +
                                          " fields where the header has " + std::to_string(fields));
        }
        const std::string& stratum = record.fields[*stratumColumn];
        if (stratum.empty()) {
            throw refuse(record.line, "a stratum without a name");
        }
        std::string problem;
        const std::optional<std::uint64_t> blocks =
            blockCount(record.fields[*blocksColumn], separator == ';', problem);
        if (!blocks) {
            throw refuse(record.line, "the size of stratum " + printable(stratum) + " " + problem);
        }
        if (!frame.index_.emplace(stratum, frame.strata_.size()).second) {
            throw refuse(record.line, "stratum " + printable(stratum) + " is named twice");
        }
        frame.strata_.push_back({stratum, *blocks});
    }
    if (frame.strata_.empty()) {
        throw InputError(name + ": the frame lists no strata");
    }
    return frame;
}

SamplingFrame SamplingFrame::oneStratum(std::string_view blocks)
{
    std::string problem;
    const std::optional<std::uint64_t> size = blockCount(blocks, false, problem);
    if (!size) {
        throw InputError("--blocks " + problem + " (a whole number of blocks, zero or more)");
    }
    SamplingFrame frame;
    frame.byName_ = false;
    frame.described_ = "--blocks " + std::to_string(*size);
    frame.index_.emplace(std::string(), 0);
    frame.strata_.push_back({std::string(), *size});
    return frame;
}

std::optional<std::size_t> SamplingFrame::find(std::string_view stratum) const
{
    const auto at = index_.find(std::string(stratum));
    if (at == index_.end()) {
        return std::nullopt;
    }
    return at->second;
}

} // namespace kestrum::survey
