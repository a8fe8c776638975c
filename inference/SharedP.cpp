#include "SharedP.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace kestrum::inference {

namespace {

// The first factor of the likelihood in a = S P: s successes in s + f trials.
struct FirstFactor {
    double s = 0.0;
    double t = 0.0;
};

FirstFactor firstFactor(const Counts& c)
{
    const double s = 2.0 * c.n111 + c.n110;
    return {s, s + c.n100 + c.n101 + c.n110};
}

} // namespace

double SharedP::spreadOfP() const
{
    return spread > 0.0 ? std::sqrt(spread) * P() / aPooled : 0.0;
}

SharedP sharedP(std::span<const std::span<const GroupBlock>> groups)
{
    SharedP shared;
    // The blocks that go into the fit: those with S estimated, or failing any, those holding S
    // at one common value (a fit with S held there). Blocks holding S at other values take the
    // shared P through their own a.
    std::int64_t freeSum[4] = {};
    std::int64_t heldSum[4] = {};
    std::size_t free = 0;
    std::size_t held = 0;
    double heldS = 0.0;
    bool oneHeldS = true;
    for (const auto group : groups) {
        for (const GroupBlock& b : group) {
            const std::int32_t n[4] = {b.counts.n100, b.counts.n111, b.counts.n101, b.counts.n110};
            if (b.counts.total() == 0.0) {
                continue;
            }
            std::int64_t* sum = b.sHeld == 0.0 ? freeSum : heldSum;
            for (int k = 0; k < 4; ++k) {
                sum[k] += n[k];
            }
            if (b.sHeld == 0.0) {
                ++free;
            } else {
                oneHeldS = oneHeldS && (held == 0 || b.sHeld == heldS);
                heldS = b.sHeld;
                ++held;
            }
        }
    }
    const bool byHeld = free == 0;
    if (free == 0 && held == 0) {
        shared.reason = "no dog was identified in any of its blocks, so P cannot be estimated";
        return shared;
    }
    if (byHeld && !oneHeldS) {
        shared.reason = "its blocks hold S at different values and none has S estimated, so they "
                        "share no P";
        return shared;
    }
    const std::int64_t* sum = byHeld ? heldSum : freeSum;
    if (std::any_of(sum, sum + 4,
                    [](std::int64_t n) { return n > std::numeric_limits<std::int32_t>::max(); })) {
        shared.reason = "a summed frequency exceeds 2147483647";
        return shared;
    }
    Problem problem;
    problem.counts = {static_cast<std::int32_t>(sum[0]), static_cast<std::int32_t>(sum[1]),
                      static_cast<std::int32_t>(sum[2]), static_cast<std::int32_t>(sum[3])};
    problem.sFree = !byHeld;
    problem.sFixed = byHeld ? heldS : 0.0;
    shared.analysis = analyse(problem);
    shared.blocksFitted = byHeld ? held : free;
    if (shared.analysis.fit.status != FitStatus::Estimated) {
        shared.reason = "S and P cannot be told apart in its summed histories";
        return shared;
    }

    // The first factors of the fit's blocks that identified a dog, which alone tell a spread.
    const auto eachFactor = [&groups, byHeld](const auto& use) {
        for (const auto group : groups) {
            for (const GroupBlock& b : group) {
                const FirstFactor x = firstFactor(b.counts);
                if ((b.sHeld != 0.0) == byHeld && x.t > 0.0) {
                    use(x);
                }
            }
        }
    };
    FirstFactor pooled;
    double squares = 0.0;
    eachFactor([&](const FirstFactor& x) {
        pooled.s += x.s;
        pooled.t += x.t;
        squares += x.t * x.t;
        ++shared.blocksSpread;
    });
    shared.aPooled = pooled.t > 0.0 ? pooled.s / pooled.t : 0.0;
    shared.aTarget = shared.aPooled;
    const double a = shared.aPooled;
    shared.aVariance = a * (1.0 - a);
    if (shared.blocksSpread < kSpreadMinimumBlocks || !(a > 0.0 && a < 1.0)) {
        return shared;
    }
    // DerSimonian and Laird's moment estimate: Q against its expectation without spread.
    double Q = 0.0;
    eachFactor([&](const FirstFactor& x) {
        const double d = x.s - a * x.t;
        Q += d * d / x.t;
    });
    const double expected = static_cast<double>(shared.blocksSpread - 1) * shared.aVariance;
    shared.spread = std::max(0.0, (Q - expected) / (pooled.t - squares / pooled.t));
    if (shared.spread == 0.0) {
        return shared;
    }
    // Shrunk towards the mean that weights each block by its precision, not by its trials: the
    // pooled a leans towards the blocks with high P.
    double weights = 0.0;
    double weighted = 0.0;
    eachFactor([&](const FirstFactor& x) {
        const double u = 1.0 / (shared.spread + shared.aVariance / x.t);
        weights += u;
        weighted += u * x.s / x.t;
    });
    shared.aTarget = weighted / weights;
    return shared;
}

BlockP blockP(const SharedP& shared, const GroupBlock& block)
{
    const double P = shared.P();
    if (shared.spread == 0.0) {
        return {P, 0.0};
    }
    // On the scale of P: the fit's blocks convert a to P as the shared fit does (P / a pooled);
    // a block holding S at another value converts by its own S.
    const bool fitScale = (block.sHeld == 0.0) == (shared.analysis.problem.sFree);
    const double scale = fitScale ? P / shared.aPooled : 1.0 / block.sHeld;
    const double target =
        fitScale ? shared.aTarget : block.sHeld * P * shared.aTarget / shared.aPooled;
    const FirstFactor x = firstFactor(block.counts);
    if (x.t == 0.0) {
        return {std::clamp(target * scale, kLowerBound, kUpperBound), 0.0};
    }
    const double sampling = shared.aVariance / x.t;
    const double w = shared.spread / (shared.spread + sampling);
    const double shrunk = w * x.s / x.t + (1.0 - w) * target;
    const double relative = w * w * sampling / (shrunk * shrunk);
    return {std::clamp(shrunk * scale * (1.0 + relative), kLowerBound, kUpperBound), relative};
}

} // namespace kestrum::inference
