// Planning a survey before the fieldwork: how many blocks to count in each stratum for the city
// total's 95% limits to come out as narrow as wanted, or what the blocks the teams can count will
// give, and what a survey of any other size would give.
//
// Everything is the expected value of what the survey's own totals (SurveyTotals, with each
// stratum's P shared by its blocks) will report. A stratum of B blocks, b of them counted, with
// mu dogs present per block (coefficient of variation cv between blocks) and P and S as planned:
// the street counts C of its blocks have mean mu P and variance sigma^2 = P^2 (cv mu)^2 +
// mu P (1 - P) between blocks; the expanded counts A have variance B (B - b) sigma^2 / b +
// B mu P (1 - P); P is fitted to the b mu P dogs identified, with the variance that the expected
// information of the four histories gives; and T = A / P with the limits the survey tool gives.
// Blocks go where they lower the city's variance most (Var T_h = alpha_h / b + beta_h is convex in
// b, so adding one block at a time is exact), which also gives the curve of half-width against
// blocks counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "PlanCurve.h"
#include "SamplingFrame.h"
#include "SurveyReader.h"
#include "Totals.h"

namespace kestrum::survey {

// Each block is counted on three mornings; a team counts blocksPerDay blocks a morning.
inline constexpr double kCountsPerBlock = 3.0;
// Fewer than two blocks tell nothing of the spread between blocks.
inline constexpr std::uint64_t kLeastBlocksPerStratum = 2;

struct PlanStratum {
    std::string name;
    std::uint64_t frameBlocks = 0;
    double dogs = 0.0;   // expected dogs present in a block
    double dogsCv = 0.0; // their coefficient of variation between blocks
    double P = 0.0;
    double S = 0.0;
};

// A plan refused: figures it cannot plan with, or a goal that cannot be met with the strata given
// (a target beyond reach, a budget too small).
class PlanError : public std::runtime_error {
public:
    enum class Kind { Figures, Goal };
    PlanError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// What is wrong with a stratum's figures ("P is 1.2: it must lie strictly between 0 and 1"), or
// nothing.
std::string stratumProblem(const PlanStratum& stratum);

// The plan file: CSV with the columns stratum, blocks, dogs_per_block, dogs_cv, P and S, separated
// by ',', ';' (then with decimal commas) or tabs, whichever the header uses most. Throws
// InputError "<name>:<line>: ..." naming the stratum and the column for anything it cannot plan
// with.
std::vector<PlanStratum> readPlan(ByteSource& source, const std::string& name);

// The same figures from a pilot survey read as kestrum-estimate reads one: P and S from each
// stratum's shared fit, dogs per block the mean of count / P over the blocks with a count, and
// their coefficient of variation from the spread of count / P less the counts' binomial part (at
// least the Poisson's), blocks from the frame. Rows that are not blocks are left out and told in
// rowsLeftOut; a stratum the pilot cannot describe throws InputError naming it.
struct Pilot {
    std::vector<PlanStratum> strata;
    std::vector<std::string> rowsLeftOut; // "<name>:<line>: <reason>"
};
Pilot readPilot(ByteSource& survey, const std::string& name, const SamplingFrame& frame);

// [I^-1]_PP for one dog identified: the expected information of the four histories about (P, S),
// inverted. Var(P) of a fit to n dogs is this over n.
double pVariancePerDog(double P, double S);

// Half the width of the 95% limits in percent of the total; NaN without limits.
double halfWidthPct(const inference::Total& total);

struct StratumForecast {
    std::uint64_t blocks = 0;
    double identifiedPerBlock = 0.0; // mu P
    double seP = 0.0;
    inference::Total total; // T = B mu, its expected standard error and limits
};
StratumForecast forecastStratum(const PlanStratum& stratum, std::uint64_t blocks);

struct CurvePoint {
    std::uint64_t blocks = 0;
    // The stratum that the last block went to; none at the first point.
    std::size_t added = std::numeric_limits<std::size_t>::max();
    inference::Total city;
    double halfWidthPct = 0.0;
};

struct PlanGoal {
    std::optional<double> targetPct;     // the half-width wanted
    std::optional<std::uint64_t> blocks; // or the blocks the teams can count
    double blocksPerDay = 1.0;           // blocks one team counts in a morning
};

struct SurveyPlan {
    std::vector<PlanStratum> strata;
    PlanGoal goal;
    std::vector<StratumForecast> forecast; // at the plan, one per stratum
    inference::Total city;
    // From the least survey (2 blocks a stratum) to four times the plan's blocks, or every
    // block, whichever is fewer; each point one block more than the one before.
    std::vector<CurvePoint> curve;
    std::size_t chosen = 0; // the plan's point on the curve
    std::vector<std::string> notes;

    std::uint64_t blocks() const { return curve[chosen].blocks; }
    double halfWidthPct() const { return curve[chosen].halfWidthPct; }
    double teamDays(std::uint64_t blocks) const;
    // The blocks of each stratum at a point of the curve.
    std::vector<std::uint64_t> allocation(std::size_t point) const;
};

// The curve as the planner draws it (drawPlanCurve): the plan marked, the target when there is one.
PlanCurve planCurveOf(const SurveyPlan& plan);

// Throws PlanError for a stratum's figures that cannot be planned with (naming the stratum), a
// goal that is not a positive number, a target beyond reach even counting every block (saying
// what that gives) or a budget below two blocks a stratum.
SurveyPlan planSurvey(std::vector<PlanStratum> strata, const PlanGoal& goal);

// What surveys drawn under the plan achieve, run through the survey tool's own totals.
struct Achieved {
    std::uint64_t withLimits = 0; // surveys whose total has limits
    double medianHalfWidthPct = std::numeric_limits<double>::quiet_NaN();
    double coverage = std::numeric_limits<double>::quiet_NaN(); // limits holding the truth
    double coverageSe = std::numeric_limits<double>::quiet_NaN();
};

struct SimulatedPlan {
    std::uint64_t surveys = 0;
    std::vector<Achieved> strata;
    Achieved city;
    std::vector<std::string> notes;
};

// Each survey draws its city afresh from its own seed, made from seed and its number, so the
// result is the same for any number of threads.
SimulatedPlan simulatePlan(const SurveyPlan& plan, std::uint64_t surveys, std::uint64_t seed,
                           unsigned threads);

} // namespace kestrum::survey
