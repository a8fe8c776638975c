// The entry point through the shared library, called as the program calls it, and checked against
// the likelihood's own maximum found independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "kestrum.h"

namespace {

using Hist = std::array<std::int32_t, 4>;
constexpr double kLower = 0.01;
constexpr double kUpper = 0.99;

// One call's arguments as the program fills them: the record with both parameters at factor 1
// and bounds 0.01 .. 0.99, S then P free (or the one named), the start in XC.
struct Press {
    std::vector<std::int32_t> IUSER = std::vector<std::int32_t>(KESTRUM_IUSER_SIZE, 0);
    std::vector<double> USER = std::vector<double>(KESTRUM_USER_SIZE, 0.0);
    std::int32_t N = 2, IBOUND = 0, LIW = KESTRUM_LIW, LW = KESTRUM_LW, IFAIL = 1;
    std::array<double, KESTRUM_MAX_FREE> BL{}, BU{}, XC{};
    double F = 0.0;
    std::array<std::int32_t, KESTRUM_LIW> IW{};
    std::array<double, KESTRUM_LW> W{};

    Press(const Hist& hist, double S, double P, std::int32_t onlyFree = 0)
        : N(onlyFree != 0 ? 1 : 2), XC{onlyFree == KESTRUM_PARAM_P ? P : S, P}
    {
        IUSER[0] = N;
        IUSER[1] = onlyFree != 0 ? onlyFree : KESTRUM_PARAM_S;
        IUSER[2] = KESTRUM_PARAM_P;
        std::copy(hist.begin(), hist.end(), IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
        const std::array<double, 8> slots{S, 1.0, kLower, kUpper, P, 1.0, kLower, kUpper};
        std::copy(slots.begin(), slots.end(), USER.begin());
        BL.fill(kLower);
        BU.fill(kUpper);
    }
    bool operator==(const Press&) const = default;
    void call()
    {
        N_E04JYF(&N, &IBOUND, BL.data(), BU.data(), XC.data(), &F, IW.data(), &LIW, W.data(), &LW,
                 IUSER.data(), USER.data(), &IFAIL);
    }
};

double objective(const Hist& hist, double S, double P)
{
    return -RLOGLIK(hist.data(), &P, &S);
}

// The minimum of f over [kLower, kUpper] by brute force: the best point of a 0.001 grid, then
// bisection on the central-difference slope between its neighbours.
template <class Function> double minimiseAlongEdge(Function f)
{
    double best = kLower;
    for (int k = 1; k <= 980; ++k) {
        best = f(kLower + k * 0.001) < f(best) ? kLower + k * 0.001 : best;
    }
    const auto slope = [&](double x) { return (f(x + 1e-6) - f(x - 1e-6)) / 2e-6; };
    double lo = std::max(kLower, best - 0.001);
    double hi = std::min(kUpper, best + 0.001);
    if (slope(lo) >= 0.0 || slope(hi) <= 0.0) {
        return slope(lo) >= 0.0 ? lo : hi;
    }
    for (int i = 0; i < 100 && hi - lo > 1e-15; ++i) {
        const double mid = (lo + hi) / 2.0;
        (slope(mid) < 0.0 ? lo : hi) = mid;
    }
    return (lo + hi) / 2.0;
}

// The best of the interior maximum in closed form and the minima along the four edges. With
// a = S*P the likelihood splits into two binomials: a with 2*n111 + n110 successes in
// n100 + 2*n111 + n101 + 2*n110 trials, and q = a*(S - a)/(1 - a) with n101 in n100 + n101.
std::array<double, 3> trueOptimum(const Hist& h)
{
    std::array<double, 3> best{0.0, 0.0, std::numeric_limits<double>::infinity()}; // S, P, F
    const auto consider = [&](double S, double P) {
        if (objective(h, S, P) < best[2]) {
            best = {S, P, objective(h, S, P)};
        }
    };
    const double a = (2.0 * h[1] + h[3]) / (h[0] + 2.0 * h[1] + h[2] + 2.0 * h[3]);
    const double q = static_cast<double>(h[2]) / (h[0] + h[2]);
    const double S = a + q * (1.0 - a) / a;
    if (q <= a && S >= kLower && S <= kUpper && a / S >= kLower && a / S <= kUpper) {
        consider(S, a / S);
    }
    for (const double edge : {kLower, kUpper}) {
        consider(edge, minimiseAlongEdge([&](double p) { return objective(h, edge, p); }));
        consider(minimiseAlongEdge([&](double s) { return objective(h, s, edge); }), edge);
    }
    return best;
}

// With no free parameter nothing but F is written, not even IFAIL, and the bounds are not looked
// at; a negative N is refused, not taken for none.
TEST(N_E04JYF, NoFreeParameterOnlyEvaluates)
{
    Press press({30, 30, 30, 30}, 0.9, 0.9);
    press.N = 0;
    press.XC = {0.123, 0.456};
    press.BL.fill(-1.0);
    press.BU.fill(-2.0);
    press.IW.fill(77);
    press.W.fill(7.7);
    Press after = press;
    after.call();
    EXPECT_NEAR(after.F, 211.689, 5e-4);
    after.F = press.F;
    EXPECT_TRUE(after == press);

    press.N = -1;
    press.IFAIL = KESTRUM_IFAIL_CONVERGED;
    press.call();
    EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_BAD_ARGUMENTS);
    EXPECT_TRUE(std::isnan(press.F));
    EXPECT_EQ(press.XC[0], 0.123);
}

// From three starts (the program's, a corner, and a hair inside a bound as a profile may give):
// the minimum to 1e-9 of F and the estimates to 1e-7, and so again from the point found, as the
// profile scan calls. The table has interior maxima, some near a bound, and maxima on one or two
// bounds; two rows once stopped on round-off.
TEST(N_E04JYF, FitsMatchTheIndependentMaximum)
{
    const Hist sets[] = {{10, 20, 5, 7},    {50, 20, 10, 20},  {30, 30, 30, 30}, {167, 78, 64, 88},
                         {95, 77, 83, 191}, {11, 941, 19, 29}, {966, 0, 16, 18}, {985, 0, 5, 10},
                         {974, 1, 1, 24},   {100, 1, 100, 1},  {5, 50, 0, 3},    {3, 200, 2, 0},
                         {100, 0, 0, 0},    {961, 0, 19, 19},  {999, 0, 0, 1},   {951, 2, 0, 47},
                         {200, 0, 0, 1}};
    const std::array<double, 3> worked[] = {
        {0.837, 0.814, 52.741}, {0.651, 0.659, 122.641}, {0.99, 0.508, 166.365}}; // the first three
    for (std::size_t k = 0; k < std::size(sets); ++k) {
        const Hist& h = sets[k];
        const auto [S, P, F] = trueOptimum(h);
        if (k < std::size(worked)) {
            EXPECT_NEAR(S, worked[k][0], 5e-4);
            EXPECT_NEAR(P, worked[k][1], 5e-4);
            EXPECT_NEAR(F, worked[k][2], 5e-4);
        }
        for (const auto& start :
             {std::array{0.9, 0.9}, std::array{kLower, kLower}, std::array{kUpper - 1e-9, 0.5}}) {
            Press press(h, start[0], start[1]);
            std::fill(press.USER.begin() + 8, press.USER.end(), 0.25); // slots nobody reads
            const Press before = press;
            for (const char* call : {"first call", "second call"}) {
                press.call();
                SCOPED_TRACE(testing::Message()
                             << h[0] << "," << h[1] << "," << h[2] << "," << h[3] << " from "
                             << start[0] << ", " << call << "; optimum " << S << "," << P);
                EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_CONVERGED);
                EXPECT_EQ(press.F, objective(h, press.XC[0], press.XC[1]));
                EXPECT_LE(std::fabs(press.F - F), 1e-9 * std::max(1.0, F));
                EXPECT_NEAR(press.XC[0], S, 1e-7);
                EXPECT_NEAR(press.XC[1], P, 1e-7);
                if (S == kUpper) {
                    EXPECT_EQ(press.XC[0], kUpper); // on the bound exactly, not near it
                }
            }
            EXPECT_EQ(press.IUSER, before.IUSER);
            EXPECT_EQ(press.USER, before.USER);
            EXPECT_EQ(press.BL, before.BL);
            EXPECT_EQ(press.BU, before.BU);
        }
    }
}

// One free parameter: P with S held, and S with P held as the program's profile of P does.
TEST(N_E04JYF, OneFreeParameterMatchesAOneDimensionalSearch)
{
    for (const Hist& h : {Hist{10, 20, 5, 7}, Hist{50, 20, 10, 20}, Hist{200, 0, 0, 1},
                          Hist{951, 2, 0, 47}, Hist{3, 200, 2, 0}}) {
        for (const std::int32_t free : {KESTRUM_PARAM_P, KESTRUM_PARAM_S}) {
            for (const double held : {0.02, 0.3, 0.9}) {
                const bool pFree = free == KESTRUM_PARAM_P;
                const auto f = [&](double x) {
                    return pFree ? objective(h, held, x) : objective(h, x, held);
                };
                const double x = minimiseAlongEdge(f);
                Press press(h, pFree ? held : 0.9, pFree ? 0.9 : held, free);
                press.call();
                SCOPED_TRACE(testing::Message() << h[0] << "," << h[1] << "," << h[2] << "," << h[3]
                                                << " free " << free << " other " << held);
                EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_CONVERGED);
                EXPECT_LE(std::fabs(press.F - f(x)), 1e-9 * std::max(1.0, f(x)));
                EXPECT_NEAR(press.XC[0], x, 1e-7);
            }
        }
    }
    Press worked({10, 20, 5, 7}, 0.9, 0.9, KESTRUM_PARAM_P);
    worked.call();
    EXPECT_NEAR(worked.XC[0], 0.756, 5e-4);
    EXPECT_NEAR(worked.F, 53.297, 5e-4);
}

// The library keeps no state: two records fitted at once on two threads give, bit for bit, what
// each gives alone.
TEST(N_E04JYF, ConcurrentFitsOfTwoRecordsMatchTheirSolitaryResults)
{
    const auto fitAndProfile = [](const Hist& h) {
        std::vector<double> outcomes;
        Press press(h, 0.9, 0.9);
        for (int k = 0; k < 8; ++k) {
            press.call();
            outcomes.insert(outcomes.end(), {press.XC[0], press.XC[1], press.F, 1.0 * press.IFAIL});
            press.N = 1; // then S alone at a series of P
            press.USER[KESTRUM_USER_P - 1] = 0.5 + 0.05 * k;
        }
        return outcomes;
    };
    const Hist hists[2] = {{10, 20, 5, 7}, {50, 20, 10, 20}};
    const std::vector<double> alone[2] = {fitAndProfile(hists[0]), fitAndProfile(hists[1])};
    bool matches[2] = {true, true};
    const auto repeat = [&](int i) {
        for (int round = 0; round < 10; ++round) {
            matches[i] = matches[i] && fitAndProfile(hists[i]) == alone[i];
        }
    };
    std::thread one(repeat, 0);
    std::thread two(repeat, 1);
    one.join();
    two.join();
    EXPECT_TRUE(matches[0]);
    EXPECT_TRUE(matches[1]);
}

} // namespace
