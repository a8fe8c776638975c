#include "PooledFit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "FitCheck.h"

namespace kestrum::survey {

namespace {

constexpr double kStart = 0.9;       // the window's starting S and P
constexpr int kParametersPerFit = 2; // P and S

} // namespace

void PooledFit::add(const inference::Counts& counts, bool sFree, const inference::Fit& fit)
{
    if (!sFree) {
        ++fixedSBlocks_;
        return;
    }
    if (!fit.hasEstimates()) {
        return;
    }
    ++blocks_;
    if (fit.onBound() || fit.status == inference::FitStatus::NotIdentifiable) {
        ++roughBlocks_;
    }
    const std::int32_t n[4] = {counts.n100, counts.n111, counts.n101, counts.n110};
    for (std::size_t k = 0; k < 4; ++k) {
        summed_[k] += n[k];
    }
    // Neumaier's summation: the exact maximum of each block, not the library's, so that a search
    // stopped short cannot make "separate" look worse than it is.
    const double x = fit.logLikelihood;
    const double t = sum_ + x;
    compensation_ += std::abs(sum_) >= std::abs(x) ? (sum_ - t) + x : (x - t) + sum_;
    sum_ = t;
}

PooledResult PooledFit::finish(inference::Parameter profiled, KestrumN_E04JYF N_E04JYF) const
{
    PooledResult result;
    result.blocks = blocks_;
    result.fixedSBlocks = fixedSBlocks_;
    std::copy(std::begin(summed_), std::end(summed_), std::begin(result.summed));
    result.comparison.roughBlocks = roughBlocks_;
    if (blocks_ == 0) {
        result.reason = "no block with S estimated was fitted";
        result.comparison.reason = result.reason;
        return result;
    }
    constexpr auto largest = std::numeric_limits<std::int32_t>::max();
    if (std::any_of(std::begin(summed_), std::end(summed_),
                    [](std::int64_t n) { return n > largest; })) {
        result.reason = "a summed frequency exceeds 2147483647, the most the library takes";
        result.comparison.reason = result.reason;
        return result;
    }

    EstimateInputs inputs;
    inputs.S = kStart;
    inputs.P = kStart;
    for (std::size_t k = 0; k < 4; ++k) {
        inputs.frequencies(k + 1) = static_cast<std::int32_t>(summed_[k]);
    }
    if (N_E04JYF != nullptr) {
        result.fit = estimateBlock(inputs, true, profiled, N_E04JYF);
    } else {
        BlockAnalysis exact;
        exact.analysis = inference::analyse({{inputs.frequencies(1), inputs.frequencies(2),
                                               inputs.frequencies(3), inputs.frequencies(4)},
                                              true,
                                              0.0,
                                              profiled});
        exact.warnings = inference::collectWarnings(exact.analysis);
        exact.S = exact.analysis.fit.S;
        exact.P = exact.analysis.fit.P;
        exact.logLikelihood = exact.analysis.fit.logLikelihood;
        exact.IFAIL = KESTRUM_IFAIL_CONVERGED;
        result.fit = exact;
    }

    result.comparison = compare(result.fit->analysis.fit.logLikelihood);
    return result;
}

PooledComparison PooledFit::compare() const
{
    constexpr auto largest = std::numeric_limits<std::int32_t>::max();
    if (blocks_ < 2 || std::any_of(std::begin(summed_), std::end(summed_),
                                   [](std::int64_t n) { return n > largest; })) {
        return compare(0.0); // tells why there is none
    }
    inference::Problem problem;
    problem.counts = {static_cast<std::int32_t>(summed_[0]), static_cast<std::int32_t>(summed_[1]),
                      static_cast<std::int32_t>(summed_[2]), static_cast<std::int32_t>(summed_[3])};
    return compare(inference::fit(problem).logLikelihood);
}

PooledComparison PooledFit::compare(double sharedLogLikelihood) const
{
    PooledComparison c;
    c.roughBlocks = roughBlocks_;
    if (blocks_ < 2) {
        c.reason = "it needs at least two blocks with S estimated";
        return c;
    }
    if (std::any_of(std::begin(summed_), std::end(summed_),
                    [](std::int64_t n) { return n > std::numeric_limits<std::int32_t>::max(); })) {
        c.reason = "a summed frequency exceeds 2147483647";
        return c;
    }
    c.separateLogLikelihood = sum_ + compensation_;
    c.sharedLogLikelihood = sharedLogLikelihood;
    // The separate maxima can never sum to less than the shared one; a negative difference is
    // rounding.
    c.lr = std::max(0.0, 2.0 * (c.separateLogLikelihood - c.sharedLogLikelihood));
    c.df = kParametersPerFit * static_cast<int>(blocks_ - 1);
    c.p = inference::chiSquareSurvival(c.lr, c.df);
    c.aicShared = -2.0 * c.sharedLogLikelihood + 2.0 * kParametersPerFit;
    c.aicSeparate =
        -2.0 * c.separateLogLikelihood + 2.0 * kParametersPerFit * static_cast<double>(blocks_);
    return c;
}

} // namespace kestrum::survey
