// The entry point through the shared library, called as the program calls it. Its fits are checked
// against the exact maximum beside the inference, which finds that maximum in closed form.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>

#include "kestrum.h"

namespace {

// With no free parameter nothing but F is written, not even IFAIL, and the bounds are not looked
// at; a negative N is refused, not taken for none.
TEST(N_E04JYF, NoFreeParameterOnlyEvaluates)
{
    std::array<std::int32_t, KESTRUM_IUSER_SIZE> IUSER{};
    std::array<double, KESTRUM_USER_SIZE> USER{0.9, 1.0, 0.01, 0.99, 0.9, 1.0, 0.01, 0.99};
    const std::array<std::int32_t, 4> hist{30, 30, 30, 30};
    std::copy(hist.begin(), hist.end(), IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
    std::array<double, KESTRUM_MAX_FREE> BL{-1.0, -1.0}, BU{-2.0, -2.0}, XC{0.123, 0.456};
    std::array<std::int32_t, KESTRUM_LIW> IW{};
    std::array<double, KESTRUM_LW> W{};
    std::int32_t N = 0, IBOUND = 0, LIW = KESTRUM_LIW, LW = KESTRUM_LW, IFAIL = 77;
    double F = 0.0;
    const auto call = [&] {
        N_E04JYF(&N, &IBOUND, BL.data(), BU.data(), XC.data(), &F, IW.data(), &LIW, W.data(), &LW,
                 IUSER.data(), USER.data(), &IFAIL);
    };
    call();
    EXPECT_NEAR(F, 211.689, 5e-4);
    EXPECT_TRUE(IFAIL == 77 && XC[0] == 0.123 && XC[1] == 0.456);

    N = -1;
    call();
    EXPECT_TRUE(IFAIL == KESTRUM_IFAIL_BAD_ARGUMENTS && std::isnan(F) && XC[0] == 0.123);
}

} // namespace
