// City totals and vaccination coverage against values worked out apart from the code: the
// textbook formulas of the stratified expansion and ratio estimators, evaluated term by term (each
// block's d = x (c - R) on its own) in double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "Analysis.h"
#include "Coverage.h"
#include "SharedP.h"
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

TEST(Totals, SharedPDividesOnceWithItsProfileLimits)
{
    // A known exactly: T's limits are A over P's limits, the other way round.
    SharedPLimits P{0.5, 0.4, 0.625, 0.01};
    Total exact;
    exact.status = TotalStatus::Given;
    exact.total = exact.lower = exact.upper = 200.0;
    expectTotal(divideByP(exact, P), TotalStatus::Given, {400, 40, 320, 500});
    // P known exactly: A's own limits, divided by P.
    const Total A = stratumTotal(10, sampleOf({{20, 1, 0}, {30, 1, 0}, {12, 1, 0}}));
    const Total T = divideByP(A, {0.5, 0.5, 0.5, 0.0});
    expectTotal(T, TotalStatus::Given, {A.total * 2, A.se * 2, A.lower * 2, A.upper * 2});
    // One stratum is its own sum; two join their distances from the total as independent.
    expectTotal(sumOfStrata(std::array{T}), TotalStatus::Given, {T.total, T.se, T.lower, T.upper});
    const Total sum = sumOfStrata(std::array{T, divideByP(exact, P)});
    EXPECT_NEAR(sum.upper - sum.total, std::hypot(T.upper - T.total, 100.0), 1e-9);
    EXPECT_NEAR(sum.total - sum.lower, std::hypot(T.total - T.lower, 80.0), 1e-9);
}

TEST(Totals, EachBlockKeepsWhatItsOwnDogsShowBeyondChance)
{
    const auto P = [](const SharedP& shared, Counts c, double sHeld = 0.0) {
        return blockP(shared, {c, sHeld}).P;
    };
    // Alike blocks, or too few to tell a spread from chance: every block takes the shared P,
    // which is the fit of the summed histories.
    const std::vector<GroupBlock> alike(6, GroupBlock{{10, 20, 5, 7}});
    const std::span<const GroupBlock> alikeSpan(alike);
    const SharedP same = sharedP(std::span(&alikeSpan, 1));
    EXPECT_EQ(same.spread, 0.0);
    EXPECT_DOUBLE_EQ(same.P(), fit({{60, 120, 30, 42}, true, 0.0, Parameter::P}).P);
    EXPECT_DOUBLE_EQ(P(same, {0, 0, 0, 0}), same.P());

    // Large blocks of two kinds, P near 0.8 and near 0.4 at S = 0.9: each keeps nearly its own a
    // = S P, so their P stand as 2 to 1 (the shared S, fitted to both kinds, sets the scale), and
    // a block with no dog identified takes the middle. The model's expected histories of 10,000
    // dogs a block.
    const auto expected = [](double p, double s) {
        const double n = 10000;
        const auto c111 = static_cast<std::int32_t>(n * s * p * s * p);
        const auto c101 = static_cast<std::int32_t>(n * s * s * p * (1 - p));
        const auto c110 = static_cast<std::int32_t>(n * s * p * (1 - s * p));
        return Counts{static_cast<std::int32_t>(n) - c111 - c101 - c110, c111, c101, c110};
    };
    std::vector<GroupBlock> two;
    for (int k = 0; k < 6; ++k) {
        two.push_back({expected(k % 2 == 0 ? 0.8 : 0.4, 0.9)});
    }
    const std::span<const GroupBlock> twoSpan(two);
    const SharedP differ = sharedP(std::span(&twoSpan, 1));
    EXPECT_GT(differ.spread, 0.0);
    EXPECT_NEAR(differ.spreadOfP(), 0.2 * std::sqrt(6.0 / 5), 0.02);
    const double high = P(differ, two[0].counts);
    const double low = P(differ, two[1].counts);
    EXPECT_NEAR(high / low, 2.0, 0.02);
    EXPECT_NEAR(P(differ, {0, 0, 0, 0}), (high + low) / 2, 0.01);
    // A block holding S takes P from its own a at that S.
    EXPECT_NEAR(P(differ, expected(0.3, 0.6), 0.6), 0.3, 0.01);
    // Within the bounds, however the block's dogs fell.
    EXPECT_GE(P(differ, {50, 0, 0, 0}), kLowerBound);
}

TEST(Coverage, WilsonLimitsStayInsideZeroToOne)
{
    for (const auto& [marked, identified, lower, upper] :
         std::initializer_list<std::array<double, 4>>{
             {0, 10, 0, 0.2775327998628892},
             {7, 10, 0.39677814746114537, 0.8922087325936989},
             {10, 10, 0.7224672001371107, 1},
         }) {
        const Share share = wilson(marked, identified);
        EXPECT_DOUBLE_EQ(share.estimate, marked / identified);
        EXPECT_NEAR(share.lower, lower, 1e-13);
        EXPECT_NEAR(share.upper, upper, 1e-13);
        EXPECT_TRUE(share.lower <= share.estimate && share.estimate <= share.upper);
    }
    EXPECT_FALSE(wilson(0, 0).given()) << "no dog identified";
}

// Two strata of a frame, one alone, the survey's blocks as drawn from a city too large to count,
// and a census; each block's dogs x (with the variance of its estimate) and marked m of n.
TEST(Coverage, ShareOfAllTheDogsWithLimitsForTheChoiceOfBlocks)
{
    struct Block {
        double x, m, n, varianceOfX;
    };
    const auto sampleOf = [](const std::vector<Block>& blocks) {
        CoverageSample sample;
        for (const Block& b : blocks) {
            sample.add(b.x, b.varianceOfX, b.m, b.n);
        }
        return sample;
    };
    const std::vector<Block> centreBlocks{{20, 6, 10, 4}, {30, 12, 15, 9}, {12, 2, 8, 2}};
    const std::vector<Block> edgeBlocks{{15, 9, 12, 3}, {9, 3, 6, 1}};
    const CoverageSample centre = sampleOf(centreBlocks);
    const CoverageSample edge = sampleOf(edgeBlocks);
    std::vector<Block> all = centreBlocks;
    all.insert(all.end(), edgeBlocks.begin(), edgeBlocks.end());
    const CoverageSample survey = sampleOf(all);
    const double infinite = std::numeric_limits<double>::infinity();

    // share, se, lower, upper; the t quantile of 3, 2, 4 and no degrees of freedom.
    const std::vector<std::pair<std::vector<CoverageStratum>, std::array<double, 4>>> cases{
        {{{10, &centre}, {4, &edge}},
         {0.634162303665, 0.0965432669255, 0.333439168945, 0.857282608264}},
        {{{10, &centre}}, {0.629032258065, 0.117855939335, 0.20514096749, 0.917632213584}},
        {{{infinite, &survey}}, {0.636627906977, 0.0923735863226, 0.378060911062, 0.834698958028}},
        {{{2, &edge}}, {0.65625, 0.0613480890389, 0.529897058341, 0.763781272292}},
    };
    for (const auto& [strata, expected] : cases) {
        const Coverage got = coverage(strata);
        ASSERT_EQ(got.status, CoverageStatus::Given);
        const std::array<double, 4> values{got.share, got.se, got.lower, got.upper};
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_NEAR(values[k], expected[k], 1e-10) << "column " << k;
        }
    }

    // One block of a stratum sampled: no spread, no limits; a stratum of the frame with blocks
    // and none that gives a share: no share. A stratum of no blocks adds nothing.
    const CoverageSample one = sampleOf({centreBlocks[0]});
    const CoverageSample none;
    const std::vector<CoverageStratum> single{{10, &one}, {4, &edge}};
    EXPECT_EQ(coverage(single).status, CoverageStatus::WithoutLimits);
    const std::vector<CoverageStratum> missing{{10, &centre}, {4, &none}};
    EXPECT_EQ(coverage(missing).status, CoverageStatus::NotGiven);
    const std::vector<CoverageStratum> empty{{10, &centre}, {0, &none}};
    EXPECT_NEAR(coverage(empty).share, 0.629032258065, 1e-10);
    EXPECT_NEAR(coverage(empty).upper, 0.917632213584, 1e-10);

    // Every dog marked, or none: limits inside 0..1 that reach the share itself.
    for (const double m : {0.0, 1.0}) {
        const CoverageSample extreme =
            sampleOf({{20, 10 * m, 10, 4}, {30, 15 * m, 15, 9}, {12, 8 * m, 8, 2}});
        const CoverageStratum stratum{10, &extreme};
        const Coverage got = coverage(std::span(&stratum, 1));
        EXPECT_EQ(got.share, m);
        EXPECT_TRUE(got.lower >= 0.0 && got.upper <= 1.0 && got.lower < got.upper);
        EXPECT_EQ(m == 0.0 ? got.lower : got.upper, m);
    }
}

} // namespace
} // namespace kestrum::inference
