// The capture-history likelihood through the exported C function.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kestrum.h"

namespace {

using Hist = std::array<std::int32_t, 4>;

double loglik(const Hist& hist, double P, double S)
{
    return RLOGLIK(hist.data(), &P, &S);
}

TEST(RLOGLIK, KnownValuesAndLimits)
{
    EXPECT_NEAR(loglik({10, 20, 5, 7}, 0.6, 0.7), -63.001, 5e-4);
    // PHIST of each history, one dog at a time; P comes before S, and the model is not symmetric
    // in them. At the program's lower corner every history stays possible.
    const struct {
        double P, S;
        std::array<double, 4> phist;
    } rows[] = {
        {0.3, 0.8, {0.6256, 0.0576, 0.1344, 0.1824}},
        {0.8, 0.3, {0.7456, 0.0576, 0.0144, 0.1824}},
        {0.01, 0.01, {0.99 + 0.9999 * 0.0099, 1e-8, 1e-6 * 0.99, 1e-4 * 0.9999}}};
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < 4; ++i) {
            Hist one{};
            one[i] = 1;
            EXPECT_NEAR(loglik(one, row.P, row.S), std::log(row.phist[i]), 1e-10)
                << "P " << row.P << " history " << i;
        }
    }

    // A zero frequency adds nothing, even where its history is impossible; an observed impossible
    // history gives -infinity, a negative probability NaN.
    EXPECT_EQ(loglik({7, 0, 0, 0}, 0.5, 0.0), 0.0);
    EXPECT_NEAR(loglik({0, 4, 0, 2}, 1.0, 0.5), 6 * std::log(0.25), 1e-12);
    EXPECT_EQ(loglik({0, 4, 1, 2}, 1.0, 0.5), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(loglik({1, 1, 0, 1}, 1.5, 0.5)));
    // Frequencies are used as given: with their sign, and without overflow.
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    EXPECT_DOUBLE_EQ(loglik({-3, big, 0, 0}, 0.5, 0.5),
                     -3 * std::log(0.6875) + big * std::log(0.0625));
}

} // namespace
