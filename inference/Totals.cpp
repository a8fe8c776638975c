#include "Totals.h"

#include <cmath>
#include <limits>

namespace kestrum::inference {

namespace {

// The 0.975 quantile of the standard normal.
constexpr double kZ975 = 1.959963984540054;

void logNormalLimits(Total& total)
{
    total.se = std::sqrt(total.variance);
    // No variance (all counts zero, or every block a census of itself): the total is exact, and
    // the formula's 0 / 0 must not turn it into NaN.
    const double c =
        total.variance == 0.0
            ? 1.0
            : std::exp(kZ975 * std::sqrt(std::log1p(total.variance / (total.total * total.total))));
    total.lower = total.total / c;
    total.upper = total.total * c;
}

} // namespace

LeftOut leftOut(std::optional<double> streetCount, const Fit& fit, const StandardErrors& errors)
{
    if (!streetCount) {
        return LeftOut::NoStreetCount;
    }
    if (fit.status != FitStatus::Estimated) {
        return LeftOut::NoUniqueP;
    }
    if (fit.onBound()) {
        return LeftOut::OnBound;
    }
    if (!errors.given()) {
        return LeftOut::NoStandardError;
    }
    return LeftOut::None;
}

std::string_view describe(LeftOut reason)
{
    switch (reason) {
    case LeftOut::None:
        break;
    case LeftOut::NoStreetCount:
        return "no street count";
    case LeftOut::NoUniqueP:
        return "no unique estimate of P";
    case LeftOut::OnBound:
        return "an estimate on a bound, so no standard error of P";
    case LeftOut::NoStandardError:
        return "no standard error of P";
    }
    return "";
}

BlockDogs blockDogs(double streetCount, double P, double seP)
{
    const double P2 = P * P;
    return {streetCount / P,
            streetCount * streetCount * seP * seP / (P2 * P2) + streetCount * (1.0 - P) / P2};
}

void StratumSample::add(const BlockDogs& block)
{
    ++used_;
    const double step = block.N - mean_;
    mean_ += step / static_cast<double>(used_);
    squares_ += step * (block.N - mean_);
    sumVariance_ += block.variance;
}

double StratumSample::spread() const
{
    return used_ < 2 ? std::numeric_limits<double>::quiet_NaN()
                     : squares_ / static_cast<double>(used_ - 1);
}

std::optional<double> Total::perBlock() const
{
    if (status == TotalStatus::NotGiven || frameBlocks == 0.0) {
        return std::nullopt;
    }
    return total / frameBlocks;
}

Total stratumTotal(double frameBlocks, const StratumSample& sample)
{
    Total result;
    result.frameBlocks = frameBlocks;
    const auto b = static_cast<double>(sample.used());
    const double B = frameBlocks;
    if (b == B) {
        // A census of the stratum (an empty one included): nothing is scaled up.
        result.status = TotalStatus::Given;
        result.total = sample.sumN();
        result.variance = sample.sumVariance();
        logNormalLimits(result);
        return result;
    }
    if (b == 0.0) {
        return result;
    }
    result.total = B / b * sample.sumN();
    if (b < 2.0) {
        result.status = TotalStatus::WithoutLimits;
        return result;
    }
    result.status = TotalStatus::Given;
    // B^2 (1 - b/B) written as B (B - b), which is exact in whole numbers.
    result.variance = B * (B - b) * sample.spread() / b + B / b * sample.sumVariance();
    logNormalLimits(result);
    return result;
}

Total cityTotal(std::span<const Total> strata)
{
    Total result;
    result.status = TotalStatus::Given;
    for (const Total& stratum : strata) {
        result.frameBlocks += stratum.frameBlocks;
        result.total += stratum.total;
        result.variance += stratum.variance;
        if (stratum.status == TotalStatus::NotGiven) {
            result.status = TotalStatus::NotGiven;
        } else if (stratum.status == TotalStatus::WithoutLimits &&
                   result.status == TotalStatus::Given) {
            result.status = TotalStatus::WithoutLimits;
        }
    }
    if (result.status == TotalStatus::NotGiven) {
        result.total = 0.0;
    }
    if (result.status != TotalStatus::Given) {
        result.variance = 0.0;
        return result;
    }
    logNormalLimits(result);
    return result;
}

} // namespace kestrum::inference
