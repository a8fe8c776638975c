#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "Analysis.h"
#include "Population.h"
#include "Warnings.h"

namespace kestrum::inference {
namespace {

TEST(InferenceStatistics, AnalyticDerivativesMatchCentralDifferences)
{
    const double h = 1e-4;
    for (const Counts& c : {Counts{10, 20, 5, 7}, Counts{50, 20, 10, 20}, Counts{3, 0, 8, 1}}) {
        for (const auto [P, S] :
             {std::array{0.3, 0.7}, std::array{0.8, 0.2}, std::array{0.55, 0.95}}) {
            const auto l = [&](double dp, double ds) { return logLikelihood(c, P + dp, S + ds); };
            const LogLikelihoodDerivatives d = logLikelihoodDerivatives(c, P, S);
            const auto near = [](double analytic, double numeric) {
                EXPECT_NEAR(analytic, numeric, 1e-5 * std::max(1.0, std::fabs(numeric)));
            };
            near(d.value, l(0, 0));
            near(d.dP, (l(h, 0) - l(-h, 0)) / (2 * h));
            near(d.dS, (l(0, h) - l(0, -h)) / (2 * h));
            near(d.dPP, (l(h, 0) - 2 * l(0, 0) + l(-h, 0)) / (h * h));
            near(d.dSS, (l(0, h) - 2 * l(0, 0) + l(0, -h)) / (h * h));
            near(d.dPS, (l(h, h) - l(h, -h) - l(-h, h) + l(-h, -h)) / (4 * h * h));
        }
    }
}

// With a = SP the likelihood is a binomial in a times one in r = a(S - a)/(1 - a), each with the
// textbook variance; the delta method carries them to (S, P).
TEST(InferenceStatistics, StandardErrorsMatchTheTwoBinomials)
{
    for (const Counts& c :
         {Counts{10, 20, 5, 7}, Counts{50, 20, 10, 20}, Counts{200, 150, 60, 90}}) {
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
        const double varS = dSda * dSda * varA + dSdr * dSdr * varR;
        const double varP = dPda * dPda * varA + dPdr * dPdr * varR;
        const double cov = dSda * dPda * varA + dSdr * dPdr * varR;

        const StandardErrors se = standardErrors(c, f);
        ASSERT_TRUE(se.given());
        EXPECT_NEAR(se.seS, std::sqrt(varS), 1e-9 * std::sqrt(varS));
        EXPECT_NEAR(se.seP, std::sqrt(varP), 1e-9 * std::sqrt(varP));
        EXPECT_NEAR(se.covariancePS, cov, 1e-9 * std::fabs(cov));
        EXPECT_NEAR(se.waldP.lower, f.P - 1.959964 * se.seP, 1e-6 * se.seP);
        EXPECT_NEAR(se.waldS.upper, f.S + 1.959964 * se.seS, 1e-6 * se.seS);
    }
    // With S fixed, from the curvature in P alone; none on a bound, on a ridge or without data.
    const Counts c{10, 20, 5, 7};
    const Fit fixed = fit({c, false, 0.9});
    const auto l = [&](double dp) { return logLikelihood(c, fixed.P + dp, 0.9); };
    const StandardErrors se = standardErrors(c, fixed);
    ASSERT_TRUE(se.given());
    EXPECT_NEAR(se.seP, 1 / std::sqrt(-(l(1e-4) - 2 * l(0) + l(-1e-4)) / 1e-8), 1e-6);
    EXPECT_FALSE(se.waldP.beyondBounds);
    EXPECT_FALSE(standardErrors({30, 30, 30, 30}, fit({{30, 30, 30, 30}, true})).given());
    EXPECT_FALSE(standardErrors({0, 9, 0, 4}, fit({{0, 9, 0, 4}, true})).given());
    EXPECT_FALSE(standardErrors({}, fit({{}, true})).given());
}

// The finite series of the chi-square tail for whole degrees of freedom, valid where its terms
// neither overflow nor underflow.
double seriesTail(double x, int df)
{
    const double h = 0.5 * x;
    double sum = 0.0;
    double term = df % 2 == 0 ? 1.0 : std::sqrt(h) / (0.5 * std::sqrt(std::numbers::pi));
    for (int j = df % 2; j < (df + 1) / 2; ++j) {
        sum += term;
        term *= h / (j + (df % 2 == 0 ? 1.0 : 0.5));
    }
    return (df % 2 == 0 ? 0.0 : std::erfc(std::sqrt(h))) + std::exp(-h) * sum;
}

TEST(InferenceStatistics, ChiSquareSurvivalMatchesTablesAndTheFiniteSeries)
{
    const struct {
        double x;
        int df;
        double p;
    } table[] = {
        {3.841458820694124, 1, 0.05}, {6.634896601021214, 1, 0.01}, {1.0, 1, 0.3173105078629141},
        {5.991464547107979, 2, 0.05}, {9.210340371976183, 2, 0.01}, {7.814727903251178, 3, 0.05},
        {9.487729036781154, 4, 0.05}, {11.07049769351635, 5, 0.05}, {0.0, 2, 1.0},
    };
    for (const auto& row : table) {
        EXPECT_NEAR(chiSquareSurvival(row.x, row.df), row.p, 1e-12) << row.x << " df " << row.df;
    }
    for (int df = 1; df <= 40; ++df) {
        for (const double x : {0.01, 0.5, 1.0, 3.84, 10.0, 37.5, 80.0}) {
            const double exact = seriesTail(x, df);
            EXPECT_NEAR(chiSquareSurvival(x, df), exact, 1e-12 + 1e-10 * exact) << df << " " << x;
        }
    }
    EXPECT_EQ(chiSquareSurvival(0.0, 3), 1.0);
    EXPECT_TRUE(std::isnan(chiSquareSurvival(1.0, 0)));

    // A survey of 100,000 blocks compares on 199,998 degrees of freedom, where the series
    // overflows; so many make the statistic close to normal, mean df and variance 2 df.
    const int df = 199998;
    for (const double z : {-3.0, -1.0, 0.0, 1.0, 3.0}) {
        const double tail = chiSquareSurvival(df + z * std::sqrt(2.0 * df), df);
        EXPECT_NEAR(tail, 0.5 * std::erfc(z / std::sqrt(2.0)), 0.003) << "z " << z;
    }
    EXPECT_EQ(chiSquareSurvival(1e7, df), 0.0);
    EXPECT_EQ(chiSquareSurvival(1.0, df), 1.0);
}

TEST(InferenceStatistics, FitCheckAgreesWithTheLikelihood)
{
    for (const Problem& problem :
         {Problem{{10, 20, 5, 7}, true}, Problem{{10, 20, 5, 7}, false, 0.9},
          Problem{{1000, 3, 2, 1}, true}}) {
        const Counts& c = problem.counts;
        const Fit f = fit(problem);
        const FitCheck check = fitCheck(c, f);
        ASSERT_TRUE(check.given());
        EXPECT_EQ(check.df, problem.sFree ? 1 : 2);
        const double n = c.total();
        const double P = f.P;
        const double S = f.S;
        const std::array<double, 4> observed{1.0 * c.n100, 1.0 * c.n111, 1.0 * c.n101,
                                             1.0 * c.n110};
        const std::array<double, 4> expected{n * (1 - S * P - S * S * P + S * S * P * P),
                                             n * S * S * P * P, n * S * S * P * (1 - P),
                                             n * S * P * (1 - S * P)};
        double saturated = 0.0;
        double x2 = 0.0;
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_NEAR(check.expected[i], expected[i], 1e-9 * n);
            saturated += observed[i] > 0 ? observed[i] * std::log(observed[i] / n) : 0.0;
            x2 += (observed[i] - expected[i]) * (observed[i] - expected[i]) / expected[i];
        }
        // G2 is twice the fall of the log likelihood from the saturated model's.
        EXPECT_NEAR(check.g2, 2 * (saturated - f.logLikelihood), 1e-9 * std::max(1.0, check.g2));
        EXPECT_NEAR(check.x2, x2, 1e-9 * std::max(1.0, x2));
        EXPECT_EQ(check.pG2, chiSquareSurvival(check.g2, check.df));
        EXPECT_EQ(check.pX2, chiSquareSurvival(check.x2, check.df));
        EXPECT_EQ(check.lowExpected, *std::min_element(expected.begin(), expected.end()) < 2.0);
    }
    EXPECT_TRUE(fitCheck({1000, 3, 2, 1}, fit({{1000, 3, 2, 1}, true})).lowExpected);
    EXPECT_FALSE(fitCheck({}, fit({{}, true})).given());
}

TEST(InferenceStatistics, PopulationCarriesTheLimitsOfP)
{
    const Problem problem{{10, 20, 5, 7}, true};
    const Fit f = fit(problem);
    const ProfileInterval p = profileLimits(problem, f, Parameter::P);
    const PopulationEstimate n = population(40, f, p);
    ASSERT_TRUE(n.given());
    EXPECT_DOUBLE_EQ(n.estimate, 40 / f.P);
    EXPECT_DOUBLE_EQ(n.lower.value, 40 / p.upper.value);
    EXPECT_DOUBLE_EQ(n.upper.value, 40 / p.lower.value);
    EXPECT_EQ(n.lower.kind, LimitKind::Found);

    // P's upper limit above 0.99 leaves the population's lower limit open below 40 / 0.99.
    const Problem always{{0, 10, 0, 0}, true};
    const Fit fa = fit(always);
    const PopulationEstimate open = population(40, fa, profileLimits(always, fa, Parameter::P));
    EXPECT_EQ(open.lower.kind, LimitKind::BelowRange);
    EXPECT_EQ(limitText(open.lower, 3), "below 40.404");
    EXPECT_EQ(open.upper.kind, LimitKind::Found);

    EXPECT_FALSE(population(-3, f, p).given());
    const Problem ridge{{0, 9, 0, 4}, true};
    const Fit fr = fit(ridge);
    EXPECT_FALSE(population(40, fr, profileLimits(ridge, fr, Parameter::P)).given());
    EXPECT_FALSE(population(40, f, profileLimits(problem, f, Parameter::S)).given());
    EXPECT_NE(std::string(populationCaveat()).find("not included"), std::string::npos);
}

TEST(InferenceStatistics, WarningsSayWhatWentWrong)
{
    const auto says = [](const Warnings& warnings, WarningKind kind, const char* phrase) {
        return std::any_of(warnings.begin(), warnings.end(), [&](const Warning& w) {
            return w.kind == kind && describe(w).find(phrase) != std::string::npos;
        });
    };
    const Warnings w = collectWarnings(analyse({{30, 30, 30, 30}, true}),
                                       std::vector<float>{-166.9f, -166.4f, -167.5f});
    EXPECT_TRUE(says(w, WarningKind::EstimateOnBound, "of S lies on its upper bound 0.99"));
    EXPECT_TRUE(says(w, WarningKind::OpenLimit, "of S lies above 0.99"));
    EXPECT_TRUE(says(w, WarningKind::FlatProfile, "profile of P falls"));
    EXPECT_FALSE(w.contains(WarningKind::LowExpectedCounts) ||
                 w.contains(WarningKind::StandardErrorsNotGiven));
    EXPECT_TRUE(collectWarnings(analyse({{50, 20, 10, 20}, true})).empty());
    EXPECT_TRUE(says(collectWarnings(analyse({{1000, 3, 2, 1}, true})),
                     WarningKind::LowExpectedCounts, "0.05"));
    EXPECT_TRUE(collectWarnings(analyse({{10, 20, 5, 7}, false, 0.9, Parameter::S}))
                    .contains(WarningKind::FixedSHasNoProfile));
    EXPECT_TRUE(collectWarnings(analyse({{88, 91, 0, 11}, false, 0.8885}))
                    .contains(WarningKind::LimitsSpanGap));
    EXPECT_TRUE(
        collectWarnings(analyse({{0, 9, 0, 4}, true})).contains(WarningKind::NotIdentifiable));
    const Warnings none = collectWarnings(analyse({{}, true}));
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none.begin()->kind, WarningKind::NoData);

    // The plot maps the spread onto 0.75 of its height from 0.125 below the top: a spread under
    // 1.44 / 0.875 leaves the 1.92 line off the bottom; fewer than two distinct values draw
    // nothing.
    EXPECT_TRUE(confidenceLineBelowPlot(std::vector<float>{-60.0f, -58.4f, -59.0f}));
    EXPECT_FALSE(confidenceLineBelowPlot(std::vector<float>{-60.0f, -58.3f, -59.0f}));
    EXPECT_FALSE(confidenceLineBelowPlot(std::vector<double>{-60.0, -52.741}));
    EXPECT_TRUE(confidenceLineBelowPlot(std::vector<double>{-52.0, -52.0}));
    EXPECT_TRUE(confidenceLineBelowPlot(std::vector<double>{-52.0}));
}

} // namespace
} // namespace kestrum::inference
