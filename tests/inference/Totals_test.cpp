// City totals against values worked out apart from the code: the textbook formulas of the
// stratified expansion estimator, evaluated term by term in double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>

#include "Analysis.h"
#include "Totals.h"

namespace kestrum::inference {
namespace {

struct Sampled {
    double count, P, seP;
};

StratumSample sampleOf(const std::vector<Sampled>& blocks)
{
    StratumSample sample;
    for (const Sampled& b : blocks) {
        sample.add(blockDogs(b.count, b.P, b.seP));
    }
    return sample;
}

void expectTotal(const Total& got, TotalStatus status, std::array<double, 4> totalSeLowerUpper)
{
    EXPECT_EQ(got.status, status);
    const std::array<double, 4> values{got.total, got.se, got.lower, got.upper};
    for (std::size_t k = 0; k < (status == TotalStatus::Given ? 4u : 1u); ++k) {
        const double expected = totalSeLowerUpper[k];
        EXPECT_NEAR(values[k], expected, 1e-10 * std::max(1.0, expected)) << "column " << k;
    }
}

TEST(Totals, TwoStrataAndTheCity)
{
    // centre: 3 of 10 blocks; edge: 2 of 4. Each N and V from C / P and
    // C^2 SE^2 / P^4 + C (1 - P) / P^2, s^2 with denominator b - 1, then the log-normal limits.
    const Total centre =
        stratumTotal(10, sampleOf({{20, 0.8, 0.05}, {30, 0.6, 0.1}, {12, 0.5, 0.08}}));
    const Total edge = stratumTotal(4, sampleOf({{15, 0.7, 0.06}, {9, 0.9, 0.03}}));
    expectTotal(centre, TotalStatus::Given, {330, 74.5925551251, 213.059977409, 511.123681343});
    expectTotal(edge, TotalStatus::Given,
                {62.8571428571, 16.9936302729, 37.3487322702, 105.787269554});
    const std::array strata{centre, edge};
    const Total city = cityTotal(strata);
    expectTotal(city, TotalStatus::Given,
                {392.857142857, 76.5038087283, 269.162329602, 573.396488737});
    EXPECT_DOUBLE_EQ(centre.perBlock().value(), 33.0);
    EXPECT_DOUBLE_EQ(city.perBlock().value(), 392.857142857142857 / 14);

    // The spread between blocks must not cancel away when every block holds many dogs.
    const double big = 1e9;
    const Total far = stratumTotal(4, sampleOf({{big, 0.5, 0}, {big + 2, 0.5, 0}}));
    EXPECT_NEAR(far.variance, 4 * 2 * 8.0 / 2 + 2 * (4 * big + 4), 1e-3);
}

TEST(Totals, FewBlocksUsed)
{
    const Sampled one{20, 0.8, 0.05}; // N = 25, V = 2.44140625 + 6.25
    const double c1 = std::exp(1.959963984540054 * std::sqrt(std::log(1 + 8.69140625 / 625)));
    const Total noLimits = stratumTotal(5, sampleOf({one}));
    const Total none = stratumTotal(5, sampleOf({}));
    const Total census = stratumTotal(1, sampleOf({one}));
    const Total empty = stratumTotal(0, sampleOf({}));
    expectTotal(noLimits, TotalStatus::WithoutLimits, {125});
    expectTotal(none, TotalStatus::NotGiven, {0});
    expectTotal(census, TotalStatus::Given, {25, std::sqrt(8.69140625), 25 / c1, 25 * c1});
    expectTotal(empty, TotalStatus::Given, {0, 0, 0, 0});

    // The city is only as complete as its least complete stratum.
    expectTotal(cityTotal(std::array{census, noLimits, empty}), TotalStatus::WithoutLimits, {150});
    EXPECT_EQ(cityTotal(std::array{noLimits, none, census}).status, TotalStatus::NotGiven);
    EXPECT_FALSE(cityTotal(std::array{census, none}).perBlock());
}

TEST(Totals, OnlyBlocksWithACountAndAnInteriorPWithItsErrorAreUsed)
{
    struct Case {
        Counts counts;
        std::optional<double> sFixed;
        std::optional<double> count;
        LeftOut expected;
    };
    for (const Case& c : {
             Case{{10, 20, 5, 7}, std::nullopt, 30, LeftOut::None},
             Case{{12, 8, 6, 9}, 0.8, 0, LeftOut::None},
             Case{{10, 20, 5, 7}, std::nullopt, std::nullopt, LeftOut::NoStreetCount},
             Case{{3, 4, 5, 6}, std::nullopt, 30, LeftOut::OnBound},    // S on 0.99
             Case{{20, 0, 0, 0}, 0.5, 10, LeftOut::OnBound},            // P on 0.01
             Case{{0, 10, 0, 5}, std::nullopt, 40, LeftOut::NoUniqueP}, // S and P confounded
         }) {
        Problem problem{c.counts, !c.sFixed, c.sFixed.value_or(0.0), Parameter::P};
        const Analysis a = analyse(problem);
        SCOPED_TRACE(describe(c.expected));
        EXPECT_EQ(leftOut(c.count, a.fit, a.standardErrors), c.expected);
    }
}

} // namespace
} // namespace kestrum::inference
