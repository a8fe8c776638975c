// The objective through the exported C function: how it reads the model record and the trial point.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

#include "kestrum.h"

namespace {

using Hist = std::array<std::int32_t, 4>;
constexpr Hist kExample{10, 20, 5, 7};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Heap arrays of exactly the caller's size (XC too), so that the address sanitizer catches a read
// past either end. Every slot the model does not describe holds junk: the free count (the
// program's, not FUNCT1's), the free list past N, the bounds, and everything after slot 13 / 8.
struct Record {
    std::vector<std::int32_t> IUSER = std::vector<std::int32_t>(KESTRUM_IUSER_SIZE, 12345);
    std::vector<double> USER =
        std::vector<double>(KESTRUM_USER_SIZE, std::numeric_limits<double>::infinity());

    Record(std::initializer_list<std::int32_t> free, double factorS, double factorP)
    {
        std::fill(IUSER.begin(), IUSER.begin() + 9, -99);
        std::copy(free.begin(), free.end(), IUSER.begin() + 1);
        std::copy(kExample.begin(), kExample.end(), IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
        const std::array<double, 8> slots{0.7, factorS, kNaN, kNaN, 0.6, factorP, kNaN, kNaN};
        std::copy(slots.begin(), slots.end(), USER.begin());
    }
    double objective(std::int32_t N, std::vector<double> XC) const
    {
        double FC = 0.0;
        FUNCT1(&N, XC.empty() ? nullptr : XC.data(), &FC, IUSER.data(), USER.data());
        return FC;
    }
};

// The record holds S = 0.7 and P = 0.6; free parameters come from XC divided by their factors, in
// free-list order. A record the model does not describe gives a quiet NaN (S NaN below).
TEST(FUNCT1, ReadsTheFreeListAndTheScaleFactorsOnly)
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
    };
    for (const auto& c : cases) {
        const Record record(c.free, c.factorS, c.factorP);
        const Record before = record;
        const double value = record.objective(static_cast<std::int32_t>(c.XC.size()), c.XC);
        double S = c.S;
        double P = c.P;
        const double expected = std::isnan(S) ? S : -RLOGLIK(kExample.data(), &P, &S);
        EXPECT_TRUE(value == expected || (std::isnan(value) && std::isnan(expected)))
            << "free list from " << *c.free.begin() << ": " << value;
        EXPECT_TRUE(record.IUSER == before.IUSER && // bitwise, so that NaN equals NaN
                    std::memcmp(&record.USER[0], &before.USER[0], 8 * KESTRUM_USER_SIZE) == 0);
    }
    for (const std::int32_t N : {-1, 12, std::numeric_limits<std::int32_t>::min()}) {
        EXPECT_TRUE(std::isnan(Record({KESTRUM_PARAM_P}, 1, 1).objective(N, {0.5}))) << N;
    }
}

} // namespace
