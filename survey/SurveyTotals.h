// The survey's blocks gathered by stratum of the sampling frame, as they are fitted, for the rows
// of dogs per stratum and in the whole city written after the blocks.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Analysis.h"
#include "Coverage.h"
#include "OutputWriters.h"
#include "PooledFit.h"
#include "SamplingFrame.h"
#include "SharedP.h"
#include "SurveyReader.h"
#include "Totals.h"

namespace kestrum::survey {

// Whose P divides each block's street count.
enum class PBy {
    Stratum, // the stratum's shared P, each block's own drawn towards it (the default)
    Survey,  // the same with one P for the whole survey
    Block,   // each block's own P; blocks without a usable one are left out
};
const char* methodName(PBy by);

// The share of dogs marked that a vaccination campaign aims at, unless told another.
inline constexpr double kCoverageTarget = 0.70;

// What to be careful about in a coverage: below the target even at its upper limit, without
// limits, not given. where: "this stratum", "the city", "the survey".
void coverageNotes(const inference::Coverage& coverage, double target, const std::string& where,
                   std::vector<Note>& notes);

struct TotalsRow {
    bool city = false;
    std::string stratum;
    PBy method = PBy::Stratum;
    std::uint64_t sampled = 0; // rows of the stratum, read or not
    std::uint64_t used = 0;    // blocks whose dogs went into the total
    inference::Total total;
    // The shared P (not with PBy::Block, nor on the city's row unless the survey shares one P).
    std::optional<inference::Analysis> shared;
    double spreadOfP = 0.0;
    // Each stratum's test of one P and S against one pair per block.
    std::optional<PooledComparison> comparison;
    // The share of its dogs marked, when the survey gives marks, and the dogs still to mark to
    // reach the target (with a total).
    std::optional<inference::Coverage> coverage;
    std::optional<double> toVaccinate;
    std::vector<Note> notes;
};

// What a block row shows of its part in its stratum's total, when that differs from its own N.
struct InTotal {
    double P = std::numeric_limits<double>::quiet_NaN();
    double N = std::numeric_limits<double>::quiet_NaN();
};

class SurveyTotals {
public:
    // coverageTarget: the share marked that the dogs still to vaccinate are counted towards.
    SurveyTotals(SamplingFrame frame, PBy by, double coverageTarget = kCoverageTarget);

    // The block's stratum in the frame. Throws InputError, naming the line and the stratum, when
    // the frame does not hold the stratum or holds fewer blocks than are sampled from it: a total
    // scaled to a frame that does not describe the survey would be plainly wrong.
    std::size_t sample(const BlockRow& row);
    // A row that could not be read but names a stratum of the frame is still a block sampled
    // there; it is named in the stratum's warnings.
    void sampleUnread(const RowError& row);
    // The block's fit, street count and marks into its stratum. In input order.
    void add(std::size_t stratum, const BlockRow& row, const inference::Analysis& analysis);

    // After the last block: the shared P of each stratum (or of the survey).
    void finish();
    // Whether block rows need finish() before they can show their part (a shared P).
    bool deferred() const { return by_ != PBy::Block; }
    // After finish(): a block's P and N as they went into its stratum's total.
    InTotal inTotal(std::size_t stratum, const inference::Counts& counts, double sHeld,
                    std::optional<double> count) const;

    // One row per stratum of the frame, in the frame's order, then the city's. After finish().
    std::vector<TotalsRow> rows() const;

private:
    struct Named {
        std::uint64_t count = 0;
        std::string named; // the first few (all for lines that failed), as "name" (line N)
    };
    struct Stratum {
        std::uint64_t sampled = 0;
        std::vector<inference::GroupBlock> blocks; // with a shared P
        std::vector<double> counts;                // their street counts, NaN where none
        std::vector<double> marked;                // their marked dogs, NaN where not given
        PooledFit comparison;
        inference::StratumSample sample;    // with PBy::Block
        inference::CoverageSample coverage; // with PBy::Block: each used block's N its weight
        // By reason, in the order of inference::LeftOut after None.
        Named leftOut[4];
        Named unread;
        Named noDogs;
        Named noCount;
        Named noMarks;
    };

    const inference::SharedP& sharedOf(std::size_t stratum) const;
    // The stratum's total; with a shared P also its expanded counts (count x shared P / own P).
    inference::Total stratumTotal(std::size_t k, TotalsRow& row,
                                  inference::Total& expandedCounts) const;
    // The blocks of the stratum that give a coverage, each weighted by its N in the total.
    inference::CoverageSample coverageSample(std::size_t k) const;
    void setCoverage(TotalsRow& row, const inference::Coverage& coverage,
                     const std::string& where) const;

    SamplingFrame frame_;
    PBy by_;
    double target_;
    bool anyMarked_ = false;
    std::vector<Stratum> strata_;
    std::vector<inference::SharedP> shared_; // one per stratum, or one for the survey
};

} // namespace kestrum::survey
