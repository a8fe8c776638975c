// The dogs of a whole city from a sample of its blocks, drawn at random within strata: each
// block's N = count / P, scaled up stratum by stratum to the blocks the stratum holds, and summed.
//
// The variance of a stratum's total has two parts: the spread of N between the blocks sampled
// (the choice of blocks, with the finite-population correction) and each block's own variance
// (the uncertainty in P and the street count's binomial variation). The 95% limits are
// log-normal, so that they never fall below zero and widen upward as counts of animals do.
//
// With a P shared by the blocks (SharedP.h), the total is T = A / P: A sums the street counts,
// each scaled by the shared P over the block's own and expanded as above, and P's uncertainty is
// common to every block, so it enters once. A's log-normal limits and P's profile limits are
// joined on the log scale (the method of variance estimates recovered, MOVER), which keeps the
// skew of 1 / P; a city of strata with P of their own joins the strata's limits the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "Analysis.h"
#include "Fit.h"
#include "StandardErrors.h"

namespace kestrum::inference {

// Why a block's dogs cannot be counted into a total.
enum class LeftOut {
    None,
    NoStreetCount,
    NoUniqueP,       // no data, or S and P cannot be told apart
    OnBound,         // an estimate on 0.01 or 0.99: no standard error describes it
    NoStandardError, // the information at the estimate is not positive definite
};

LeftOut leftOut(std::optional<double> streetCount, const Fit& fit, const StandardErrors& errors);
std::string_view describe(LeftOut reason);

struct BlockDogs {
    double N = 0.0;
    double variance = 0.0;
};

// The delta method for P's uncertainty plus the count's binomial variation:
// V = C^2 SE(P)^2 / P^4 + C (1 - P) / P^2.
BlockDogs blockDogs(double streetCount, double P, double seP);

// The blocks of one stratum that go into its total, gathered one at a time so that memory stays
// flat however many there are.
class StratumSample {
public:
    void add(const BlockDogs& block);

    std::size_t used() const { return used_; }
    double sumN() const { return mean_ * static_cast<double>(used_); }
    double sumVariance() const { return sumVariance_; }
    // The sample variance of N (denominator used - 1); NaN with fewer than two blocks.
    double spread() const;

private:
    // Welford's update: the sum of squares about the mean without the cancellation of
    // sum(N^2) - (sum N)^2 / b when the blocks hold many dogs each.
    std::size_t used_ = 0;
    double mean_ = 0.0;
    double squares_ = 0.0;
    double sumVariance_ = 0.0;
};

enum class TotalStatus {
    Given,         // total, standard error and limits
    WithoutLimits, // fewer than two blocks used where the spread between blocks matters
    NotGiven,      // no block used in a stratum that holds some
};

struct Total {
    TotalStatus status = TotalStatus::NotGiven;
    double frameBlocks = 0.0;
    double total = 0.0;    // with status Given or WithoutLimits
    double variance = 0.0; // the rest only with status Given
    double se = 0.0;
    double lower = 0.0;
    double upper = 0.0;

    // Dogs per block of the frame; none for a frame of no blocks or without a total.
    std::optional<double> perBlock() const;
};

// frameBlocks: the blocks the stratum holds, at least sample.used(). When every block of the
// stratum is used the choice of blocks adds nothing, so even a single block gives limits.
Total stratumTotal(double frameBlocks, const StratumSample& sample);

// The standard error and the 95% log-normal limits T / c and T c, c = exp(z sqrt(ln(1 + V / T^2))),
// from total and variance.
void logNormalLimits(Total& total);

// The sum over strata: no total when a stratum has none, no limits when a stratum has none.
// Log-normal limits from the summed variance.
Total cityTotal(std::span<const Total> strata);

// P as the totals see it: the estimate, its 95% profile limits (a bound where the limit lies beyond
// it) and the variance of ln P for the standard error: from the observed information where it is
// given, else from the wider side of the profile limits.
struct SharedPLimits {
    double P = 0.0;
    double lower = 0.0;
    double upper = 0.0;
    double logVariance = 0.0;
};
// False when the analysis gives neither a standard error nor profile limits of P.
bool sharedPLimits(const Analysis& analysis, SharedPLimits& limits);

// T = A / P from the expanded counts A (a Total of stratumTotal or cityTotal over the blocks'
// count x shared P / own P) and the shared P: total, standard error (delta method) and limits.
Total divideByP(const Total& expanded, const SharedPLimits& P);

// The sum of strata with P of their own, limits joined as independent: T - sqrt(sum (T_h - L_h)^2)
// and T + sqrt(sum (U_h - T_h)^2).
Total sumOfStrata(std::span<const Total> strata);

} // namespace kestrum::inference
