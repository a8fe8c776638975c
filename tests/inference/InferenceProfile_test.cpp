// Profile limits against a brute-force profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "Fit.h"
#include "Profile.h"

namespace kestrum::inference {
namespace {

// The profile by brute force: the other parameter on a 0.001 grid, then a 1e-6 one near the best.
double bruteProfile(const Problem& problem, Parameter parameter, double x)
{
    if (!problem.sFree) {
        return logLikelihood(problem.counts, x, problem.sFixed);
    }
    const auto at = [&](double y) {
        return parameter == Parameter::P ? logLikelihood(problem.counts, x, y)
                                         : logLikelihood(problem.counts, y, x);
    };
    double bestY = 0.01;
    for (int i = 0; i <= 980; ++i) {
        bestY = at(0.01 + i * 1e-3) > at(bestY) ? 0.01 + i * 1e-3 : bestY;
    }
    double best = at(bestY);
    for (int i = -1000; i <= 1000; ++i) {
        best = std::max(best, at(std::clamp(bestY + i * 1e-6, 0.01, 0.99)));
    }
    return best;
}

// The outermost value on one side where the brute-force profile crosses the line: step out from
// the estimate, keep the last step that fell below it, and bisect.
Limit bruteLimit(const Problem& problem, Parameter parameter, double estimate, double line,
                 int side)
{
    const double bound = side > 0 ? 0.99 : 0.01;
    const auto above = [&](double x) { return bruteProfile(problem, parameter, x) >= line; };
    if (above(bound)) {
        return {side > 0 ? LimitKind::AboveRange : LimitKind::BelowRange, bound};
    }
    double inside = estimate;
    double outside = bound;
    for (double x = estimate + side * 2e-3; (bound - x) * side > 0; x += side * 2e-3) {
        if (above(x)) {
            inside = x;
            outside = std::clamp(x + side * 2e-3, 0.01, 0.99);
        }
    }
    for (int i = 0; i < 40; ++i) {
        const double middle = 0.5 * (inside + outside);
        (above(middle) ? inside : outside) = middle;
    }
    return {LimitKind::Found, 0.5 * (inside + outside)};
}

// Closed limits on the line 1.92 below the maximum, open ones where the profile stays above it at
// a bound, and the gap where it dips below the line and rises above it again.
TEST(InferenceProfile, LimitsMatchABruteForceProfile)
{
    const struct {
        Problem problem;
        bool gap;
    } cases[] = {
        {{{10, 20, 5, 7}, true}, false},            // interior
        {{{167, 78, 64, 88}, true}, false},         // a larger block
        {{{30, 30, 30, 30}, true}, false},          // S on its upper bound
        {{{10, 0, 0, 0}, true}, false},             // open on both sides
        {{{4, 2, 0, 0}, true}, false},              // the best P jumps along the profile of S
        {{{3, 200, 2, 0}, true}, false},            // near the upper bounds
        {{{10, 20, 5, 7}, false, 0.9}, false},      // S fixed
        {{{0, 9, 0, 4}, true}, false},              // not identifiable: a flat ridge
        {{{82, 47, 1, 2}, false, 0.7586}, false},   // S fixed, two peaks in P
        {{{105, 131, 1, 12}, false, 0.9105}, true}, // the outer part closed
        {{{88, 91, 0, 11}, false, 0.8885}, true},   // the outer part past the bound
    };
    for (const auto& [problem, gap] : cases) {
        const Fit f = fit(problem);
        for (const Parameter parameter : {Parameter::P, Parameter::S}) {
            if (parameter == Parameter::S && !problem.sFree) {
                continue;
            }
            const Counts& c = problem.counts;
            SCOPED_TRACE(testing::Message() << c.n100 << "," << c.n111 << "," << c.n101 << ","
                                            << c.n110 << " of " << parameterName(parameter));
            const double estimate = parameter == Parameter::P ? f.P : f.S;
            const double line = f.logLikelihood - 1.9207294103470;
            const ProfileInterval mine = profileLimits(problem, f, parameter);
            ASSERT_TRUE(mine.given());
            EXPECT_EQ(mine.gap, gap);
            for (const int side : {-1, 1}) {
                const Limit limit = side < 0 ? mine.lower : mine.upper;
                const Limit brute = bruteLimit(problem, parameter, estimate, line, side);
                EXPECT_EQ(limit.kind, brute.kind) << side;
                EXPECT_NEAR(limit.value, brute.value, 1e-6) << side;
                if (limit.kind == LimitKind::Found) {
                    EXPECT_NEAR(*profileLogLikelihood(problem, parameter, limit.value), line, 1e-8);
                }
            }
        }
    }
    EXPECT_EQ(limitText({LimitKind::BelowRange, 0.01}), "below 0.01");
    EXPECT_EQ(limitText({LimitKind::Found, 0.123456789}, 6), "0.123457");
    // A fixed S has neither profile nor limits; its profile of P is the likelihood itself.
    const Problem held{{10, 20, 5, 7}, false, 0.9};
    EXPECT_FALSE(profileLimits(held, fit(held), Parameter::S).given());
    EXPECT_FALSE(profileLogLikelihood(held, Parameter::S, 0.5).has_value());
    EXPECT_EQ(profileLogLikelihood(held, Parameter::P, 0.7), logLikelihood(held.counts, 0.7, 0.9));
    EXPECT_FALSE(profileLogLikelihood({{1, -1, 0, 0}, true}, Parameter::P, 0.5).has_value());
    EXPECT_FALSE(profileLimits({{}, true}, fit({{}, true}), Parameter::P).given());
}

} // namespace
} // namespace kestrum::inference
