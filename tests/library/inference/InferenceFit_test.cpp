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

// The estimation library's own derivative-free fit, called with the record the window builds.
Point libraryFit(const Counts& c, bool sFree, double S, double startP)
{
    std::array<std::int32_t, KESTRUM_IUSER_SIZE> iuser{};
    std::array<double, KESTRUM_USER_SIZE> user{};
    std::int32_t n = sFree ? 2 : 1;
    iuser[0] = n;
    iuser[1] = sFree ? 1 : 2;
    iuser[2] = 2;
    iuser[9] = c.n100;
    iuser[10] = c.n111;
    iuser[11] = c.n101;
    iuser[12] = c.n110;
    const double record[] = {S, 1.0, 0.01, 0.99, startP, 1.0, 0.01, 0.99};
    std::copy(std::begin(record), std::end(record), user.begin());
    std::array<double, KESTRUM_MAX_FREE> xc{};
    std::array<double, KESTRUM_MAX_FREE> bl{};
    std::array<double, KESTRUM_MAX_FREE> bu{};
    bl.fill(0.01);
    bu.fill(0.99);
    xc[0] = sFree ? S : startP;
    xc[1] = startP;
    std::array<std::int32_t, KESTRUM_LIW> iw{};
    std::array<double, KESTRUM_LW> w{};
    std::int32_t ibound = 0, liw = KESTRUM_LIW, lw = KESTRUM_LW, ifail = 1;
    double f = 0.0;
    N_E04JYF(&n, &ibound, bl.data(), bu.data(), xc.data(), &f, iw.data(), &liw, w.data(), &lw,
             iuser.data(), user.data(), &ifail);
    return sFree ? Point{xc[1], xc[0], -f} : Point{xc[0], S, -f};
}

// Best point of a 0.001 grid over the free parameters, then of a 1e-5 grid around it.
Point gridMaximum(const Counts& c, bool sFree, double fixedS)
{
    const auto search = [&](double pLo, double pHi, double sLo, double sHi, double step) {
        Point best{0, 0, -HUGE_VAL};
        const auto steps = [step](double lo, double hi) {
            return static_cast<int>(std::lround((hi - lo) / step));
        };
        for (int i = 0; i <= steps(pLo, pHi); ++i) {
            const double P = pLo + i * step;
            for (int j = 0; j <= (sFree ? steps(sLo, sHi) : 0); ++j) {
                const double S = sFree ? sLo + j * step : fixedS;
                const double value = logLikelihood(c, P, S);
                if (value > best.logLikelihood) {
                    best = {P, S, value};
                }
            }
        }
        return best;
    };
    const Point coarse = search(0.01, 0.99, 0.01, 0.99, 1e-3);
    const auto lo = [](double x) { return std::max(0.01, x - 1e-3); };
    const auto hi = [](double x) { return std::min(0.99, x + 1e-3); };
    return search(lo(coarse.P), hi(coarse.P), lo(coarse.S), hi(coarse.S), 1e-5);
}

TEST(InferenceFit, ReproducesTheWorkedExamples)
{
    const Fit bound = fit({{30, 30, 30, 30}, true});
    EXPECT_EQ(bound.status, FitStatus::Estimated);
    EXPECT_EQ(bound.S, 0.99);
    EXPECT_EQ(bound.sBound, Bound::Upper);
    EXPECT_EQ(bound.pBound, Bound::None);
    EXPECT_NEAR(bound.P, 0.508, 5e-4);
    EXPECT_NEAR(bound.logLikelihood, -166.365, 5e-4);

    const Fit interior = fit({{10, 20, 5, 7}, true});
    EXPECT_NEAR(interior.S, 0.837, 5e-4);
    EXPECT_NEAR(interior.P, 0.814, 5e-4);
    EXPECT_NEAR(interior.logLikelihood, -52.741, 5e-4);
    EXPECT_FALSE(interior.onBound());

    const Fit fixed = fit({{10, 20, 5, 7}, false, 0.9});
    EXPECT_EQ(fixed.S, 0.9);
    EXPECT_NEAR(fixed.P, 0.756, 5e-4);
    EXPECT_NEAR(fixed.logLikelihood, -53.297, 5e-4);

    const Fit other = fit({{50, 20, 10, 20}, true});
    EXPECT_NEAR(other.S, 0.651, 5e-4);
    EXPECT_NEAR(other.P, 0.659, 5e-4);
    EXPECT_NEAR(other.logLikelihood, -122.641, 5e-4);
}

TEST(InferenceFit, AgreesWithTheLibrarysDerivativeFreeFit)
{
    const struct {
        Counts counts;
        bool sFree;
        double S;
    } cases[] = {
        {{30, 30, 30, 30}, true, 0.5}, {{10, 20, 5, 7}, true, 0.5},  {{50, 20, 10, 20}, true, 0.5},
        {{10, 20, 5, 7}, false, 0.9},  {{10, 0, 0, 0}, true, 0.5},   {{0, 10, 0, 0}, true, 0.5},
        {{5, 0, 5, 0}, true, 0.5},     {{0, 0, 10, 0}, true, 0.5},   {{1000, 3, 2, 1}, true, 0.5},
        {{3, 40, 7, 2}, true, 0.5},    {{3, 40, 7, 2}, false, 0.3},  {{7, 1, 0, 30}, false, 1.0},
        {{20, 30, 0, 10}, true, 0.5},  {{40, 2, 30, 1}, true, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.counts.n100 << "," << c.counts.n111 << ","
                                        << c.counts.n101 << "," << c.counts.n110);
        const Fit mine = fit({c.counts, c.sFree, c.S});
        const Point library = libraryFit(c.counts, c.sFree, c.S, 0.5);
        EXPECT_NEAR(mine.logLikelihood, library.logLikelihood, 1e-9 * std::fabs(library.logLikelihood));
        EXPECT_NEAR(mine.P, library.P, 1e-7);
        EXPECT_NEAR(mine.S, library.S, 1e-7);
    }
}

TEST(InferenceFit, NoPointOfAFineGridDoesBetter)
{
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> count(0, 40);
    std::uniform_real_distribution<double> s(0.05, 0.95);
    for (int trial = 0; trial < 24; ++trial) {
        const Counts c{count(rng), count(rng) / (trial % 3 == 0 ? 8 : 1), count(rng),
                       count(rng) / (trial % 4 == 0 ? 8 : 1)};
        const bool sFree = trial % 2 == 0;
        const double fixedS = s(rng);
        SCOPED_TRACE(testing::Message() << c.n100 << "," << c.n111 << "," << c.n101 << ","
                                        << c.n110 << " sFree " << sFree << " S " << fixedS);
        const Fit mine = fit({c, sFree, fixedS});
        if (c.total() == 0) {
            EXPECT_EQ(mine.status, FitStatus::NoData);
            continue;
        }
        const Point grid = gridMaximum(c, sFree, fixedS);
        EXPECT_GE(mine.logLikelihood, grid.logLikelihood - 1e-12);
        EXPECT_NEAR(mine.logLikelihood, grid.logLikelihood, 1e-6);
        EXPECT_NEAR(mine.logLikelihood, logLikelihood(c, mine.P, mine.S), 0.0);
        if (mine.status == FitStatus::Estimated) {
            EXPECT_NEAR(mine.P, grid.P, 2e-3);
            EXPECT_NEAR(mine.S, grid.S, 2e-3);
        }
    }
}

TEST(InferenceFit, FindsTheHigherOfTwoLocalMaximaInP)
{
    // At this S the likelihood in P has local maxima near 0.793 and 0.940; a local search from
    // the middle, such as the library's, stops at the lower one.
    const Counts c{82, 47, 1, 2};
    const double S = 0.7586;
    ASSERT_GT(logLikelihood(c, 0.793, S), logLikelihood(c, 0.783, S));
    ASSERT_GT(logLikelihood(c, 0.793, S), logLikelihood(c, 0.803, S));

    const Fit mine = fit({c, false, S});
    const Point grid = gridMaximum(c, false, S);
    EXPECT_NEAR(mine.P, grid.P, 1e-5);
    EXPECT_NEAR(mine.P, 0.9397, 1e-4);
    EXPECT_GT(mine.logLikelihood, libraryFit(c, false, S, 0.5).logLikelihood + 0.02);

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

    const Fit lost = fit({{12, 0, 0, 0}, true}); // never seen again: as few seen, as few staying
    EXPECT_EQ(lost.status, FitStatus::Estimated);
    EXPECT_EQ(lost.P, 0.01);
    EXPECT_EQ(lost.S, 0.01);
    EXPECT_EQ(lost.pBound, Bound::Lower);
    EXPECT_EQ(lost.sBound, Bound::Lower);

    // No dog missed on the second count turned up on the third: P as high as it may go.
    const Fit unmissed = fit({{20, 30, 0, 10}, true});
    EXPECT_EQ(unmissed.pBound, Bound::Upper);
    EXPECT_EQ(unmissed.sBound, Bound::None);

    const Fit always = fit({{0, 12, 0, 0}, true});
    EXPECT_EQ(always.P, 0.99);
    EXPECT_EQ(always.S, 0.99);

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
    const Fit zeroWithFixedS = fit({{0, 0, 0, 0}, false, 0.5});
    EXPECT_EQ(zeroWithFixedS.status, FitStatus::NoData);

    // Counts near the 32-bit limit still give finite, bounded estimates.
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    for (const Counts& c : {Counts{big, big, big, big}, Counts{big, 0, 1, 0}, Counts{1, big, 0, 0}}) {
        const Fit f = fit({c, true});
        EXPECT_TRUE(std::isfinite(f.logLikelihood));
        EXPECT_GE(f.P, 0.01);
        EXPECT_LE(f.P, 0.99);
        EXPECT_GE(f.S, 0.01);
        EXPECT_LE(f.S, 0.99);
    }
}

} // namespace
} // namespace kestrum::inference
