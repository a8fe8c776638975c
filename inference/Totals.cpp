#include "Totals.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrum::inference {

namespace {

// The 0.975 quantile of the standard normal.
constexpr double kZ975 = 1.959963984540054;

} // namespace

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

namespace {

// The status of a sum of strata: no total when one has none, no limits when one has none.
Total summed(std::span<const Total> strata)
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
    }
    return result;
}

} // namespace

Total cityTotal(std::span<const Total> strata)
{
    Total result = summed(strata);
    if (result.status == TotalStatus::Given) {
        logNormalLimits(result);
    }
    return result;
}

bool sharedPLimits(const Analysis& analysis, SharedPLimits& limits)
{
    const double P = analysis.fit.P;
    limits.P = P;
    const ProfileInterval& interval = analysis.limitsP;
    if (!interval.given() || interval.lower.kind == LimitKind::NotGiven ||
        interval.upper.kind == LimitKind::NotGiven) {
        return false;
    }
    limits.lower = interval.lower.value;
    limits.upper = interval.upper.value;
    if (analysis.standardErrors.given()) {
        const double relative = analysis.standardErrors.seP / P;
        limits.logVariance = relative * relative;
    } else {
        const double wider =
            std::max(std::log(limits.upper / P), std::log(P / limits.lower)) / kZ975;
        limits.logVariance = wider * wider;
    }
    return true;
}

Total divideByP(const Total& expanded, const SharedPLimits& P)
{
    Total result = expanded;
    if (expanded.status == TotalStatus::NotGiven) {
        return result;
    }
    result.total = expanded.total / P.P;
    if (expanded.status != TotalStatus::Given) {
        return result;
    }
    const double T = result.total;
    result.variance = expanded.variance / (P.P * P.P) + T * T * P.logVariance;
    result.se = std::sqrt(result.variance);
    // A's own half-widths on the log scale, none when A is 0 (then so is every count, and T).
    const double down = expanded.total > 0.0 ? std::log(expanded.total / expanded.lower) : 0.0;
    const double up = expanded.total > 0.0 ? std::log(expanded.upper / expanded.total) : 0.0;
    // T's lower limit goes with P's upper one, and the other way round.
    const double pDown = std::log(P.upper / P.P);
    const double pUp = std::log(P.P / P.lower);
    result.lower = T * std::exp(-std::sqrt(down * down + pDown * pDown));
    result.upper = T * std::exp(std::sqrt(up * up + pUp * pUp));
    return result;
}

Total sumOfStrata(std::span<const Total> strata)
{
    Total result = summed(strata);
    if (result.status != TotalStatus::Given) {
        return result;
    }
    double below = 0.0;
    double above = 0.0;
    for (const Total& stratum : strata) {
        below += (stratum.total - stratum.lower) * (stratum.total - stratum.lower);
        above += (stratum.upper - stratum.total) * (stratum.upper - stratum.total);
    }
    result.se = std::sqrt(result.variance);
    result.lower = std::max(0.0, result.total - std::sqrt(below));
    result.upper = result.total + std::sqrt(above);
    return result;
}

} // namespace kestrum::inference
