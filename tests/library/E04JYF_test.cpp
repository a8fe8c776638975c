// The minimiser adapter, driven directly with an objective that records every point it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "E04JYF.h"
#include "kestrum.h"

namespace {

using Point = std::vector<double>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// What the objective saw; the adapter calls it synchronously on the test's thread.
struct Trace {
    std::vector<Point> points;
    std::vector<double> values;
} trace;

enum Shape : std::int32_t { Bowl, Cliff, Infinite, Endless, Model };

double bowl(std::int32_t N, const double* x, const double* centre)
{
    double sum = 0.0;
    for (std::int32_t i = 0; i < N; ++i) {
        sum += (1.0 + i) * (x[i] - centre[i]) * (x[i] - centre[i]);
    }
    return sum;
}

// The shape comes from the record, which the adapter must hand on untouched: IUSER[0] (a slot
// FUNCT1 never reads) picks it, USER[0 .. 11] is the bowl's centre and USER[12] the cliff, past
// which (in the first coordinate) the objective is undefined. Endless improves at every call.
void objective(const std::int32_t* N, const double* XC, double* FC, const std::int32_t* IUSER,
               const double* USER)
{
    if (IUSER[0] == Model) {
        FUNCT1(N, XC, FC, IUSER, USER);
    } else {
        const bool undefined = IUSER[0] == Cliff && XC[0] > USER[12];
        *FC = IUSER[0] == Infinite  ? kInf
              : IUSER[0] == Endless ? -static_cast<double>(trace.points.size())
                                    : (undefined ? kNaN : bowl(*N, XC, USER));
    }
    trace.points.emplace_back(XC, XC + *N);
    trace.values.push_back(*FC);
}

// One call. Every run checks what holds for any call: no point outside the bounds is evaluated
// or returned, and the bounds, the workspace and the record are left as they were.
struct Call {
    std::int32_t N = 2, IBOUND = 0, LIW = KESTRUM_LIW, LW = KESTRUM_LW, IFAIL = 1;
    std::array<double, KESTRUM_MAX_FREE> BL{}, BU{}, XC{};
    double F = -12345.0;
    std::array<std::int32_t, KESTRUM_LIW> IW{};
    std::array<double, KESTRUM_LW> W{};
    std::array<std::int32_t, KESTRUM_IUSER_SIZE> IUSER{};
    std::array<double, KESTRUM_USER_SIZE> USER{};

    Call(std::initializer_list<double> centre = {}, std::initializer_list<double> start = {})
    {
        BU.fill(1.0);
        XC.fill(0.5);
        IW.fill(-7);
        W.fill(-7.5);
        std::copy(centre.begin(), centre.end(), USER.begin());
        std::copy(start.begin(), start.end(), XC.begin());
        N = centre.size() > 0 ? static_cast<std::int32_t>(centre.size()) : 2;
    }
    void run(Shape shape = Bowl)
    {
        trace = Trace{};
        IUSER[0] = shape;
        const Call before = *this;
        kestrum::E04JYF(&N, &IBOUND, objective, BL.data(), BU.data(), XC.data(), &F, IW.data(),
                        &LIW, W.data(), &LW, IUSER.data(), USER.data(), &IFAIL);
        const auto same = [](const auto& a, const auto& b) { // bitwise, so that NaN equals NaN
            return std::memcmp(a.data(), b.data(), sizeof a) == 0;
        };
        EXPECT_TRUE(same(BL, before.BL) && same(BU, before.BU) && IW == before.IW &&
                    W == before.W && IUSER == before.IUSER && USER == before.USER);
        if (trace.points.empty()) {
            return; // nothing evaluated, nothing returned
        }
        std::vector<Point> points = trace.points;
        points.emplace_back(XC.begin(), XC.begin() + N);
        for (const Point& point : points) {
            for (std::size_t i = 0; i < point.size(); ++i) {
                ASSERT_TRUE(point[i] >= BL[i] && point[i] <= BU[i]) << point[i];
            }
        }
    }
    double valueAtXC() const { return bowl(N, XC.data(), USER.data()); }
};

// The minimum to 1e-7 of each bound width from any start (a hair inside a bound, as a profile
// point may give, included), and exactly on the bound when it lies beyond. A parameter with equal
// bounds is held there (run() checks every point).
TEST(E04JYF, FindsTheMinimum)
{
    const struct {
        std::initializer_list<double> centre, start, BL, BU, expected;
    } cases[] = {
        {{0.3, 0.7}, {0.9, 0.9}, {0, 0}, {1, 1}, {0.3, 0.7}},
        {{12.5, 2.0004, 0.25}, {90, 2, 0.75}, {-50, 2, 0}, {100, 2.001, 1}, {12.5, 2.0004, 0.25}},
        {{1.7, -0.4}, {0.4, 0.6}, {0, 0}, {1, 1}, {1.0, 0.0}},
        {{0.35, 0.6}, {1 - 1e-9, 1e-9}, {0, 0}, {1, 1}, {0.35, 0.6}},
        {{0.35}, {1 - 1e-15}, {0}, {1}, {0.35}},
        {{0.6, 0.9}, {0.1, 0.8}, {0, 0.25}, {1, 0.25}, {0.6, 0.25}}, // equal bounds hold one
    };
    for (const auto& c : cases) {
        Call call(c.centre, c.start);
        std::copy(c.BL.begin(), c.BL.end(), call.BL.begin());
        std::copy(c.BU.begin(), c.BU.end(), call.BU.begin());
        call.run();
        SCOPED_TRACE(testing::Message()
                     << "centre " << *c.centre.begin() << " start " << *c.start.begin());
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED);
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const double x = c.expected.begin()[i];
            const double tolerance = (x == call.BL[i] || x == call.BU[i]) ? 0.0 : 1e-7;
            EXPECT_NEAR(call.XC[i], x, tolerance * (call.BU[i] - call.BL[i])) << i;
        }
        EXPECT_EQ(call.F, call.valueAtXC());
    }
}

// Random bounds, starts and minima anywhere: run() checks every point.
TEST(E04JYF, NeverEvaluatesOutsideTheBounds)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> anywhere(-2.0, 3.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 60; ++trial) {
        Call call;
        call.N = 1 + trial % 3;
        for (std::size_t i = 0; i < 3; ++i) {
            const double a = unit(random);
            const double b = unit(random);
            call.BL[i] = std::min(a, b);
            call.BU[i] = std::max(a, b);
            call.XC[i] = anywhere(random);
            call.USER[i] = anywhere(random);
        }
        call.run();
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED) << "trial " << trial;
    }
}

TEST(E04JYF, StartIsMovedIntoTheBox)
{
    Call outside({0.5, 0.5}, {5.0, -3.0});
    outside.run();
    EXPECT_EQ(trace.points.at(0), (Point{1.0, 0.0}));
    Call undefined({0.2, 0.2}, {kNaN, 0.5}); // no number: the middle
    undefined.run();
    EXPECT_EQ(trace.points.at(0), (Point{0.5, 0.5}));
    EXPECT_NEAR(undefined.XC[0], 0.2, 1e-7);

    // With every parameter held by its bounds there is nothing to search: one evaluation there.
    Call held({0.5, 0.5});
    held.BL = {0.75, 0.25};
    held.BU = held.BL;
    held.run();
    EXPECT_EQ(held.IFAIL, KESTRUM_IFAIL_CONVERGED);
    EXPECT_EQ(trace.points, (std::vector<Point>{{0.75, 0.25}}));
    EXPECT_EQ(held.F, trace.values.front());
}

TEST(E04JYF, BadArgumentsEvaluateNothingAndLeaveXC)
{
    const struct {
        std::int32_t N, IBOUND;
        double BL1, BU1;
    } cases[] = {{-1, 0, 0.0, 1.0}, {0, 0, 0.0, 1.0},  {13, 0, 0.0, 1.0}, {2, 1, 0.0, 1.0},
                 {2, 0, 0.6, 0.4},  {2, 0, 0.0, kNaN}, {2, 0, -kInf, 1.0}};
    for (const auto& c : cases) {
        Call call({}, {7.0, -7.0});
        call.N = c.N;
        call.IBOUND = c.IBOUND;
        call.BL[1] = c.BL1;
        call.BU[1] = c.BU1;
        const auto XC = call.XC;
        call.run();
        SCOPED_TRACE(testing::Message() << "N " << c.N << " IBOUND " << c.IBOUND << " BL " << c.BL1
                                        << " BU " << c.BU1);
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_BAD_ARGUMENTS);
        EXPECT_TRUE(trace.points.empty());
        EXPECT_EQ(call.XC, XC);
        EXPECT_TRUE(std::isnan(call.F));
    }
    Call twelve;
    twelve.N = KESTRUM_MAX_FREE;
    twelve.run();
    EXPECT_EQ(twelve.IFAIL, KESTRUM_IFAIL_CONVERGED);
    EXPECT_EQ(trace.points.at(0).size(), std::size_t{KESTRUM_MAX_FREE});
}

// An undefined value stops the search; the best defined point seen is returned with its value,
// or, with none, the start and the value it gave. So does the evaluation limit, 400 a parameter.
TEST(E04JYF, UndefinedObjectiveOrEvaluationLimitStopsTheSearch)
{
    Call atStart({}, {1.5, 0.3});
    atStart.USER[12] = -1.0; // undefined everywhere in the box
    atStart.run(Cliff);
    EXPECT_EQ(atStart.IFAIL, KESTRUM_IFAIL_NONFINITE_OBJECTIVE);
    EXPECT_EQ(trace.points, (std::vector<Point>{{1.0, 0.3}}));
    EXPECT_EQ(Point(atStart.XC.begin(), atStart.XC.begin() + 2), (Point{1.0, 0.3}));
    EXPECT_TRUE(std::isnan(atStart.F));

    Call infinite;
    infinite.run(Infinite);
    EXPECT_EQ(infinite.IFAIL, KESTRUM_IFAIL_NONFINITE_OBJECTIVE);
    EXPECT_EQ(infinite.F, kInf);

    Call midway({0.9, 0.5}, {0.2, 0.2});
    midway.USER[12] = 0.6;
    midway.run(Cliff);
    EXPECT_EQ(midway.IFAIL, KESTRUM_IFAIL_NONFINITE_OBJECTIVE);
    ASSERT_TRUE(std::isnan(trace.values.back()));
    trace.values.pop_back();
    EXPECT_EQ(midway.F, *std::min_element(trace.values.begin(), trace.values.end()));
    EXPECT_EQ(midway.F, midway.valueAtXC());

    for (const std::int32_t N : {1, 2}) {
        Call call;
        call.N = N;
        call.run(Endless);
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_EVALUATION_LIMIT);
        EXPECT_EQ(trace.points.size(), 400u * static_cast<unsigned>(N));
        EXPECT_EQ(call.F, trace.values.back());
        EXPECT_EQ(Point(call.XC.begin(), call.XC.begin() + N), trace.points.back());
    }
}

// The program's own fits from its start-up values: the tuning behind the benchmark's cost.
TEST(E04JYF, TheProgramsFitTakesAtMostFortyFiveEvaluations)
{
    for (const auto& hist :
         {std::array{10, 20, 5, 7}, std::array{50, 20, 10, 20}, std::array{30, 30, 30, 30}}) {
        Call call({0.9, 1.0, 0.01, 0.99, 0.9, 1.0, 0.01, 0.99}, {0.9, 0.9});
        call.N = 2;
        call.BL.fill(0.01);
        call.BU.fill(0.99);
        call.IUSER[1] = KESTRUM_PARAM_S;
        call.IUSER[2] = KESTRUM_PARAM_P;
        std::copy(hist.begin(), hist.end(), call.IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
        call.run(Model);
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED);
        EXPECT_LE(trace.points.size(), 45u) << hist[0] << "," << hist[1] << "," << hist[2];
    }
}

} // namespace
