// The entry point through the shared library, called as the program calls it, and checked against
// the likelihood's own maximum found independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "kestrum.h"

namespace {

using Hist = std::array<std::int32_t, 4>;
constexpr double kLower = 0.01;
constexpr double kUpper = 0.99;

// The model record as the program builds it: both parameters with factor 1 and bounds 0.01, 0.99.
struct Record {
    std::vector<std::int32_t> IUSER = std::vector<std::int32_t>(KESTRUM_IUSER_SIZE, 0);
    std::vector<double> USER = std::vector<double>(KESTRUM_USER_SIZE, 0.0);

    Record(const Hist& hist, double S, double P, bool sFree = true)
    {
        IUSER[0] = sFree ? 2 : 1;
        IUSER[1] = sFree ? KESTRUM_PARAM_S : KESTRUM_PARAM_P;
        IUSER[2] = KESTRUM_PARAM_P;
        std::copy(hist.begin(), hist.end(), IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
        const double slots[] = {S, 1.0, kLower, kUpper, P, 1.0, kLower, kUpper};
        std::copy(std::begin(slots), std::end(slots), USER.begin());
    }
};

// One call's arguments, filled as the program fills them.
struct Press {
    std::int32_t N = 2;
    std::int32_t IBOUND = 0;
    std::array<double, KESTRUM_MAX_FREE> BL{};
    std::array<double, KESTRUM_MAX_FREE> BU{};
    std::array<double, KESTRUM_MAX_FREE> XC{};
    double F = 0.0;
    std::array<std::int32_t, KESTRUM_LIW> IW{};
    std::int32_t LIW = KESTRUM_LIW;
    std::array<double, KESTRUM_LW> W{};
    std::int32_t LW = KESTRUM_LW;
    std::int32_t IFAIL = 1;

    Press(std::int32_t n, double x1, double x2 = 0.0) : N(n)
    {
        BL.fill(kLower);
        BU.fill(kUpper);
        XC[0] = x1;
        XC[1] = x2;
    }
    void call(const Record& record, std::int32_t ifailIn = 1)
    {
        IFAIL = ifailIn;
        N_E04JYF(&N, &IBOUND, BL.data(), BU.data(), XC.data(), &F, IW.data(), &LIW, W.data(), &LW,
                 record.IUSER.data(), record.USER.data(), &IFAIL);
    }
};

double objective(const Hist& hist, double S, double P)
{
    return -RLOGLIK(hist.data(), &P, &S);
}

// ---- The independent maximum ----------------------------------------------------------------

struct Optimum {
    double S = 0.0;
    double P = 0.0;
    double F = 0.0;
    bool wellDetermined = false;
};

// With a = S*P the likelihood splits into two binomials: a, the chance of being seen on a count
// after one that saw the dog (or the first), with 2*n111 + n110 successes in
// n100 + 2*n111 + n101 + 2*n110 trials; and q = a*(S - a)/(1 - a), the chance that a dog missed on
// the second count is seen on the third, with n101 successes in n100 + n101. Their maxima give the
// interior maximum in closed form, valid while q <= a and the point lies inside the box.
bool interiorMaximum(const Hist& h, double& S, double& P)
{
    const double trials = h[0] + 2.0 * h[1] + h[2] + 2.0 * h[3];
    if (trials <= 0.0 || h[0] + h[2] <= 0) {
        return false;
    }
    const double a = (2.0 * h[1] + h[3]) / trials;
    const double q = static_cast<double>(h[2]) / (h[0] + h[2]);
    if (a <= 0.0 || q > a) {
        return false;
    }
    S = a + q * (1.0 - a) / a;
    P = a / S;
    return S >= kLower && S <= kUpper && P >= kLower && P <= kUpper;
}

// The minimum of f over [kLower, kUpper] by brute force: the best point of a grid of step 0.001,
// then bisection on the central-difference slope between its neighbours.
template <class Function> double minimiseAlongEdge(Function f)
{
    double best = kLower;
    for (int k = 1; k <= 980; ++k) {
        const double x = kLower + k * 0.001;
        if (f(x) < f(best)) {
            best = x;
        }
    }
    const auto slope = [&](double x) { return (f(x + 1e-6) - f(x - 1e-6)) / 2e-6; };
    double lo = std::max(kLower, best - 0.001);
    double hi = std::min(kUpper, best + 0.001);
    if (slope(lo) >= 0.0) {
        return lo;
    }
    if (slope(hi) <= 0.0) {
        return hi;
    }
    for (int i = 0; i < 100 && hi - lo > 1e-15; ++i) {
        const double mid = (lo + hi) / 2.0;
        (slope(mid) < 0.0 ? lo : hi) = mid;
    }
    return (lo + hi) / 2.0;
}

// Well determined along one coordinate of f, at its minimum x: resting on a bound, f climbs into
// the box; inside, its curvature is at least |F| per unit squared, so that 1e-7 away from x the
// rise in f stands clear of F's own rounding.
template <class Function> bool determinedAlong(Function f, double x)
{
    const double F = f(x);
    if (x <= kLower || x >= kUpper) {
        const double inward = x <= kLower ? 1e-6 : -1e-6;
        return (f(x + inward) - F) / 1e-6 >= 0.1;
    }
    const double d = 1e-4;
    return (f(x + d) - 2.0 * F + f(x - d)) / (d * d) >= std::max(1.0, std::fabs(F));
}

// Inside the box both coordinates move together: the smallest curvature over all directions.
bool wellDetermined(const Hist& h, double S, double P)
{
    const auto f = [&](double s, double p) { return objective(h, s, p); };
    const bool onBound = S <= kLower || S >= kUpper || P <= kLower || P >= kUpper;
    if (onBound) {
        return determinedAlong([&](double s) { return f(s, P); }, S) &&
               determinedAlong([&](double p) { return f(S, p); }, P);
    }
    const double d = 1e-4;
    const double F = f(S, P);
    const double fss = (f(S + d, P) - 2.0 * F + f(S - d, P)) / (d * d);
    const double fpp = (f(S, P + d) - 2.0 * F + f(S, P - d)) / (d * d);
    const double fsp =
        (f(S + d, P + d) - f(S + d, P - d) - f(S - d, P + d) + f(S - d, P - d)) / (4.0 * d * d);
    const double mean = (fss + fpp) / 2.0;
    const double smallest = mean - std::sqrt(std::max(0.0, mean * mean - (fss * fpp - fsp * fsp)));
    return smallest >= std::max(1.0, std::fabs(F));
}

Optimum trueOptimum(const Hist& h)
{
    Optimum best;
    best.F = std::numeric_limits<double>::infinity();
    const auto consider = [&](double S, double P) {
        const double F = objective(h, S, P);
        if (F < best.F) {
            best = {S, P, F, false};
        }
    };
    double S = 0.0;
    double P = 0.0;
    if (interiorMaximum(h, S, P)) {
        consider(S, P);
    }
    for (const double edge : {kLower, kUpper}) {
        consider(edge, minimiseAlongEdge([&](double p) { return objective(h, edge, p); }));
        consider(minimiseAlongEdge([&](double s) { return objective(h, s, edge); }), edge);
    }
    best.wellDetermined = wellDetermined(h, best.S, best.P);
    return best;
}

// ---- The data sets ---------------------------------------------------------------------------

std::vector<Hist> dataSets()
{
    std::vector<Hist> sets{{10, 20, 5, 7},   {50, 20, 10, 20}, {30, 30, 30, 30}, {0, 0, 0, 0},
                           {0, 100, 0, 0},   {100, 0, 0, 0},   {1, 100, 1, 1},   {200, 1, 0, 0},
                           {0, 0, 5, 0},     {0, 0, 0, 5},     {1, 0, 0, 0},     {5, 50, 0, 3},
                           {100, 1, 100, 1}, {3, 200, 2, 0},   {200, 0, 0, 1},   {0, 1, 0, 0}};
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::int32_t> frequency(0, 200);
    for (int k = 0; k < 150; ++k) {
        sets.push_back(
            {frequency(random), frequency(random), frequency(random), frequency(random)});
    }
    // The numbers a thousand dogs would give at proportions near and on the bounds.
    for (const double S : {0.99, 0.98, 0.9, 0.5, 0.05, 0.02}) {
        for (const double P : {0.02, 0.5, 0.98}) {
            const double p111 = P * P * S * S;
            const double p101 = P * S * S * (1.0 - P);
            const double p110 = P * S * (1.0 - S * P);
            const auto count = [](double p) {
                return static_cast<std::int32_t>(std::lround(1000 * p));
            };
            sets.push_back(
                {count(1.0 - p111 - p101 - p110), count(p111), count(p101), count(p110)});
        }
    }
    return sets;
}

void expectInsideBounds(const Press& press)
{
    for (std::int32_t i = 0; i < press.N; ++i) {
        const auto at = static_cast<std::size_t>(i);
        EXPECT_GE(press.XC[at], press.BL[at]);
        EXPECT_LE(press.XC[at], press.BU[at]);
    }
}

// ---- Tests -----------------------------------------------------------------------------------

TEST(N_E04JYF, NoFreeParameterOnlyEvaluates)
{
    const Record record({30, 30, 30, 30}, 0.9, 0.9);
    Press press(0, 0.123, 0.456);
    press.BL.fill(-1.0);
    press.BU.fill(-2.0);
    press.IW.fill(77);
    press.W.fill(7.7);
    const Press before = press;
    press.call(record);

    EXPECT_NEAR(press.F, 211.689, 5e-4);
    EXPECT_EQ(press.IFAIL, 1);
    EXPECT_EQ(press.XC, before.XC);
    EXPECT_EQ(press.BL, before.BL);
    EXPECT_EQ(press.BU, before.BU);
    EXPECT_EQ(press.IW, before.IW);
    EXPECT_EQ(press.W, before.W);
}

TEST(N_E04JYF, ReproducesTheWorkedExamples)
{
    const struct {
        Hist hist;
        std::int32_t N;
        double S, P, F; // S < 0: held at 0.9
    } examples[] = {{{10, 20, 5, 7}, 2, 0.837, 0.814, 52.741},
                    {{50, 20, 10, 20}, 2, 0.651, 0.659, 122.641},
                    {{30, 30, 30, 30}, 2, 0.99, 0.508, 166.365},
                    {{10, 20, 5, 7}, 1, -1.0, 0.756, 53.297}};
    for (const auto& e : examples) {
        Press press(e.N, 0.9, 0.9);
        press.call(Record(e.hist, 0.9, 0.9, e.N == 2));
        EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_CONVERGED);
        EXPECT_NEAR(press.XC[static_cast<std::size_t>(e.N - 1)], e.P, 5e-4) << e.hist[0];
        if (e.N == 2) {
            EXPECT_NEAR(press.XC[0], e.S, 5e-4) << e.hist[0];
        }
        EXPECT_NEAR(press.F, e.F, 5e-4) << e.hist[0];
    }
    // On the bound exactly, not near it.
    Press bound(2, 0.9, 0.9);
    bound.call(Record({30, 30, 30, 30}, 0.9, 0.9));
    EXPECT_EQ(bound.XC[0], bound.BU[0]);
}

// Every data set of the table from three starts: the minimum to 1e-9 of F, and the estimates to
// 1e-7 wherever the data determine them.
TEST(N_E04JYF, FitsMatchTheIndependentMaximum)
{
    double worstF = 0.0;
    double worstEstimate = 0.0;
    int determined = 0;
    for (const Hist& h : dataSets()) {
        const Optimum truth = trueOptimum(h);
        determined += truth.wellDetermined ? 1 : 0;
        // The program's start, a corner, and a start a hair inside a bound as a profile may give.
        for (const auto& start :
             {std::array<double, 2>{0.9, 0.9}, std::array<double, 2>{0.01, 0.01},
              std::array<double, 2>{kUpper - 1e-9, 0.5}}) {
            Press press(2, start[0], start[1]);
            const Record record(h, start[0], start[1]);
            press.call(record);
            SCOPED_TRACE(::testing::Message() << "frequencies " << h[0] << "," << h[1] << ","
                                              << h[2] << "," << h[3] << " from " << start[0]);
            EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_CONVERGED);
            expectInsideBounds(press);
            EXPECT_EQ(press.F, objective(h, press.XC[0], press.XC[1]));
            const double errorF = std::fabs(press.F - truth.F) / std::max(1.0, std::fabs(truth.F));
            EXPECT_LE(errorF, 1e-9)
                << "true minimum " << truth.F << " at " << truth.S << "," << truth.P;
            worstF = std::max(worstF, errorF);
            if (truth.wellDetermined) {
                const double error =
                    std::max(std::fabs(press.XC[0] - truth.S), std::fabs(press.XC[1] - truth.P));
                EXPECT_LE(error, 1e-7) << "true optimum " << truth.S << "," << truth.P;
                worstEstimate = std::max(worstEstimate, error);
            }
        }
    }
    EXPECT_GT(determined, 120);
    std::printf("worst relative error in F %.3g, worst estimate error %.3g (%d well determined)\n",
                worstF, worstEstimate, determined);
}

TEST(N_E04JYF, FitsWithSHeldMatchAOneDimensionalSearch)
{
    double worstF = 0.0;
    double worstEstimate = 0.0;
    for (const Hist& h : dataSets()) {
        for (const double S : {0.9, 0.3}) {
            const double P = minimiseAlongEdge([&](double p) { return objective(h, S, p); });
            const double F = objective(h, S, P);
            Press press(1, 0.9);
            press.call(Record(h, S, 0.9, false));
            SCOPED_TRACE(::testing::Message() << "frequencies " << h[0] << "," << h[1] << ","
                                              << h[2] << "," << h[3] << " S " << S);
            EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_CONVERGED);
            expectInsideBounds(press);
            const double errorF = std::fabs(press.F - F) / std::max(1.0, std::fabs(F));
            EXPECT_LE(errorF, 1e-9);
            worstF = std::max(worstF, errorF);
            const bool determined =
                determinedAlong([&](double p) { return objective(h, S, p); }, P);
            if (determined) {
                EXPECT_NEAR(press.XC[0], P, 1e-7);
                worstEstimate = std::max(worstEstimate, std::fabs(press.XC[0] - P));
            }
        }
    }
    std::printf("worst relative error in F %.3g, worst estimate error %.3g\n", worstF,
                worstEstimate);
}

// The profile scan calls again and again with the same bounds, each point starting where the last
// ended; a fit started at its own result stays there.
TEST(N_E04JYF, RepeatedCallsLeaveTheRecordAndBoundsAndReturnTheSamePoint)
{
    for (const Hist& h : {Hist{10, 20, 5, 7}, Hist{30, 30, 30, 30}, Hist{50, 20, 10, 20}}) {
        Record record(h, 0.9, 0.9);
        for (std::size_t slot = 14; slot <= KESTRUM_IUSER_SIZE; ++slot) {
            record.IUSER[slot - 1] = static_cast<std::int32_t>(slot);
        }
        for (std::size_t slot = 9; slot <= KESTRUM_USER_SIZE; ++slot) {
            record.USER[slot - 1] = 1.0 / static_cast<double>(slot);
        }
        const Record recordBefore = record;
        Press press(2, 0.9, 0.9);
        press.call(record);
        const auto first = press.XC;
        const double firstF = press.F;
        press.call(record);

        EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_CONVERGED);
        EXPECT_NEAR(press.XC[0], first[0], 1e-7);
        EXPECT_NEAR(press.XC[1], first[1], 1e-7);
        EXPECT_NEAR(press.F, firstF, 1e-12 * firstF);
        EXPECT_EQ(record.IUSER, recordBefore.IUSER);
        EXPECT_EQ(record.USER, recordBefore.USER);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(press.BL[i], kLower);
            EXPECT_EQ(press.BU[i], kUpper);
        }
    }
}

// The program's profile of P: S alone free, P written into the record before each point.
TEST(N_E04JYF, ProfilePointsMatchTheMaximumOverS)
{
    const Hist h{10, 20, 5, 7};
    Record record(h, 0.9, 0.9);
    Press press(2, 0.9, 0.9);
    press.call(record);
    const double estimate = press.XC[1];
    press.N = 1;
    record.IUSER[1] = KESTRUM_PARAM_S;
    for (int k = 0; k < 20; ++k) {
        const double P = std::min(kUpper, 0.7 * estimate + k * 0.6 * estimate / 20.0);
        record.USER[KESTRUM_USER_P - 1] = P;
        press.call(record);
        const double S = minimiseAlongEdge([&](double s) { return objective(h, s, P); });
        const double F = objective(h, S, P);
        SCOPED_TRACE(::testing::Message() << "P " << P);
        EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_CONVERGED);
        EXPECT_LE(std::fabs(press.F - F), 1e-9 * F);
        EXPECT_NEAR(press.XC[0], S, 1e-7);
    }
}

TEST(N_E04JYF, CallsOutsideTheModelReportWhatHappened)
{
    // A negative count of free parameters is refused before anything is evaluated.
    Press negative(-1, 0.5, 0.5);
    negative.call(Record({10, 20, 5, 7}, 0.9, 0.9), KESTRUM_IFAIL_CONVERGED);
    EXPECT_EQ(negative.IFAIL, KESTRUM_IFAIL_BAD_ARGUMENTS);
    EXPECT_TRUE(std::isnan(negative.F));
    EXPECT_EQ(negative.XC[0], 0.5);

    // A free list naming no parameter of the model makes the objective undefined at the start.
    Record unknown({10, 20, 5, 7}, 0.9, 0.9);
    unknown.IUSER[1] = 3;
    Press press(2, 1.5, 0.5);
    press.call(unknown);
    EXPECT_EQ(press.IFAIL, KESTRUM_IFAIL_NONFINITE_OBJECTIVE);
    EXPECT_TRUE(std::isnan(press.F));
    EXPECT_EQ(press.XC[0], kUpper);
    EXPECT_EQ(press.XC[1], 0.5);
}

// The library keeps no state: two records fitted at once on two threads give, bit for bit, what
// each gives alone.
TEST(N_E04JYF, ConcurrentFitsOfTwoRecordsMatchTheirSolitaryResults)
{
    struct Outcome {
        std::array<double, KESTRUM_MAX_FREE> XC{};
        double F = 0.0;
        std::int32_t IFAIL = 0;
        bool operator==(const Outcome&) const = default;
    };
    const auto fitAndProfile = [](const Hist& h) {
        std::vector<Outcome> outcomes;
        Record record(h, 0.9, 0.9);
        Press press(2, 0.9, 0.9);
        press.call(record);
        outcomes.push_back({press.XC, press.F, press.IFAIL});
        press.N = 1;
        for (int k = 0; k < 10; ++k) {
            record.USER[KESTRUM_USER_P - 1] = 0.5 + 0.04 * k;
            press.call(record);
            outcomes.push_back({press.XC, press.F, press.IFAIL});
        }
        return outcomes;
    };
    const Hist first{10, 20, 5, 7};
    const Hist second{50, 20, 10, 20};
    const auto aloneFirst = fitAndProfile(first);
    const auto aloneSecond = fitAndProfile(second);

    bool firstMatches = true;
    bool secondMatches = true;
    std::thread one([&] {
        for (int round = 0; round < 30; ++round) {
            firstMatches = firstMatches && fitAndProfile(first) == aloneFirst;
        }
    });
    std::thread two([&] {
        for (int round = 0; round < 30; ++round) {
            secondMatches = secondMatches && fitAndProfile(second) == aloneSecond;
        }
    });
    one.join();
    two.join();
    EXPECT_TRUE(firstMatches);
    EXPECT_TRUE(secondMatches);
}

} // namespace
