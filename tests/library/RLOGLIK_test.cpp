// The capture-history likelihood through the exported C function.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "kestrum.h"

namespace {

using Hist = std::array<std::int32_t, 4>;

double loglik(const Hist& hist, double P, double S)
{
    return RLOGLIK(hist.data(), &P, &S);
}

// The probability of each history, read back from the likelihood of a single dog with it.
std::array<double, 4> probabilities(double P, double S)
{
    std::array<double, 4> phist{};
    for (std::size_t i = 0; i < 4; ++i) {
        Hist one{};
        one[i] = 1;
        phist[i] = std::exp(loglik(one, P, S));
    }
    return phist;
}

TEST(RLOGLIK, HistoryProbabilitiesFollowTheModel)
{
    const auto half = probabilities(0.5, 0.5);
    EXPECT_NEAR(half[0], 0.6875, 1e-15);
    EXPECT_NEAR(half[1], 0.0625, 1e-15);
    EXPECT_NEAR(half[2], 0.0625, 1e-15);
    EXPECT_NEAR(half[3], 0.1875, 1e-15);

    const auto high = probabilities(0.9, 0.9);
    EXPECT_NEAR(high[0], 0.1171, 1e-12);
    EXPECT_NEAR(high[1], 0.6561, 1e-12);
    EXPECT_NEAR(high[2], 0.0729, 1e-12);
    EXPECT_NEAR(high[3], 0.1539, 1e-12);

    // At the corners of the program's box every history stays possible.
    const auto top = probabilities(0.99, 0.99);
    EXPECT_GT(top[0], 0.0);
    EXPECT_NEAR(top[0], 0.0102, 1e-4);
    const auto bottom = probabilities(0.01, 0.01);
    EXPECT_NEAR(bottom[1], 1e-8, 1e-20);
}

TEST(RLOGLIK, KnownValues)
{
    EXPECT_NEAR(loglik({30, 30, 30, 30}, 0.9, 0.9), -211.689, 5e-4);
    EXPECT_NEAR(loglik({30, 30, 30, 30}, 0.5, 0.5), -227.815, 5e-4);
    // P comes before S, and the model is not symmetric in them.
    EXPECT_NEAR(loglik({10, 20, 5, 7}, 0.6, 0.7), -63.001, 5e-4);
    EXPECT_NEAR(loglik({10, 20, 5, 7}, 0.7, 0.6), -64.341, 5e-4);
}

// Against the model written out independently: P(1,0,0) in its own closed form rather than as the
// complement of the other three.
TEST(RLOGLIK, MatchesTheClosedFormOverTheBox)
{
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> proportion(0.01, 0.99);
    std::uniform_int_distribution<std::int32_t> frequency(0, 200);
    for (int trial = 0; trial < 2000; ++trial) {
        const double P = proportion(random);
        const double S = proportion(random);
        const Hist hist{frequency(random), frequency(random), frequency(random), frequency(random)};
        const double p100 = (1.0 - S * P) * S * (1.0 - P) + (1.0 - S);
        const double p111 = P * P * S * S;
        const double p101 = P * S * S * (1.0 - P);
        const double p110 = P * S * ((1.0 - P) * S + (1.0 - S));
        const double expected = hist[0] * std::log(p100) + hist[1] * std::log(p111) +
                                hist[2] * std::log(p101) + hist[3] * std::log(p110);
        EXPECT_NEAR(loglik(hist, P, S), expected, 1e-11 * std::fabs(expected) + 1e-12)
            << "P=" << P << " S=" << S;
    }
}

TEST(RLOGLIK, ZeroFrequenciesAddNothing)
{
    for (const double P : {0.01, 0.37, 0.99}) {
        for (const double S : {0.01, 0.5, 0.99}) {
            EXPECT_EQ(loglik({0, 0, 0, 0}, P, S), 0.0);
            const double p110 = S * P * (1.0 - S * P);
            EXPECT_NEAR(loglik({0, 0, 0, 7}, P, S), 7.0 * std::log(p110), 1e-12);
        }
    }
}

TEST(RLOGLIK, FrequenciesAreUsedAsGiven)
{
    // A negative frequency enters the sum with its sign.
    EXPECT_DOUBLE_EQ(loglik({-3, 0, 0, 0}, 0.5, 0.5), -loglik({3, 0, 0, 0}, 0.5, 0.5));
    // Large counts do not overflow the sum.
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    EXPECT_NEAR(loglik({big, 0, 0, 0}, 0.5, 0.5), big * std::log(0.6875), 1e-3);
}

// At the edge of the model some histories become impossible (P = 1: never missed, S = 0: every
// dog leaves). An unobserved impossible history adds nothing; an observed one makes the data
// impossible; a probability below zero has no likelihood at all.
TEST(RLOGLIK, OutsideTheOpenBox)
{
    EXPECT_EQ(loglik({7, 0, 0, 0}, 0.5, 0.0), 0.0);
    EXPECT_NEAR(loglik({0, 4, 0, 2}, 1.0, 0.5), 6 * std::log(0.25), 1e-12);

    EXPECT_EQ(loglik({0, 4, 1, 2}, 1.0, 0.5), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(loglik({1, 4, 0, 2}, 0.5, 0.0), -std::numeric_limits<double>::infinity());

    EXPECT_TRUE(std::isnan(loglik({1, 1, 1, 1}, 1.5, 0.5)));
    EXPECT_TRUE(std::isnan(loglik({1, 1, 0, 1}, 1.5, 0.5)));
    EXPECT_TRUE(std::isnan(loglik({1, 1, 1, 1}, std::nan(""), 0.5)));
}

} // namespace
