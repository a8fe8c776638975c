// The minimiser adapter, driven directly with an objective that records every point it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
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
std::vector<Point> seen;
std::vector<double> values;

// A bowl centred on USER[0 ..], undefined past USER[12] in the first coordinate, infinite
// (IUSER[0] = 1) or improving at every call (IUSER[0] = 2): the adapter must hand the record on.
void objective(const std::int32_t* N, const double* XC, double* FC, const std::int32_t* IUSER,
               const double* USER)
{
    double bowl = 0.0;
    for (std::int32_t i = 0; i < *N; ++i) {
        bowl += (1.0 + i) * (XC[i] - USER[i]) * (XC[i] - USER[i]);
    }
    *FC = IUSER[0] == 1   ? kInf
          : IUSER[0] == 2 ? -static_cast<double>(seen.size())
                          : (XC[0] > USER[12] ? kNaN : bowl);
    seen.emplace_back(XC, XC + *N);
    values.push_back(*FC);
}

// One call. Every run checks what holds for any call: no point outside the bounds is evaluated
// or returned, and the bounds, the workspace and the record are left as they were.
struct Call {
    std::int32_t N, IBOUND = 0, LIW = KESTRUM_LIW, LW = KESTRUM_LW, IFAIL = 1;
    std::array<double, KESTRUM_MAX_FREE> BL{}, BU{}, XC{};
    double F = -12345.0;
    std::array<std::int32_t, KESTRUM_LIW> IW{};
    std::array<double, KESTRUM_LW> W{};
    std::array<std::int32_t, KESTRUM_IUSER_SIZE> IUSER{};
    std::array<double, KESTRUM_USER_SIZE> USER{};

    Call(std::initializer_list<double> centre, std::initializer_list<double> start = {})
        : N(static_cast<std::int32_t>(centre.size()))
    {
        BU.fill(1.0);
        XC.fill(0.5);
        USER[12] = kInf;
        std::copy(centre.begin(), centre.end(), USER.begin());
        std::copy(start.begin(), start.end(), XC.begin());
    }
    void run(std::int32_t shape = 0)
    {
        seen.clear();
        values.clear();
        IUSER[0] = shape;
        const Call before = *this;
        kestrum::E04JYF(&N, &IBOUND, objective, BL.data(), BU.data(), XC.data(), &F, IW.data(),
                        &LIW, W.data(), &LW, IUSER.data(), USER.data(), &IFAIL);
        EXPECT_TRUE(std::memcmp(BL.data(), before.BL.data(), sizeof BL) == 0 && // NaN equals NaN
                    std::memcmp(BU.data(), before.BU.data(), sizeof BU) == 0 && IW == before.IW &&
                    W == before.W && IUSER == before.IUSER && USER == before.USER);
        std::vector<Point> points = seen;
        points.emplace_back(XC.begin(), XC.begin() + (seen.empty() ? 0 : N));
        for (const Point& point : points) {
            for (std::size_t i = 0; i < point.size(); ++i) {
                ASSERT_TRUE(point[i] >= BL[i] && point[i] <= BU[i]) << point[i];
            }
        }
    }
};

// The minimum to 1e-7 of the width from any start (outside, a hair inside a bound, no number), on
// a bound beyond it, equal bounds held; then random boxes, starts and minima.
TEST(E04JYF, FindsTheMinimumWithinTheBounds)
{
    const struct {
        std::initializer_list<double> centre, start, BL, BU, expected;
    } cases[] = {
        {{0.3, 0.7}, {0.9, 0.9}, {0, 0}, {1, 1}, {0.3, 0.7}},
        {{0.3, 0.7}, {5.0, -3.0}, {0, 0}, {1, 1}, {0.3, 0.7}},
        {{12.5, 2.0004, 0.25}, {90, 2, 0.75}, {-50, 2, 0}, {100, 2.001, 1}, {12.5, 2.0004, 0.25}},
        {{1.7, -0.4}, {0.4, 0.6}, {0, 0}, {1, 1}, {1.0, 0.0}},
        {{0.35, 0.6}, {1 - 1e-9, 1e-9}, {0, 0}, {1, 1}, {0.35, 0.6}},
        {{0.35}, {1 - 1e-15}, {0}, {1}, {0.35}},
        {{0.35, 0.6}, {kNaN, 0.5}, {0, 0}, {1, 1}, {0.35, 0.6}},
        {{0.6, 0.9}, {0.1, 0.8}, {0, 0.25}, {1, 0.25}, {0.6, 0.25}},
        {{0.6, 0.9}, {0.1, 0.8}, {0.75, 0.25}, {0.75, 0.25}, {0.75, 0.25}},
    };
    for (const auto& c : cases) {
        Call call(c.centre, c.start);
        std::copy(c.BL.begin(), c.BL.end(), call.BL.begin());
        std::copy(c.BU.begin(), c.BU.end(), call.BU.begin());
        call.run();
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED) << "centre " << *c.centre.begin();
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const double x = c.expected.begin()[i];
            const double tolerance = (x == call.BL[i] || x == call.BU[i]) ? 0.0 : 1e-7;
            EXPECT_NEAR(call.XC[i], x, tolerance * (call.BU[i] - call.BL[i])) << i;
        }
        EXPECT_EQ(call.F, *std::min_element(values.begin(), values.end()));
    }
    std::mt19937 random(11);
    std::uniform_real_distribution<double> anywhere(-2.0, 3.0);
    for (int trial = 0; trial < 60; ++trial) {
        Call call({anywhere(random), anywhere(random), anywhere(random)});
        call.N = 1 + trial % 3;
        for (std::size_t i = 0; i < 3; ++i) {
            call.BL[i] = std::uniform_real_distribution<double>(0.0, 0.5)(random);
            call.BU[i] = std::uniform_real_distribution<double>(0.5, 1.0)(random);
            call.XC[i] = anywhere(random);
        }
        call.run();
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_CONVERGED) << "trial " << trial;
    }
}

// Bad arguments evaluate nothing and leave XC. An undefined value stops the search with the best
// defined point seen, or with none the start and what it gave; so does the evaluation limit, 400
// evaluations a parameter.
TEST(E04JYF, IFAILSaysHowTheSearchEnded)
{
    const struct {
        std::int32_t N, IBOUND;
        double BL1, BU1;
    } bad[] = {{-1, 0, 0.0, 1.0}, {0, 0, 0.0, 1.0},  {13, 0, 0.0, 1.0}, {2, 1, 0.0, 1.0},
               {2, 0, 0.6, 0.4},  {2, 0, 0.0, kNaN}, {2, 0, -kInf, 1.0}};
    for (const auto& c : bad) {
        Call call({0.5, 0.5}, {7.0, -7.0});
        call.N = c.N;
        call.IBOUND = c.IBOUND;
        call.BL[1] = c.BL1;
        call.BU[1] = c.BU1;
        call.run();
        EXPECT_TRUE(call.IFAIL == KESTRUM_IFAIL_BAD_ARGUMENTS && seen.empty() &&
                    call.XC[0] == 7.0 && std::isnan(call.F))
            << "N " << c.N << " IBOUND " << c.IBOUND << " BL " << c.BL1 << " BU " << c.BU1;
    }
    Call infinite({0.5, 0.5}, {0.25, 0.5});
    infinite.run(1);
    EXPECT_TRUE(infinite.IFAIL == KESTRUM_IFAIL_NONFINITE_OBJECTIVE && infinite.F == kInf &&
                seen.size() == 1 && infinite.XC[0] == 0.25);

    Call cliff({0.9, 0.5}, {0.2, 0.2});
    cliff.USER[12] = 0.6;
    cliff.run();
    EXPECT_EQ(cliff.IFAIL, KESTRUM_IFAIL_NONFINITE_OBJECTIVE);
    ASSERT_TRUE(std::isnan(values.back()));
    values.pop_back();
    const auto best = std::min_element(values.begin(), values.end());
    EXPECT_TRUE(cliff.F == *best &&
                Point(cliff.XC.begin(), cliff.XC.begin() + 2) == seen[best - values.begin()]);

    for (const std::int32_t N : {1, 2}) {
        Call call({0.5, 0.5});
        call.N = N;
        call.run(2);
        EXPECT_EQ(call.IFAIL, KESTRUM_IFAIL_EVALUATION_LIMIT);
        EXPECT_EQ(seen.size(), 400u * static_cast<unsigned>(N));
        EXPECT_EQ(call.F, values.back());
        EXPECT_EQ(Point(call.XC.begin(), call.XC.begin() + N), seen.back());
    }
}

} // namespace
