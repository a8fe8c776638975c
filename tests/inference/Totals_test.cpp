// City totals against values worked out apart from the code: the textbook formulas of the
// stratified expansion estimator, evaluated term by term in double precision.
#include <gtest/gtest.h>

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
    const auto near = [](double value, double expected) {
        EXPECT_NEAR(value, expected, 1e-10 * std::max(1.0, expected));
    };
    near(got.total, totalSeLowerUpper[0]);
    if (status == TotalStatus::Given) {
        near(got.se, totalSeLowerUpper[1]);
        near(got.lower, totalSeLowerUpper[2]);
        near(got.upper, totalSeLowerUpper[3]);
    }
}

TEST(Totals, TwoStrataAndTheCity)
{
    // centre: 3 of 10 blocks; edge: 2 of 4. Each N and V from C / P and
    // C^2 SE^2 / P^4 + C (1 - P) / P^2, s^2 with denominator b - 1, then the log-normal limits.
    const Total centre = stratumTotal(10, sampleOf({{20, 0.8, 0.05}, {30, 0.6, 0.1}, {12, 0.5, 0.08}}));
    const Total edge = stratumTotal(4, sampleOf({{15, 0.7, 0.06}, {9, 0.9, 0.03}}));
    expectTotal(centre, TotalStatus::Given, {330, 74.5925551251, 213.059977409, 511.123681343});
    expectTotal(edge, TotalStatus::Given, {62.8571428571, 16.9936302729, 37.3487322702,
                                           105.787269554});
    const std::array strata{centre, edge};
    const Total city = cityTotal(strata);
    expectTotal(city, TotalStatus::Given, {392.857142857, 76.5038087283, 269.162329602,
                                           573.396488737});
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
    struct Case {
        const char* name;
        double frame;
        std::vector<Sampled> blocks;
        TotalStatus status;
        std::array<double, 4> expected;
    };
    const double c1 = std::exp(1.959963984540054 * std::sqrt(std::log(1 + 8.69140625 / 625)));
    for (const Case& c : std::vector<Case>{
             {"one of five: scaled up, no limits", 5, {one}, TotalStatus::WithoutLimits, {125}},
             {"none used", 5, {}, TotalStatus::NotGiven, {0}},
             {"the only block: a census", 1, {one}, TotalStatus::Given,
              {25, std::sqrt(8.69140625), 25 / c1, 25 * c1}},
             {"an empty stratum", 0, {}, TotalStatus::Given, {0, 0, 0, 0}},
             {"no dogs anywhere", 3, {{0, 0.5, 0.1}, {0, 0.7, 0.1}}, TotalStatus::Given,
              {0, 0, 0, 0}},
         }) {
        SCOPED_TRACE(c.name);
        expectTotal(stratumTotal(c.frame, sampleOf(c.blocks)), c.status, c.expected);
    }

    // The city is only as complete as its least complete stratum.
    const Total given = stratumTotal(1, sampleOf({one}));
    const Total noLimits = stratumTotal(5, sampleOf({one}));
    const Total none = stratumTotal(5, sampleOf({}));
    expectTotal(cityTotal(std::array{given, noLimits}), TotalStatus::WithoutLimits, {150});
    EXPECT_EQ(cityTotal(std::array{noLimits, none, given}).status, TotalStatus::NotGiven);
    EXPECT_FALSE(cityTotal(std::array{given, none}).perBlock());
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
             Case{{3, 4, 5, 6}, std::nullopt, 30, LeftOut::OnBound},   // S on 0.99
             Case{{20, 0, 0, 0}, 0.5, 10, LeftOut::OnBound},           // P on 0.01
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
