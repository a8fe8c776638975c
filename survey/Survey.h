// A survey from input to output: every data row read, fitted (or told why not) and written, row
// by row in input order, then the pooled fit, then the totals by stratum when a frame is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "OutputWriters.h"
#include "Progress.h"
#include "SamplingFrame.h"
#include "SurveyReader.h"
#include "SurveyTotals.h"

namespace kestrum::survey {

class Plotter;

// What a run finds, handed to a caller that shows it rather than reads the rows back (the window):
// each data row in input order as it is written, then the pooled fit, then the totals. Called on
// the thread that runs the survey.
class SurveyObserver {
public:
    virtual ~SurveyObserver() = default;
    // stratum: the block's place in the frame's strata; 0 without a frame.
    virtual void block(const BlockResult& result, std::size_t stratum) = 0;
    virtual void failed(const RowError& row) = 0;
    virtual void pooled(const PooledResult& result) = 0;
    // With a frame, after the last block: the rows written, and the totals to ask each block's
    // part in its stratum's total of (SurveyTotals::inTotal, when deferred()).
    virtual void totals(const SurveyTotals& totals, const std::vector<TotalsRow>& rows) = 0;
};

// A run stopped on request (SurveyOptions::stop), between two batches of rows.
class Cancelled : public std::runtime_error {
public:
    Cancelled() : std::runtime_error("stopped on request") {}
};

struct SurveyOptions {
    Format format = Format::Csv;
    int digits = -1; // shortest exact text when negative
    inference::Parameter profiled = inference::Parameter::P;
    double rangePct = 30.0;                     // the window's "% plotting range"
    std::optional<std::filesystem::path> plots; // needs plotter
    Plotter* plotter = nullptr;
    std::string inputName = "<stdin>"; // for messages
    char separator = 0;                // ',', ';' or '\t'; 0: found from the header
    bool skipFailed = false;           // leave rows that are not blocks out of the output
    bool search = false; // also run the window's search on each block, and tell where it
                         // ends away from the exact maximum (always so with plots)
    unsigned jobs = 1;   // threads fitting blocks; the output is the same for any number
    // The city's blocks by stratum: with it, rows of dogs per stratum and in the city follow.
    std::optional<SamplingFrame> frame;
    PBy pBy = PBy::Stratum;  // whose P divides each block's street count in the totals
    bool totalsOnly = false; // only those rows, neither the blocks nor the pooled fit
    SurveyObserver* observer = nullptr;
    // Set from another thread to stop the run: it throws Cancelled before the next batch.
    const std::atomic<bool>* stop = nullptr;
    // The share of dogs marked that the dogs still to vaccinate are counted towards.
    double coverageTarget = kCoverageTarget;
};

struct SurveySummary {
    std::uint64_t fitted = 0;
    std::uint64_t failedRows = 0;      // rows that are not valid blocks
    std::uint64_t failedPlots = 0;     // blocks fitted whose plot was not saved
    std::uint64_t failedSummaries = 0; // pooled, stratum and total rows written with status error
    bool anyPopulation = false;        // some block gave a street count

    bool allWell() const { return failedRows == 0 && failedPlots == 0 && failedSummaries == 0; }
};

// The window's starting values, which every block starts from (a fixed S replaces S's).
inline constexpr double kStartS = 0.9;
inline constexpr double kStartP = 0.9;

// Each row that is not a valid block, and each plot not saved, goes to progress as
// "<inputName>:<line>: <reason>", and the rest go on; a row that is not a block is also written
// with status "error" unless options.skipFailed. A pooled, stratum or total row with status
// "error" goes to progress as "<inputName>: <which row>: <reason>". Throws InputError when the
// input cannot be read as a survey (nothing is written then), stops being readable or does not
// fit the frame (a stratum the frame lacks, more blocks than it holds): every row before the one
// that stopped it is written first, whatever options.jobs. OutputError when the output cannot
// be written, std::filesystem::filesystem_error when the plot folder cannot be made, Cancelled
// when options.stop is set; the rows written before stay whole.
//
// A sheet of sightings is tallied on the way (Sightings.h): what its checks find is told as
// "<inputName>:<line>: warning: ..." and noted in the block's row.
SurveySummary runSurvey(ByteSource& input, RowSink& output, Progress& progress,
                        const SurveyOptions& options, KestrumN_E04JYF N_E04JYF);

// A sheet of sightings tallied into the frequency survey it gives (TallyWriter), nothing fitted:
// one row per block that can be tallied, in the order of their first lines. Rows that cannot be
// read and the checks' findings are told as runSurvey tells them, and counted in failedRows;
// fitted counts the blocks written. Uses options.separator and options.inputName. Throws
// InputError when the input is not a sheet of sightings or cannot be read, OutputError when the
// output cannot be written.
SurveySummary tallySurvey(ByteSource& input, RowSink& output, Progress& progress,
                          const SurveyOptions& options);

} // namespace kestrum::survey
