// Standard errors, the fit check, the population and the warnings against closed forms, finite
// differences and tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "Analysis.h"
#include "Population.h"
#include "Warnings.h"

namespace kestrum::inference {
namespace {

// With a = SP the likelihood is a binomial in a times one in r = a(S - a)/(1 - a), each with the
// textbook variance; the delta method carries them to (S, P).
TEST(InferenceStatistics, StandardErrorsMatchTheTwoBinomials)
{
    for (const Counts& c : {Counts{10, 20, 5, 7}, Counts{200, 150, 60, 90}}) {
        const Fit f = fit({c, true});
        const double nA = 2.0 * c.n111 + c.n110 + c.n100 + c.n101 + c.n110;
        const double nR = static_cast<double>(c.n100) + c.n101;
        const double a = (2.0 * c.n111 + c.n110) / nA;
        const double r = c.n101 / nR;
        const double varA = a * (1 - a) / nA;
        const double varR = r * (1 - r) / nR;
        const double S = a + r * (1 - a) / a;
        const double dSda = 1 - r / (a * a);
        const double dSdr = (1 - a) / a;
        const double dPda = 1 / S - a / (S * S) * dSda;
        const double dPdr = -a / (S * S) * dSdr;
        const StandardErrors se = standardErrors(c, f);
        ASSERT_TRUE(se.given());
        EXPECT_NEAR(se.seS * se.seS, dSda * dSda * varA + dSdr * dSdr * varR, 1e-9 * varA);
        EXPECT_NEAR(se.seP * se.seP, dPda * dPda * varA + dPdr * dPdr * varR, 1e-9 * varA);
        EXPECT_NEAR(se.covariancePS, dSda * dPda * varA + dSdr * dPdr * varR, 1e-9 * varA);
        EXPECT_NEAR(se.waldP.lower, f.P - 1.959964 * se.seP, 1e-6 * se.seP);
        EXPECT_NEAR(se.waldS.upper, f.S + 1.959964 * se.seS, 1e-6 * se.seS);
    }
    // With S fixed, from the curvature in P alone; none on a bound, on a ridge or without data.
    const Counts c{10, 20, 5, 7};
    const Fit fixed = fit({c, false, 0.9});
    const auto l = [&](double dp) { return logLikelihood(c, fixed.P + dp, 0.9); };
    EXPECT_NEAR(standardErrors(c, fixed).seP,
                1 / std::sqrt(-(l(1e-4) - 2 * l(0) + l(-1e-4)) / 1e-8), 1e-6);
    for (const Counts& none : {Counts{30, 30, 30, 30}, Counts{0, 9, 0, 4}, Counts{}}) {
        EXPECT_FALSE(standardErrors(none, fit({none, true})).given()) << none.n100;
    }
}

TEST(InferenceStatistics, ChiSquareSurvivalMatchesTables)
{
    const struct {
        double x;
        int df;
        double p;
    } table[] = {
        {3.841458820694124, 1, 0.05}, {1.0, 1, 0.3173105078629141},  {5.991464547107979, 2, 0.05},
        {7.814727903251178, 3, 0.05}, {18.30703805327515, 10, 0.05}, {0.0, 3, 1.0},
    };
    for (const auto& row : table) {
        EXPECT_NEAR(chiSquareSurvival(row.x, row.df), row.p, 1e-12) << row.x << " df " << row.df;
    }
    EXPECT_TRUE(std::isnan(chiSquareSurvival(1.0, 0)));
    // A survey of 100,000 blocks compares on 199,998 degrees of freedom: close to normal there.
    EXPECT_NEAR(chiSquareSurvival(199998 + 3 * std::sqrt(2.0 * 199998), 199998), 0.00135, 1e-4);
}

TEST(InferenceStatistics, FitCheckAgreesWithTheLikelihood)
{
    for (const Problem& problem :
         {Problem{{10, 20, 5, 7}, true}, Problem{{1000, 3, 2, 1}, false, 0.9}}) {
        const Counts& c = problem.counts;
        const Fit f = fit(problem);
        const FitCheck check = fitCheck(c, f);
        ASSERT_TRUE(check.given());
        EXPECT_EQ(check.df, problem.sFree ? 1 : 2);
        const double n = c.total();
        const double P = f.P;
        const double S = f.S;
        const std::array<double, 4> seen{1.0 * c.n100, 1.0 * c.n111, 1.0 * c.n101, 1.0 * c.n110};
        const std::array<double, 4> expected{n * (1 - S * P - S * S * P + S * S * P * P),
                                             n * S * S * P * P, n * S * S * P * (1 - P),
                                             n * S * P * (1 - S * P)};
        double saturated = 0.0;
        double x2 = 0.0;
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_NEAR(check.expected[i], expected[i], 1e-9 * n);
            saturated += seen[i] > 0 ? seen[i] * std::log(seen[i] / n) : 0.0;
            x2 += (seen[i] - expected[i]) * (seen[i] - expected[i]) / expected[i];
        }
        // G2 is twice the fall of the log likelihood from the saturated model's.
        EXPECT_NEAR(check.g2, 2 * (saturated - f.logLikelihood), 1e-9 * std::max(1.0, check.g2));
        EXPECT_NEAR(check.x2, x2, 1e-9 * std::max(1.0, x2));
        EXPECT_TRUE(check.pG2 == chiSquareSurvival(check.g2, check.df) &&
                    check.pX2 == chiSquareSurvival(check.x2, check.df));
        EXPECT_EQ(check.lowExpected, *std::min_element(expected.begin(), expected.end()) < 2.0);
    }
    EXPECT_FALSE(fitCheck({}, fit({{}, true})).given());
}

// With hundreds of millions of dogs the model's frequencies agree with the counts to eight digits
// or more: G2 and X2 are then tiny, and must keep their digits. References at the exact maximum,
// computed in rational arithmetic and 60-digit logarithms (mpmath).
TEST(InferenceStatistics, FitCheckKeepsItsDigitsForHugeCounts)
{
    const struct {
        Counts counts;
        double g2;
        double x2;
        double pG2;
    } table[] = {
        {{456777969, 43724409, 19031808, 124022878},
         1.2776685425349473e-11,
         1.2776685425599124e-11,
         0.999997148002355},
        {{304561510, 2215266, 7683104, 25215961},
         6.3380787587092787e-8,
         6.3380789611726486e-8,
         0.99979912824560503},
        {{10, 20, 5, 7}, 0.73624625210778032, 0.70022281928121675, 0.39086599715489125},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.counts.n100);
        const FitCheck check = fitCheck(row.counts, fit({row.counts, true}));
        // The expected frequencies themselves carry the doubles' rounding of P and S.
        EXPECT_NEAR(check.g2, row.g2, 1e-6 * row.g2);
        EXPECT_NEAR(check.x2, row.x2, 1e-6 * row.x2);
        EXPECT_NEAR(check.pG2, row.pG2, 1e-12);
    }
}

// N = count / P, its limits from those of P: an open upper limit of P leaves N's lower one open.
TEST(InferenceStatistics, PopulationCarriesTheLimitsOfP)
{
    for (const Problem& problem : {Problem{{10, 20, 5, 7}, true}, Problem{{0, 10, 0, 0}, true}}) {
        const Fit f = fit(problem);
        const ProfileInterval p = profileLimits(problem, f, Parameter::P);
        const PopulationEstimate n = population(40, f, p);
        ASSERT_TRUE(n.given());
        EXPECT_DOUBLE_EQ(n.estimate, 40 / f.P);
        EXPECT_TRUE(n.lower.value == 40 / p.upper.value && n.upper.value == 40 / p.lower.value);
        EXPECT_EQ(n.lower.kind, p.upper.open() ? LimitKind::BelowRange : LimitKind::Found);
        EXPECT_FALSE(population(-3, f, p).given());
        EXPECT_FALSE(population(40, f, profileLimits(problem, f, Parameter::S)).given());
    }
}

// With the count's own variation, as a census of one block in the totals: market (10, 20, 5, 7)
// with 30 dogs counted gives 36.87, 30.09 to 49.26, wider than 32.30 to 47.11 on both sides; the
// count's part alone is log-normal with variance C (1 - P), so with P's limits closed in on P the
// limits are those of the count. An open limit of P stays open in N.
TEST(InferenceStatistics, PopulationWithTheCountsVariation)
{
    const Analysis market = analyse({{10, 20, 5, 7}, true});
    const PopulationEstimate n = populationWithCount(30, market);
    const PopulationEstimate pOnly = population(30, market.fit, market.limitsP);
    ASSERT_TRUE(n.given());
    EXPECT_DOUBLE_EQ(n.estimate, 30 / market.fit.P);
    EXPECT_NEAR(n.lower.value, 30.09, 0.005);
    EXPECT_NEAR(n.upper.value, 49.26, 0.005);
    EXPECT_TRUE(n.lower.value < pOnly.lower.value && n.upper.value > pOnly.upper.value);

    Analysis exactP = market;
    exactP.limitsP.lower.value = exactP.limitsP.upper.value = market.fit.P;
    const PopulationEstimate count = populationWithCount(30, exactP);
    const double c = std::exp(1.959963984540054 * std::sqrt(std::log1p((1 - market.fit.P) / 30)));
    EXPECT_NEAR(count.lower.value, n.estimate / c, 1e-9);
    EXPECT_NEAR(count.upper.value, n.estimate * c, 1e-9);

    const Analysis open = analyse({{0, 10, 0, 0}, true});
    const PopulationEstimate edge = populationWithCount(40, open);
    ASSERT_TRUE(edge.given());
    EXPECT_EQ(edge.lower.kind,
              open.limitsP.upper.open() ? LimitKind::BelowRange : LimitKind::Found);
    EXPECT_EQ(populationWithCount(0, market).upper.value, 0.0) << "no dogs counted, none to add";
    EXPECT_FALSE(populationWithCount(40, analyse({{0, 9, 0, 4}, true})).given());
}

TEST(InferenceStatistics, WarningsSayWhatWentWrong)
{
    const Warnings w = collectWarnings(analyse({{30, 30, 30, 30}, true}),
                                       std::vector<float>{-166.9f, -166.4f, -167.5f});
    EXPECT_TRUE(w.contains(WarningKind::EstimateOnBound) && w.contains(WarningKind::OpenLimit) &&
                w.contains(WarningKind::FlatProfile));
    EXPECT_NE(describe(*w.begin()).find("of S lies on its upper bound 0.99"), std::string::npos);
    for (const std::vector<float>& undrawn : {std::vector<float>{-166.9f}, {-5.0f, -5.0f}}) {
        EXPECT_FALSE(collectWarnings(analyse({{30, 30, 30, 30}, true}), undrawn)
                         .contains(WarningKind::FlatProfile));
    }
    EXPECT_TRUE(collectWarnings(analyse({{50, 20, 10, 20}, true})).empty());
    const std::pair<Problem, WarningKind> kinds[] = {
        {{{1000, 3, 2, 1}, true}, WarningKind::LowExpectedCounts},
        {{{10, 20, 5, 7}, false, 0.9, Parameter::S}, WarningKind::FixedSHasNoProfile},
        {{{88, 91, 0, 11}, false, 0.8885}, WarningKind::LimitsSpanGap},
        {{{0, 9, 0, 4}, true}, WarningKind::NotIdentifiable},
        {{{0, 0, 0, 0}, true}, WarningKind::NoData}};
    for (const auto& [problem, kind] : kinds) {
        EXPECT_TRUE(collectWarnings(analyse(problem)).contains(kind)) << problem.counts.n100;
    }
    // A spread under 1.44 / 0.875 leaves the line off the plot; one distinct value draws nothing.
    EXPECT_TRUE(confidenceLineBelowPlot(std::vector<float>{-60.0f, -58.4f, -59.0f}));
    EXPECT_FALSE(confidenceLineBelowPlot(std::vector<float>{-60.0f, -58.3f, -59.0f}));
    EXPECT_TRUE(confidenceLineBelowPlot(std::vector<double>{-52.0, -52.0}));
}

} // namespace
} // namespace kestrum::inference
