#include <gtest/gtest.h>

#include <cmath>

#include "Fit.h"
#include "Profile.h"

namespace kestrum::inference {
namespace {

// The profile by brute force: the other parameter over a 0.001 grid, then a 1e-6 grid near the best.
double bruteProfile(const Problem& problem, Parameter parameter, double x)
{
    const Counts& c = problem.counts;
    if (!problem.sFree) {
        return logLikelihood(c, x, problem.sFixed);
    }
    const auto at = [&](double y) {
        return parameter == Parameter::P ? logLikelihood(c, x, y) : logLikelihood(c, y, x);
    };
    double bestY = 0.01;
    double best = -HUGE_VAL;
    for (int i = 0; i <= 980; ++i) {
        const double y = 0.01 + i * 1e-3;
        if (at(y) > best) {
            best = at(y);
            bestY = y;
        }
    }
    const double centre = bestY;
    for (int i = -1000; i <= 1000; ++i) {
        const double y = std::clamp(centre + i * 1e-6, 0.01, 0.99);
        best = std::max(best, at(y));
    }
    return best;
}

// The outermost value on one side where the brute-force profile crosses the line, found by
// stepping out from the estimate and bisecting the last step that fell below it.
Limit bruteLimit(const Problem& problem, Parameter parameter, double estimate, double maximum,
                 double direction)
{
    const double line = maximum - kProfileDrop;
    const double bound = direction > 0 ? 0.99 : 0.01;
    if (bruteProfile(problem, parameter, bound) > line) {
        return {direction > 0 ? LimitKind::AboveRange : LimitKind::BelowRange, bound};
    }
    double inside = estimate;
    double outside = bound;
    double previous = estimate;
    bool previousAbove = true;
    for (double x = estimate + direction * 2e-3; (bound - x) * direction > 0; x += direction * 2e-3) {
        const bool above = bruteProfile(problem, parameter, x) >= line;
        if (previousAbove && !above) {
            inside = previous;
            outside = x;
        }
        previous = x;
        previousAbove = above;
    }
    if (previousAbove) {
        inside = previous;
        outside = bound;
    }
    for (int i = 0; i < 40; ++i) {
        const double middle = 0.5 * (inside + outside);
        (bruteProfile(problem, parameter, middle) >= line ? inside : outside) = middle;
    }
    return {LimitKind::Found, 0.5 * (inside + outside)};
}

void expectSameLimit(const Limit& mine, const Limit& brute)
{
    EXPECT_EQ(mine.kind, brute.kind);
    EXPECT_NEAR(mine.value, brute.value, 1e-6);
}

TEST(InferenceProfile, LimitsMatchABruteForceProfile)
{
    const Problem problems[] = {
        {{10, 20, 5, 7}, true},         // interior
        {{50, 20, 10, 20}, true},       // interior
        {{30, 30, 30, 30}, true},       // S on its upper bound
        {{10, 20, 5, 7}, false, 0.9},   // S fixed
        {{0, 9, 0, 4}, true},           // S and P not identifiable: a flat ridge
        // S fixed where the likelihood in P dips below the line and rises above it again, once
        // with the outer part closed and once running past the bound.
        {{105, 131, 1, 12}, false, 0.9105},
        {{88, 91, 0, 11}, false, 0.8885},
    };
    for (const Problem& problem : problems) {
        const Fit f = fit(problem);
        for (const Parameter parameter : {Parameter::P, Parameter::S}) {
            if (parameter == Parameter::S && !problem.sFree) {
                continue;
            }
            SCOPED_TRACE(testing::Message()
                         << problem.counts.n100 << "," << problem.counts.n111 << ","
                         << problem.counts.n101 << "," << problem.counts.n110 << " S free "
                         << problem.sFree << " profile of " << parameterName(parameter));
            const double estimate = parameter == Parameter::P ? f.P : f.S;
            const ProfileInterval mine = profileLimits(problem, f, parameter);
            ASSERT_TRUE(mine.given());
            expectSameLimit(mine.lower, bruteLimit(problem, parameter, estimate, f.logLikelihood, -1));
            expectSameLimit(mine.upper, bruteLimit(problem, parameter, estimate, f.logLikelihood, +1));
            for (const Limit* limit : {&mine.lower, &mine.upper}) {
                if (limit->kind == LimitKind::Found) {
                    EXPECT_NEAR(*profileLogLikelihood(problem, parameter, limit->value),
                                f.logLikelihood - 1.9207294103470, 1e-8);
                }
            }
        }
    }
}

TEST(InferenceProfile, ReportsAGapInsideTheLimits)
{
    const Problem closed{{105, 131, 1, 12}, false, 0.9105};
    const ProfileInterval inner = profileLimits(closed, fit(closed), Parameter::P);
    EXPECT_TRUE(inner.gap);
    EXPECT_EQ(inner.upper.kind, LimitKind::Found);

    const Problem open{{88, 91, 0, 11}, false, 0.8885};
    const ProfileInterval outer = profileLimits(open, fit(open), Parameter::P);
    EXPECT_TRUE(outer.gap);
    EXPECT_EQ(limitText(outer.upper), "above 0.99");

    const Problem plain{{10, 20, 5, 7}, true};
    EXPECT_FALSE(profileLimits(plain, fit(plain), Parameter::S).gap);
}

TEST(InferenceProfile, LimitsBeyondTheBoundsAreOpen)
{
    const Problem onBound{{30, 30, 30, 30}, true};
    const ProfileInterval s = profileLimits(onBound, fit(onBound), Parameter::S);
    EXPECT_EQ(s.lower.kind, LimitKind::Found);
    EXPECT_EQ(s.upper.kind, LimitKind::AboveRange);
    EXPECT_EQ(limitText(s.upper), "above 0.99");

    const Problem lost{{10, 0, 0, 0}, true};
    const ProfileInterval p = profileLimits(lost, fit(lost), Parameter::P);
    EXPECT_EQ(limitText(p.lower), "below 0.01");
    EXPECT_TRUE(p.lower.open());
    EXPECT_EQ(limitText(p.upper), "above 0.99");

    EXPECT_EQ(limitText({LimitKind::Found, 0.123456789}), "0.1235");
    EXPECT_EQ(limitText({LimitKind::Found, 0.123456789}, 6), "0.123457");
}

TEST(InferenceProfile, AFixedSHasNoProfileAndNoLimits)
{
    const Problem fixed{{10, 20, 5, 7}, false, 0.9, Parameter::S};
    const Fit f = fit(fixed);
    const ProfileInterval s = profileLimits(fixed, f, Parameter::S);
    EXPECT_FALSE(s.given());
    EXPECT_EQ(s.lower.kind, LimitKind::NotGiven);
    EXPECT_FALSE(profileLogLikelihood(fixed, Parameter::S, 0.5).has_value());
    // The profile of P at a fixed S is the likelihood itself.
    EXPECT_EQ(*profileLogLikelihood(fixed, Parameter::P, 0.7),
              logLikelihood(fixed.counts, 0.7, 0.9));

    const Problem none{{0, 0, 0, 0}, true};
    EXPECT_FALSE(profileLimits(none, fit(none), Parameter::P).given());
    EXPECT_FALSE(profileLogLikelihood({{1, -1, 0, 0}, true}, Parameter::P, 0.5).has_value());
    EXPECT_FALSE(profileLogLikelihood({{1, 1, 0, 0}, true}, Parameter::P, 1.0).has_value());
}

} // namespace
} // namespace kestrum::inference
