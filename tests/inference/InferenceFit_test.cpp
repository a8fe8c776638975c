#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "ConditionalMaximum.h"
#include "Fit.h"
#include "kestrum.h"

namespace kestrum::inference {
namespace {

struct Point {
    double P;
    double S;
    double logLikelihood;
};

// The estimation library's own derivative-free fit from P = 0.5, with the record the window builds.
Point libraryFit(const Counts& c, bool sFree, double S)
{
    std::array<std::int32_t, KESTRUM_IUSER_SIZE> iuser{sFree ? 2 : 1, sFree ? 1 : 2, 2};
    std::array<std::int32_t, 4> hist{c.n100, c.n111, c.n101, c.n110};
    std::copy(hist.begin(), hist.end(), iuser.begin() + 9);
    std::array<double, KESTRUM_USER_SIZE> user{S, 1.0, 0.01, 0.99, 0.5, 1.0, 0.01, 0.99};
    std::array<double, KESTRUM_MAX_FREE> xc{sFree ? S : 0.5, 0.5}, bl{0.01, 0.01}, bu{0.99, 0.99};
    std::array<std::int32_t, KESTRUM_LIW> iw{};
    std::array<double, KESTRUM_LW> w{};
    std::int32_t n = sFree ? 2 : 1, ibound = 0, liw = KESTRUM_LIW, lw = KESTRUM_LW, ifail = 1;
    double f = 0.0;
    N_E04JYF(&n, &ibound, bl.data(), bu.data(), xc.data(), &f, iw.data(), &liw, w.data(), &lw,
             iuser.data(), user.data(), &ifail);
    return sFree ? Point{xc[1], xc[0], -f} : Point{xc[0], S, -f};
}

// Best point of a 0.001 grid over the free parameters, then of a 1e-5 grid around it.
Point gridMaximum(const Counts& c, bool sFree, double fixedS)
{
    const auto search = [&](Point lo, Point hi, double step) {
        Point best{0, 0, -HUGE_VAL};
        for (int i = 0; lo.P + i * step <= hi.P + step / 2; ++i) {
            for (int j = 0; j == 0 || (sFree && lo.S + j * step <= hi.S + step / 2); ++j) {
                const double P = lo.P + i * step;
                const double S = sFree ? lo.S + j * step : fixedS;
                const double value = logLikelihood(c, P, S);
                best = value > best.logLikelihood ? Point{P, S, value} : best;
            }
        }
        return best;
    };
    const Point coarse = search({0.01, 0.01, 0}, {0.99, 0.99, 0}, 1e-3);
    const auto lo = [](double x) { return std::max(0.01, x - 1e-3); };
    const auto hi = [](double x) { return std::min(0.99, x + 1e-3); };
    return search({lo(coarse.P), lo(coarse.S), 0}, {hi(coarse.P), hi(coarse.S), 0}, 1e-5);
}

// The first four are the worked examples, whose published values the library reproduces.
TEST(InferenceFit, AgreesWithTheLibrarysDerivativeFreeFit)
{
    const Problem problems[] = {
        {{30, 30, 30, 30}, true},     {{10, 20, 5, 7}, true},      {{50, 20, 10, 20}, true},
        {{10, 20, 5, 7}, false, 0.9}, {{10, 0, 0, 0}, true},       {{0, 0, 10, 0}, true},
        {{1000, 3, 2, 1}, true},      {{3, 40, 7, 2}, false, 0.3}, {{7, 1, 0, 30}, false, 1.0},
        {{20, 30, 0, 10}, true},      {{40, 2, 30, 1}, true}};
    for (const Problem& problem : problems) {
        const Counts& c = problem.counts;
        SCOPED_TRACE(testing::Message()
                     << c.n100 << "," << c.n111 << "," << c.n101 << "," << c.n110);
        const Fit mine = fit(problem);
        EXPECT_EQ(mine.status, FitStatus::Estimated);
        const Point library = libraryFit(c, problem.sFree, problem.sFree ? 0.5 : problem.sFixed);
        EXPECT_NEAR(mine.logLikelihood, library.logLikelihood,
                    1e-9 * std::fabs(library.logLikelihood));
        EXPECT_NEAR(mine.P, library.P, 1e-7);
        EXPECT_NEAR(mine.S, library.S, 1e-7);
    }
}

TEST(InferenceFit, NoPointOfAFineGridDoesBetter)
{
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> count(0, 40);
    std::uniform_real_distribution<double> s(0.05, 0.95);
    for (int trial = 0; trial < 8; ++trial) {
        const Counts c{count(rng), count(rng) / (trial % 3 == 0 ? 8 : 1), count(rng),
                       count(rng) / (trial % 4 == 0 ? 8 : 1)};
        const bool sFree = trial % 2 == 0;
        const double fixedS = s(rng);
        SCOPED_TRACE(testing::Message() << c.n100 << "," << c.n111 << "," << c.n101 << "," << c.n110
                                        << " sFree " << sFree << " S " << fixedS);
        const Fit mine = fit({c, sFree, fixedS});
        const Point grid = gridMaximum(c, sFree, fixedS);
        EXPECT_GE(mine.logLikelihood, grid.logLikelihood - 1e-12);
        EXPECT_NEAR(mine.logLikelihood, grid.logLikelihood, 1e-6);
        EXPECT_EQ(mine.logLikelihood, logLikelihood(c, mine.P, mine.S));
        if (mine.status == FitStatus::Estimated) {
            EXPECT_NEAR(mine.P, grid.P, 2e-3);
            EXPECT_NEAR(mine.S, grid.S, 2e-3);
        }
    }
}

// At this S the likelihood in P has local maxima near 0.793 and 0.940; a local search from the
// middle, such as the library's, stops at the lower one.
TEST(InferenceFit, FindsTheHigherOfTwoLocalMaximaInP)
{
    const Counts c{82, 47, 1, 2};
    const double S = 0.7586;
    const Fit mine = fit({c, false, S});
    EXPECT_NEAR(mine.P, gridMaximum(c, false, S).P, 1e-5);
    EXPECT_NEAR(mine.P, 0.9397, 1e-4);
    EXPECT_GT(mine.logLikelihood, libraryFit(c, false, S).logLikelihood + 0.02);
    std::array<double, 4> points{};
    ASSERT_EQ(stationaryP(c, S, points), 3); // two maxima and the minimum between them
    EXPECT_NEAR(points[0], 0.793, 1e-3);
    EXPECT_NEAR(points[2], mine.P, 1e-12);
}

TEST(InferenceFit, DegenerateDataGetDefinedResults)
{
    const Fit none = fit({{0, 0, 0, 0}, true});
    EXPECT_EQ(none.status, FitStatus::NoData);
    EXPECT_FALSE(none.hasEstimates());
    EXPECT_EQ(none.logLikelihood, 0.0);
    EXPECT_EQ(fit({{0, 0, 0, 0}, false, 0.5}).status, FitStatus::NoData);

    const Fit bound = fit({{30, 30, 30, 30}, true});
    EXPECT_EQ(bound.sBound, Bound::Upper);
    EXPECT_EQ(bound.pBound, Bound::None);
    const Fit lost = fit({{12, 0, 0, 0}, true}); // never seen again
    EXPECT_EQ(lost.pBound, Bound::Lower);
    EXPECT_EQ(lost.sBound, Bound::Lower);
    EXPECT_TRUE(lost.P == 0.01 && lost.S == 0.01);
    EXPECT_EQ(fit({{20, 30, 0, 10}, true}).pBound, Bound::Upper); // none missed turned up again
    EXPECT_FALSE(fit({{10, 20, 5, 7}, true}).onBound());

    // Nobody missed on the second count: only S*P is determined, by the first binomial alone.
    const Fit ridge = fit({{0, 9, 0, 4}, true});
    EXPECT_EQ(ridge.status, FitStatus::NotIdentifiable);
    EXPECT_TRUE(ridge.hasEstimates());
    const double a = (2.0 * 9 + 4) / (2.0 * 9 + 4 + 4);
    EXPECT_NEAR(ridge.S * ridge.P, a, 1e-15);
    EXPECT_NEAR(logLikelihood({0, 9, 0, 4}, 0.9, a / 0.9), ridge.logLikelihood, 1e-12);

    EXPECT_EQ(fit({{-1, 5, 5, 5}, true}).status, FitStatus::InvalidInput);
    for (const double badS : {0.0, -0.2, 1.5, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(fit({{10, 20, 5, 7}, false, badS}).status, FitStatus::InvalidInput) << badS;
    }
    // Counts near the 32-bit limit still give finite, bounded estimates.
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    for (const Counts& c :
         {Counts{big, big, big, big}, Counts{big, 0, 1, 0}, Counts{1, big, 0, 0}}) {
        const Fit f = fit({c, true});
        EXPECT_TRUE(std::isfinite(f.logLikelihood));
        EXPECT_TRUE(f.P >= 0.01 && f.P <= 0.99 && f.S >= 0.01 && f.S <= 0.99) << f.P << " " << f.S;
    }
}

} // namespace
} // namespace kestrum::inference
