#include "PooledFit.h"

#include <algorithm>
#include <cmath>
#include <limits>


namespace kestrum::survey {

namespace {

constexpr double kStart = 0.9;       // the window's starting S and P
constexpr int kParametersPerFit = 2; // P and S

constexpr double kTolerance = 1e-15;
constexpr int kMostTerms = 1000000;

// The regularised lower incomplete gamma P(a, x) by its series, for x < a + 1.
double lowerGammaSeries(double a, double x, double logFactor)
{
    double term = 1.0 / a;
    double sum = term;
    for (int n = 1; n < kMostTerms; ++n) {
        term *= x / (a + n);
        sum += term;
        if (std::abs(term) < std::abs(sum) * kTolerance) {
            break;
        }
    }
    return sum * std::exp(logFactor);
}

// The regularised upper incomplete gamma Q(a, x) by its continued fraction (modified Lentz), for
// x >= a + 1.
double upperGammaFraction(double a, double x, double logFactor)
{
    constexpr double tiny = 1e-300;
    double b = x + 1.0 - a;
    double c = 1.0 / tiny;
    double d = 1.0 / b;
    double h = d;
    for (int n = 1; n < kMostTerms; ++n) {
        const double an = -n * (n - a);
        b += 2.0;
        d = an * d + b;
        d = std::abs(d) < tiny ? tiny : d;
        c = b + an / c;
        c = std::abs(c) < tiny ? tiny : c;
        d = 1.0 / d;
        const double step = d * c;
        h *= step;
        if (std::abs(step - 1.0) < kTolerance) {
            break;
        }
    }
    return std::exp(logFactor) * h;
}

} // namespace

double chiSquareTail(double x, int df)
{
    if (df < 1 || std::isnan(x)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (x <= 0.0) {
        return 1.0;
    }
    const double a = 0.5 * df;
    const double h = 0.5 * x;
    // x^a e^-x / Gamma(a), whose parts alone overflow and underflow for large a.
    const double logFactor = a * std::log(h) - h - std::lgamma(a);
    if (h < a + 1.0) {
        return std::clamp(1.0 - lowerGammaSeries(a, h, logFactor), 0.0, 1.0);
    }
    return std::clamp(upperGammaFraction(a, h, logFactor), 0.0, 1.0);
}

void PooledFit::add(const inference::Counts& counts, bool sFree, const BlockAnalysis& block)
{
    if (!sFree) {
        ++fixedSBlocks_;
        return;
    }
    const inference::Fit& fit = block.analysis.fit;
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
    const auto largest = std::numeric_limits<std::int32_t>::max();
    if (std::any_of(std::begin(summed_), std::end(summed_),
                    [largest](std::int64_t n) { return n > largest; })) {
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
    result.fit = estimateBlock(inputs, true, profiled, N_E04JYF);

    PooledComparison& c = result.comparison;
    if (blocks_ < 2) {
        c.reason = "it needs at least two blocks with S estimated";
        return result;
    }
    c.separateLogLikelihood = sum_ + compensation_;
    c.sharedLogLikelihood = result.fit->analysis.fit.logLikelihood;
    // The separate maxima can never sum to less than the shared one; a negative difference is
    // rounding.
    c.lr = std::max(0.0, 2.0 * (c.separateLogLikelihood - c.sharedLogLikelihood));
    c.df = kParametersPerFit * static_cast<int>(blocks_ - 1);
    c.p = chiSquareTail(c.lr, c.df);
    c.aicShared = -2.0 * c.sharedLogLikelihood + 2.0 * kParametersPerFit;
    c.aicSeparate = -2.0 * c.separateLogLikelihood +
                    2.0 * kParametersPerFit * static_cast<double>(blocks_);
    return result;
}

} // namespace kestrum::survey
