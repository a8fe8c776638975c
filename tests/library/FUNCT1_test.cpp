// The objective through the exported C function: how it reads the model record and the trial point.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <vector>

#include "kestrum.h"

namespace {

using Hist = std::array<std::int32_t, 4>;
constexpr Hist kExample{10, 20, 5, 7};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Heap arrays of exactly the caller's size (XC too: N entries), so that the address sanitizer
// catches a read past either end.
struct Record {
    std::vector<std::int32_t> IUSER = std::vector<std::int32_t>(KESTRUM_IUSER_SIZE, 0);
    std::vector<double> USER = std::vector<double>(KESTRUM_USER_SIZE, 0.0);

    Record(Hist hist, std::initializer_list<std::int32_t> free, double factorS = 1,
           double factorP = 1)
    {
        std::copy(hist.begin(), hist.end(), IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
        const std::array<double, 8> slots{0.7, factorS, 0.01, 0.99, 0.6, factorP, 0.01, 0.99};
        std::copy(slots.begin(), slots.end(), USER.begin());
        IUSER[0] = static_cast<std::int32_t>(free.size());
        std::copy(free.begin(), free.end(), IUSER.begin() + 1);
    }
    double objective(std::int32_t N, std::vector<double> XC) const
    {
        double FC = 0.0;
        FUNCT1(&N, XC.empty() ? nullptr : XC.data(), &FC, IUSER.data(), USER.data());
        return FC;
    }
};

double minusLoglik(Hist hist, double S, double P)
{
    return -RLOGLIK(hist.data(), &P, &S);
}

// The record holds S = 0.7 and P = 0.6; free parameters come from XC divided by their factors, in
// free-list order. A record the model does not describe gives a quiet NaN (S NaN below).
TEST(FUNCT1, ReadsTheFreeListAndTheScaleFactors)
{
    const struct {
        std::initializer_list<std::int32_t> free;
        double factorS, factorP;
        std::vector<double> XC;
        double S, P;
    } cases[] = {
        {{}, 1, 1, {}, 0.7, 0.6}, // XC is never read
        {{KESTRUM_PARAM_P}, 1, 2, {1.8}, 0.7, 0.9},
        {{KESTRUM_PARAM_S}, 4, 1, {2.0}, 0.5, 0.6},
        {{KESTRUM_PARAM_S, KESTRUM_PARAM_P}, 1, 1, {0.8, 0.3}, 0.8, 0.3},
        {{KESTRUM_PARAM_P, KESTRUM_PARAM_S}, 1, 1, {0.8, 0.3}, 0.3, 0.8},
        {{KESTRUM_PARAM_P, KESTRUM_PARAM_P}, 1, 1, {0.8, 0.3}, 0.7, 0.3}, // the later one wins
        {{KESTRUM_PARAM_P}, 0, 1, {0.5}, 0.7, 0.5}, // a fixed parameter's factor is unused
        {{KESTRUM_PARAM_P}, 1, 0, {0.5}, kNaN, 0.0},
        {{0}, 1, 1, {0.5}, kNaN, 0.0},
        {{3}, 1, 1, {0.5}, kNaN, 0.0},
        {{-1}, 1, 1, {0.5}, kNaN, 0.0},
        {{10}, 1, 1, {0.5}, kNaN, 0.0},
    };
    for (const auto& c : cases) {
        const Record record(kExample, c.free, c.factorS, c.factorP);
        const Record before = record;
        const double value = record.objective(static_cast<std::int32_t>(c.XC.size()), c.XC);
        if (std::isnan(c.S)) {
            EXPECT_TRUE(std::isnan(value)) << "free list from " << *c.free.begin();
        } else {
            EXPECT_DOUBLE_EQ(value, minusLoglik(kExample, c.S, c.P)) << "S " << c.S << " P " << c.P;
        }
        EXPECT_EQ(record.IUSER, before.IUSER);
        EXPECT_EQ(record.USER, before.USER);
    }
    const Record record(kExample, {KESTRUM_PARAM_P});
    for (const std::int32_t N : {-1, 12, 1000, std::numeric_limits<std::int32_t>::max(),
                                 std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_TRUE(std::isnan(record.objective(N, {0.5}))) << "N = " << N;
    }
}

// Only the free list (slots 2 .. N+1), the frequencies (10 .. 13) and the value and factor slots
// of fixed parameters count.
TEST(FUNCT1, IgnoresEverySlotOutsideTheModel)
{
    Record noisy(kExample, {KESTRUM_PARAM_P});
    noisy.IUSER[0] = 2; // the free count is the program's
    noisy.IUSER[2] = 7; // a stale second entry beyond N
    std::fill(noisy.IUSER.begin() + 3, noisy.IUSER.begin() + 9, -99);
    std::fill(noisy.IUSER.begin() + 13, noisy.IUSER.end(), 12345);
    for (const std::size_t at : {2, 3, 4, 6, 7}) { // the bounds, and P's value, which XC overrides
        noisy.USER[at] = kNaN;
    }
    std::fill(noisy.USER.begin() + 8, noisy.USER.end(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(noisy.objective(1, {0.45}), minusLoglik(kExample, 0.7, 0.45));
}

} // namespace
