// The exact fit against the estimation library's derivative-free one and against brute force.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

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

// The library's fit through its entry point with the record the window builds, from (S, P), then
// again from the point found as the profile scan calls it; both must converge to the same place.
Point libraryFit(const Counts& c, bool sFree, double S, double P)
{
    std::array<std::int32_t, KESTRUM_IUSER_SIZE> iuser{sFree ? 2 : 1, sFree ? 1 : 2, 2};
    std::copy_n(&c.n100, 4, iuser.begin() + 9); // Counts holds the four in the library's order
    std::array<double, KESTRUM_USER_SIZE> user{S, 1.0, 0.01, 0.99, P, 1.0, 0.01, 0.99};
    std::array<double, KESTRUM_MAX_FREE> xc{sFree ? S : P, P}, bl{0.01, 0.01}, bu{0.99, 0.99};
    std::array<std::int32_t, KESTRUM_LIW> iw{};
    std::array<double, KESTRUM_LW> w{};
    std::int32_t n = sFree ? 2 : 1, ibound = 0, liw = KESTRUM_LIW, lw = KESTRUM_LW, ifail = 1;
    double f = 0.0;
    for (int call = 0; call < 2; ++call) {
        N_E04JYF(&n, &ibound, bl.data(), bu.data(), xc.data(), &f, iw.data(), &liw, w.data(), &lw,
                 iuser.data(), user.data(), &ifail);
        EXPECT_EQ(ifail, KESTRUM_IFAIL_CONVERGED);
    }
    return sFree ? Point{xc[1], xc[0], -f} : Point{xc[0], S, -f};
}

// Interior maxima, some near a bound, on one or two bounds, S held; from the program's start, a
// corner, and a hair inside a bound. The first three are the worked examples, as published.
TEST(InferenceFit, AgreesWithTheLibrarysDerivativeFreeFit)
{
    const Problem problems[] = {
        {{10, 20, 5, 7}, true},     {{50, 20, 10, 20}, true},  {{30, 30, 30, 30}, true},
        {{167, 78, 64, 88}, true},  {{95, 77, 83, 191}, true}, {{11, 941, 19, 29}, true},
        {{966, 0, 16, 18}, true},   {{974, 1, 1, 24}, true},   {{100, 1, 100, 1}, true},
        {{5, 50, 0, 3}, true},      {{3, 200, 2, 0}, true},    {{100, 0, 0, 0}, true},
        {{999, 0, 0, 1}, true},     {{951, 2, 0, 47}, true},   {{0, 0, 10, 0}, true},
        {{10, 20, 5, 7}, false, 0.9}, {{3, 40, 7, 2}, false, 0.3}, {{7, 1, 0, 30}, false, 1.0},
        {{951, 2, 0, 47}, false, 0.02}};
    const std::array<double, 3> worked[] = {
        {0.837, 0.814, -52.741}, {0.651, 0.659, -122.641}, {0.99, 0.508, -166.365}};
    for (std::size_t k = 0; k < std::size(problems); ++k) {
        const Counts& c = problems[k].counts;
        const bool sFree = problems[k].sFree;
        const Fit mine = fit(problems[k]);
        EXPECT_EQ(mine.status, FitStatus::Estimated);
        if (k < std::size(worked)) {
            EXPECT_NEAR(mine.S, worked[k][0], 5e-4);
            EXPECT_NEAR(mine.P, worked[k][1], 5e-4);
            EXPECT_NEAR(mine.logLikelihood, worked[k][2], 5e-4);
        }
        for (const auto& [S, P] : {std::array{0.9, 0.9}, std::array{0.01, 0.01},
                                   std::array{0.99 - 1e-9, 0.5}}) {
            const Point library = libraryFit(c, sFree, sFree ? S : problems[k].sFixed, P);
            SCOPED_TRACE(testing::Message() << c.n100 << "," << c.n111 << "," << c.n101 << ","
                                            << c.n110 << " S free " << sFree << " from " << S);
            EXPECT_NEAR(mine.logLikelihood, library.logLikelihood,
                        1e-9 * std::fabs(library.logLikelihood));
            EXPECT_NEAR(mine.P, library.P, 1e-7);
            EXPECT_NEAR(mine.S, library.S, 1e-7);
            if (mine.sBound == Bound::Upper) {
                EXPECT_EQ(library.S, 0.99); // on the bound exactly, not near it
            }
        }
    }
}

// At this S the likelihood in P has local maxima near 0.793 and 0.940; a local search from the
// middle, such as the library's, stops at the lower one. No point of a 1e-6 grid does better.
TEST(InferenceFit, FindsTheHigherOfTwoLocalMaximaInP)
{
    const Counts c{82, 47, 1, 2};
    const Fit mine = fit({c, false, 0.7586});
    for (double P = 0.01; P <= 0.99; P += 1e-6) {
        ASSERT_LE(logLikelihood(c, P, 0.7586), mine.logLikelihood) << P;
    }
    std::array<double, 4> points{};
    ASSERT_EQ(stationaryP(c, 0.7586, points), 3); // two maxima and the minimum between them
    EXPECT_NEAR(points[0], 0.793, 1e-3);
    EXPECT_NEAR(points[2], mine.P, 1e-12);
}

TEST(InferenceFit, DegenerateDataGetDefinedResults)
{
    const Fit none = fit({{0, 0, 0, 0}, false, 0.5});
    EXPECT_TRUE(none.status == FitStatus::NoData && none.logLikelihood == 0.0);

    const Fit lost = fit({{12, 0, 0, 0}, true}); // never seen again
    EXPECT_TRUE(lost.pBound == Bound::Lower && lost.sBound == Bound::Lower);
    EXPECT_TRUE(lost.P == 0.01 && lost.S == 0.01);
    EXPECT_EQ(fit({{20, 30, 0, 10}, true}).pBound, Bound::Upper); // none missed turned up again
    EXPECT_FALSE(fit({{10, 20, 5, 7}, true}).onBound());

    // Nobody missed on the second count: only S*P is determined, by the first binomial alone.
    const Fit ridge = fit({{0, 9, 0, 4}, true});
    EXPECT_TRUE(ridge.status == FitStatus::NotIdentifiable && ridge.hasEstimates());
    EXPECT_NEAR(ridge.S * ridge.P, (2.0 * 9 + 4) / (2.0 * 9 + 4 + 4), 1e-15);
    EXPECT_EQ(ridge.S, ridge.P);

    EXPECT_EQ(fit({{-1, 5, 5, 5}, true}).status, FitStatus::InvalidInput);
    for (const double badS : {0.0, 1.5, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(fit({{10, 20, 5, 7}, false, badS}).status, FitStatus::InvalidInput) << badS;
    }
    // Counts near the 32-bit limit still give finite, bounded estimates.
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    const Fit f = fit({{big, big, 1, big}, true});
    EXPECT_TRUE(std::isfinite(f.logLikelihood) && f.P >= 0.01 && f.P <= 0.99 && f.S >= 0.01 &&
                f.S <= 0.99) << f.P << " " << f.S;
}

} // namespace
} // namespace kestrum::inference
