// The minimiser adapter, driven directly with an objective that records every point it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "E04JYF.h"
#include "kestrum.h"

namespace {

using Point = std::vector<double>;

// What the objective saw. The adapter calls it synchronously on the test's thread.
struct Trace {
    std::vector<Point> points;
    std::vector<double> values;
    std::int32_t N = -1;
    const std::int32_t* IUSER = nullptr;
    const double* USER = nullptr;
} trace;

enum Shape : std::int32_t { Bowl, Cliff, Infinite, Endless };

double bowl(std::int32_t N, const double* x, const double* centre)
{
    double sum = 0.0;
    for (std::int32_t i = 0; i < N; ++i) {
        sum += (1.0 + i) * (x[i] - centre[i]) * (x[i] - centre[i]);
    }
    return sum;
}

// The objective reads its shape from the record, which the adapter must hand on untouched:
// IUSER[0] picks the shape, USER[0 .. 11] is the centre of the bowl and USER[12] the cliff, past
// which (in the first coordinate) the objective is undefined. Endless is better at every call.
void objective(const std::int32_t* N, const double* XC, double* FC, const std::int32_t* IUSER,
               const double* USER)
{
    switch (IUSER[0]) {
    case Cliff:
        *FC = XC[0] > USER[12] ? std::numeric_limits<double>::quiet_NaN() : bowl(*N, XC, USER);
        break;
    case Infinite:
        *FC = std::numeric_limits<double>::infinity();
        break;
    case Endless:
        *FC = -static_cast<double>(trace.points.size());
        break;
    default:
        *FC = bowl(*N, XC, USER);
    }
    trace.points.emplace_back(XC, XC + *N);
    trace.values.push_back(*FC);
    trace.N = *N;
    trace.IUSER = IUSER;
    trace.USER = USER;
}

struct Call {
    std::int32_t N = 2;
    std::int32_t IBOUND = 0;
    std::array<double, KESTRUM_MAX_FREE> BL{};
    std::array<double, KESTRUM_MAX_FREE> BU{};
    std::array<double, KESTRUM_MAX_FREE> XC{};
    double F = -12345.0;
    std::array<std::int32_t, KESTRUM_LIW> IW{};
    std::int32_t LIW = KESTRUM_LIW;
    std::array<double, KESTRUM_LW> W{};
    std::int32_t LW = KESTRUM_LW;
    std::array<std::int32_t, 1> IUSER{Bowl};
    std::array<double, 13> USER{};
    std::int32_t IFAIL = 1;

    Call(std::initializer_list<double> centre = {}, std::initializer_list<double> start = {})
    {
        BU.fill(1.0);
        XC.fill(0.5);
        IW.fill(-7);
        W.fill(-7.5);
        std::copy(centre.begin(), centre.end(), USER.begin());
        std::copy(start.begin(), start.end(), XC.begin());
    }
    void run(Shape shape = Bowl)
    {
        trace = Trace{};
        IUSER[0] = shape;
        kestrum::E04JYF(&N, &IBOUND, objective, BL.data(), BU.data(), XC.data(), &F, IW.data(),
                        &LIW, W.data(), &LW, IUSER.data(), USER.data(), &IFAIL);
    }
    double valueAtXC() const { return bowl(N, XC.data(), USER.data()); }
};

void expectAllInsideBounds(const Call& call)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(call.N); ++i) {
        for (const Point& point : trace.points) {
            ASSERT_GE(point[i], call.BL[i]) << "coordinate " << i;
            ASSERT_LE(point[i], call.BU[i]) << "coordinate " << i;
        }
        EXPECT_GE(call.XC[i], call.BL[i]);
        EXPECT_LE(call.XC[i], call.BU[i]);
    }
}

TEST(E04JYF, FindsTheMinimumAndHandsTheRecordOn)
{
    Call call({0.3, 0.7}, {0.9, 0.9});
    const auto iw = call.IW;
    const auto w = call.W;
    call.run();

    EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED);
    EXPECT_NEAR(call.XC[0], 0.3, 1e-7);
    EXPECT_NEAR(call.XC[1], 0.7, 1e-7);
    EXPECT_EQ(call.F, call.valueAtXC());
    EXPECT_EQ(trace.N, 2);
    EXPECT_EQ(trace.IUSER, call.IUSER.data());
    EXPECT_EQ(trace.USER, call.USER.data());
    EXPECT_EQ(call.IW, iw);
    EXPECT_EQ(call.W, w);
}

// The tolerance follows each parameter's bound width, whatever the units.
TEST(E04JYF, AccuracyScalesWithTheBoundWidths)
{
    Call call({12.5, 2.0004, 0.25}, {90.0, 2.0, 0.75});
    call.N = 3;
    call.BL[0] = -50.0;
    call.BU[0] = 100.0;
    call.BL[1] = 2.0;
    call.BU[1] = 2.001;
    call.run();

    EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED);
    EXPECT_NEAR(call.XC[0], 12.5, 150.0 * 1e-7);
    EXPECT_NEAR(call.XC[1], 2.0004, 0.001 * 1e-7);
    EXPECT_NEAR(call.XC[2], 0.25, 1e-7);
}

TEST(E04JYF, MinimumBeyondTheBoxEndsExactlyOnTheBounds)
{
    Call call({1.7, -0.4}, {0.4, 0.6});
    call.run();

    EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED);
    EXPECT_EQ(call.XC[0], 1.0);
    EXPECT_EQ(call.XC[1], 0.0);
    EXPECT_EQ(call.F, call.valueAtXC());
}

// Whatever the start and wherever the minimum, no point outside the bounds reaches the objective
// and the bounds themselves are left as they were.
TEST(E04JYF, NeverEvaluatesOutsideTheBounds)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> anywhere(-2.0, 3.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
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
        const auto BL = call.BL;
        const auto BU = call.BU;
        call.run();

        ASSERT_FALSE(trace.points.empty());
        expectAllInsideBounds(call);
        EXPECT_EQ(call.BL, BL);
        EXPECT_EQ(call.BU, BU);
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED);
    }
}

TEST(E04JYF, StartOutsideTheBoundsBeginsOnTheNearestBound)
{
    Call call({0.5, 0.5}, {5.0, -3.0});
    call.run();
    ASSERT_FALSE(trace.points.empty());
    EXPECT_EQ(trace.points.front(), (Point{1.0, 0.0}));
    EXPECT_NEAR(call.XC[0], 0.5, 1e-7);

    // A start that is no number begins in the middle.
    Call undefined({0.2, 0.2}, {std::nan(""), 0.5});
    undefined.run();
    ASSERT_FALSE(trace.points.empty());
    EXPECT_EQ(trace.points.front(), (Point{0.5, 0.5}));
    EXPECT_NEAR(undefined.XC[0], 0.2, 1e-7);
}

// A profile point starts from the previous estimate, which may sit a hair inside a bound: the
// search must still travel the whole box.
TEST(E04JYF, StartAHairInsideABoundStillReachesTheMinimum)
{
    for (const double hair : {1e-15, 1e-9, 1e-6}) {
        Call call({0.35, 0.6}, {1.0 - hair, hair});
        call.run();
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED);
        EXPECT_NEAR(call.XC[0], 0.35, 1e-7) << hair;
        EXPECT_NEAR(call.XC[1], 0.6, 1e-7) << hair;

        Call one({0.35}, {1.0 - hair});
        one.N = 1;
        one.run();
        EXPECT_NEAR(one.XC[0], 0.35, 1e-7) << hair;
    }
}

TEST(E04JYF, EqualBoundsHoldAParameterFixed)
{
    Call call({0.6, 0.9}, {0.1, 0.8});
    call.BL[1] = call.BU[1] = 0.25;
    call.run();

    EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED);
    for (const Point& point : trace.points) {
        ASSERT_EQ(point[1], 0.25);
    }
    EXPECT_EQ(call.XC[1], 0.25);
    EXPECT_NEAR(call.XC[0], 0.6, 1e-7);

    // With every parameter held there is nothing to search: one evaluation at the bounds.
    Call held({0.5, 0.5});
    held.BL[0] = held.BU[0] = 0.75;
    held.BL[1] = held.BU[1] = 0.25;
    held.run();
    EXPECT_EQ(held.IFAIL, KESTRUM_IFAIL_CONVERGED);
    EXPECT_EQ(trace.points, (std::vector<Point>{{0.75, 0.25}}));
    EXPECT_EQ(held.F, trace.values.front());
}

TEST(E04JYF, BadArgumentsEvaluateNothingAndLeaveXC)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        std::int32_t N, IBOUND;
        double BL1, BU1;
    } cases[] = {{"N < 0", -1, 0, 0.0, 1.0},      {"N = 0", 0, 0, 0.0, 1.0},
                 {"N > 12", 13, 0, 0.0, 1.0},     {"IBOUND = 1", 2, 1, 0.0, 1.0},
                 {"BL > BU", 2, 0, 0.6, 0.4},     {"BU NaN", 2, 0, 0.0, nan},
                 {"BL infinite", 2, 0, -inf, 1.0}};
    for (const auto& c : cases) {
        Call call({}, {7.0, -7.0});
        call.N = c.N;
        call.IBOUND = c.IBOUND;
        call.BL[1] = c.BL1;
        call.BU[1] = c.BU1;
        const auto XC = call.XC;
        call.run();
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_BAD_ARGUMENTS) << c.what;
        EXPECT_TRUE(trace.points.empty()) << c.what;
        EXPECT_EQ(call.XC, XC) << c.what;
        EXPECT_TRUE(std::isnan(call.F)) << c.what;
    }

    Call twelve;
    twelve.N = KESTRUM_MAX_FREE;
    twelve.run();
    EXPECT_EQ(twelve.IFAIL, KESTRUM_IFAIL_CONVERGED);
    EXPECT_EQ(trace.N, KESTRUM_MAX_FREE);
}

// An undefined value stops the search and is reported; the best defined point seen is returned
// with its own value, or, with none, the start and the value it gave.
TEST(E04JYF, UndefinedObjectiveStopsTheSearch)
{
    Call atStart({}, {1.5, 0.3});
    atStart.USER[12] = -1.0; // undefined everywhere in the box
    atStart.run(Cliff);
    EXPECT_EQ(atStart.IFAIL, KESTRUM_IFAIL_NONFINITE_OBJECTIVE);
    EXPECT_EQ(trace.points.size(), 1u);
    EXPECT_EQ(atStart.XC[0], 1.0);
    EXPECT_EQ(atStart.XC[1], 0.3);
    EXPECT_TRUE(std::isnan(atStart.F));

    Call infinite;
    infinite.run(Infinite);
    EXPECT_EQ(infinite.IFAIL, KESTRUM_IFAIL_NONFINITE_OBJECTIVE);
    EXPECT_EQ(infinite.F, std::numeric_limits<double>::infinity());

    Call midway({0.9, 0.5}, {0.2, 0.2});
    midway.USER[12] = 0.6;
    midway.run(Cliff);
    EXPECT_EQ(midway.IFAIL, KESTRUM_IFAIL_NONFINITE_OBJECTIVE);
    ASSERT_TRUE(std::isnan(trace.values.back()));
    EXPECT_LE(midway.XC[0], 0.6);
    EXPECT_EQ(midway.F, midway.valueAtXC());
    std::vector<double> defined;
    std::copy_if(trace.values.begin(), trace.values.end(), std::back_inserter(defined),
                 [](double v) { return !std::isnan(v); });
    EXPECT_EQ(midway.F, *std::min_element(defined.begin(), defined.end()));
}

TEST(E04JYF, EvaluationLimitIsFourHundredPerParameter)
{
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

// A fit of the model record from (S, P), counting the evaluations.
struct ModelFit {
    std::array<std::int32_t, KESTRUM_IUSER_SIZE> IUSER{2, KESTRUM_PARAM_S, KESTRUM_PARAM_P};
    std::array<double, KESTRUM_USER_SIZE> USER{};
    std::array<double, KESTRUM_MAX_FREE> XC{};
    double F = 0.0;
    std::int32_t IFAIL = 1;
    inline static int evaluations = 0;

    ModelFit(const std::array<std::int32_t, 4>& hist, double S, double P)
    {
        std::copy(hist.begin(), hist.end(), IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
        USER = {S, 1.0, 0.01, 0.99, P, 1.0, 0.01, 0.99};
        XC = {S, P};
        evaluations = 0;
        const kestrum::Objective counted = [](const std::int32_t* N, const double* x, double* FC,
                                              const std::int32_t* IU, const double* U) {
            ++evaluations;
            FUNCT1(N, x, FC, IU, U);
        };
        std::int32_t N = 2, IBOUND = 0, LIW = KESTRUM_LIW, LW = KESTRUM_LW;
        std::array<double, KESTRUM_MAX_FREE> BL{0.01, 0.01};
        std::array<double, KESTRUM_MAX_FREE> BU{0.99, 0.99};
        std::array<std::int32_t, KESTRUM_LIW> IW{};
        std::array<double, KESTRUM_LW> W{};
        kestrum::E04JYF(&N, &IBOUND, counted, BL.data(), BU.data(), XC.data(), &F, IW.data(), &LIW,
                        W.data(), &LW, IUSER.data(), USER.data(), &IFAIL);
    }
};

// On these data and starts BOBYQA stops on round-off with the minimum already found; the fit
// must not be reported as failed. With a = S*P and q = a*(S - a)/(1 - a) the likelihood splits
// into two binomials, which give the maximum in closed form.
TEST(E04JYF, RoundOffAtTheMinimumIsNoFailure)
{
    const struct {
        std::array<std::int32_t, 4> hist;
        double S, P;
    } cases[] = {{{167, 78, 64, 88}, 0.01, 0.01}, {{95, 77, 83, 191}, 0.99 - 1e-9, 0.5}};
    for (const auto& c : cases) {
        const ModelFit fit(c.hist, c.S, c.P);
        const auto& h = c.hist;
        const double a = (2.0 * h[1] + h[3]) / (h[0] + 2.0 * h[1] + h[2] + 2.0 * h[3]);
        const double q = static_cast<double>(h[2]) / (h[0] + h[2]);
        const double S = a + q * (1.0 - a) / a;
        EXPECT_EQ(fit.IFAIL, KESTRUM_IFAIL_CONVERGED) << h[0];
        EXPECT_NEAR(fit.XC[0], S, 1e-7) << h[0];
        EXPECT_NEAR(fit.XC[1], a / S, 1e-7) << h[0];
    }
}

// The program's own fits from its start-up values, counted: the benchmark reports the cost, this
// guards the tuning behind it.
TEST(E04JYF, TheProgramsFitTakesAtMostFortyFiveEvaluations)
{
    for (const auto& hist :
         {std::array<std::int32_t, 4>{10, 20, 5, 7}, std::array<std::int32_t, 4>{50, 20, 10, 20},
          std::array<std::int32_t, 4>{30, 30, 30, 30}}) {
        const ModelFit fit(hist, 0.9, 0.9);
        EXPECT_EQ(fit.IFAIL, KESTRUM_IFAIL_CONVERGED);
        EXPECT_LE(ModelFit::evaluations, 45) << hist[0] << "," << hist[1] << "," << hist[2];
    }
}

} // namespace
