// A survey's results held for a window to show, sort and report: a few numbers and the warnings'
// text for each data row (not its whole analysis, so that 100,000 blocks take tens of MB), the
// pooled fit and the rows of the strata and the city. Filled by runSurvey as its observer.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Coverage.h"
#include "Profile.h"
#include "Survey.h"

namespace kestrum::survey {

inline constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// One data row as the survey's table shows it; NaN where a number is not given.
struct RowSummary {
    std::size_t line = 0;
    std::string block;
    std::string stratum;
    std::size_t stratumIndex = 0; // in the frame, with one
    bool failed = false;          // not a block: error says why, and no number is given
    bool sighting = false;        // failed: a row of a sheet of sightings, not a block of its own
    std::string error;
    std::array<std::int32_t, 4> counts{}; // n100, n111, n101, n110
    double sFixed = kNone;                // NaN: S estimated
    double S = kNone;
    double P = kNone;
    double count = kNone; // the street count
    double N = kNone;     // count / P, with limits from those of P
    inference::Limit nLower;
    inference::Limit nUpper;
    double pInTotal = kNone; // with a frame: the P and N by which the block went into the total
    double nInTotal = kNone;
    double marked = kNone;             // the marked among the dogs identified, when the survey says
    inference::Share coverage;         // their share, with Wilson's limits
    std::vector<std::string> warnings; // one sentence each, as the warnings column gives them

    bool sHeld() const { return !std::isnan(sFixed); }
};

class SurveyResults final : public SurveyObserver {
public:
    void block(const BlockResult& result, std::size_t stratum) override;
    void failed(const RowError& row) override;
    void pooled(const PooledResult& result) override;
    void totals(const SurveyTotals& totals, const std::vector<TotalsRow>& rows) override;

    const std::vector<RowSummary>& rows() const { return rows_; }
    // Empty until the run has given them.
    const std::optional<PooledResult>& pooledFit() const { return pooled_; }
    // A row per stratum of the frame, then the city's; empty without a frame.
    const std::vector<TotalsRow>& totalsRows() const { return totals_; }
    // Some block gives its marked dogs: the survey has coverage columns.
    bool marked() const { return marked_; }

private:
    std::vector<RowSummary> rows_;
    std::optional<PooledResult> pooled_;
    std::vector<TotalsRow> totals_;
    bool marked_ = false;
};

} // namespace kestrum::survey
