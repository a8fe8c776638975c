#include "Coverage.h"

#include <algorithm>

#include <boost/math/distributions/students_t.hpp>

namespace kestrum::inference {

namespace {

// The 0.975 quantile of the standard normal.
constexpr double kZ975 = 1.959963984540054;

// Wilson's interval for a share estimated from n dogs (n need not be whole).
Share wilsonOn(double share, double n)
{
    const double z2 = kZ975 * kZ975;
    const double shrink = 1.0 + z2 / n;
    const double centre = (share + z2 / (2.0 * n)) / shrink;
    const double half = kZ975 / shrink * std::sqrt(share * (1.0 - share) / n + z2 / (4.0 * n * n));
    // At a share of 0 or 1 one limit is the share itself; rounding must not push it past.
    return {share, std::clamp(centre - half, 0.0, share), std::clamp(centre + half, share, 1.0)};
}

} // namespace

Share wilson(double marked, double identified)
{
    if (!(identified > 0.0)) {
        return {};
    }
    return wilsonOn(marked / identified, identified);
}

void CoverageSample::add(double dogs, double dogsVariance, double marked, double identified)
{
    const double c = marked / identified;
    const double y = dogs * c;
    ++blocks_;
    x_ += dogs;
    y_ += y;
    xx_ += dogs * dogs;
    xy_ += dogs * y;
    yy_ += y * y;
    identified_ += identified;
    // The dogs identified are drawn from the block's dogs without replacement: (1 - n / x) c (1 -
    // c) / (n - 1) is unbiased for the variance of c as the share of them all. One dog says nothing
    // of it, and takes the largest a share can have.
    const double drawn = std::clamp(1.0 - identified / dogs, 0.0, 1.0);
    const double variance = identified >= 2.0 ? drawn * c * (1.0 - c) / (identified - 1.0) : 0.25;
    within_ += dogs * dogs * variance;
    // The weight's own noise moves d = x (c - R) by (c - R) times it: kept as sums over the
    // powers of c, since R is known only at the end.
    weight_ += dogsVariance;
    weightC_ += dogsVariance * c;
    weightCC_ += dogsVariance * c * c;
}

double CoverageSample::within(double R) const
{
    return within_ + weightCC_ - 2.0 * R * weightC_ + R * R * weight_;
}

double CoverageSample::squaresAbout(double R) const
{
    if (blocks_ == 0) {
        return 0.0;
    }
    const double sum = y_ - R * x_;
    const double squares = yy_ - 2.0 * R * xy_ + R * R * xx_;
    return std::max(0.0, squares - sum * sum / static_cast<double>(blocks_));
}

Coverage coverage(std::span<const CoverageStratum> strata)
{
    Coverage result;
    double X = 0.0;
    double Y = 0.0;
    double identified = 0.0;
    for (const CoverageStratum& stratum : strata) {
        const auto b = static_cast<double>(stratum.sample->blocks());
        if (stratum.frameBlocks == 0.0) {
            continue;
        }
        if (b == 0.0) {
            return result;
        }
        const double w = std::isinf(stratum.frameBlocks) ? 1.0 : stratum.frameBlocks / b;
        X += w * stratum.sample->dogs();
        Y += w * stratum.sample->markedDogs();
        identified += stratum.sample->identified();
        result.blocks += stratum.sample->blocks();
    }
    if (!(X > 0.0)) {
        return result;
    }
    const double R = Y / X;
    result.share = R;
    result.status = CoverageStatus::Given;
    double variance = 0.0;
    for (const CoverageStratum& stratum : strata) {
        const double B = stratum.frameBlocks;
        const auto b = static_cast<double>(stratum.sample->blocks());
        if (B == 0.0) {
            continue;
        }
        const bool infinite = std::isinf(B);
        const double w = infinite ? 1.0 : B / b;
        const double f = infinite ? 0.0 : b / B;
        if (f < 1.0) {
            if (b < 2.0) {
                result.status = CoverageStatus::WithoutLimits;
                continue;
            }
            // The choice of blocks: the spread of d = y - R x about the stratum's mean.
            variance += w * w * b * (1.0 - f) * stratum.sample->squaresAbout(R) / (b - 1.0);
            result.degreesOfFreedom += b - 1.0;
        }
        // Each block's own variation (its share's and its weight's), which the spread holds
        // already where blocks are too many to count.
        if (!infinite) {
            variance += w * stratum.sample->within(R);
        }
    }
    if (result.status != CoverageStatus::Given) {
        return result;
    }
    variance /= X * X;
    result.se = std::sqrt(variance);
    // As many dogs as the variance is worth (more than were identified where many of a block's
    // dogs were); all those identified where the variance says nothing, at a share of 0 or 1.
    double n = variance > 0.0 && R > 0.0 && R < 1.0 ? R * (1.0 - R) / variance : identified;
    if (result.degreesOfFreedom > 0.0) {
        const double t = boost::math::quantile(
            boost::math::students_t_distribution<double>(result.degreesOfFreedom), 0.975);
        n *= (kZ975 / t) * (kZ975 / t);
    }
    result.effectiveDogs = n;
    const Share limits = wilsonOn(R, n);
    result.lower = limits.lower;
    result.upper = limits.upper;
    return result;
}

} // namespace kestrum::inference
