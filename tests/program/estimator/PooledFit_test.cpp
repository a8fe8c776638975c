// The pooled fit and the test of "shared" against "separate": blocks that agree must not look
// different, blocks that differ must, blocks with S held stay out, and the chi-square tail holds
// for the degrees of freedom of a large survey.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "FitCheck.h"
#include "PooledFit.h"
#include "kestrum.h"

namespace kestrum::survey {
namespace {

using inference::Counts;
using inference::Parameter;

BlockAnalysis fitted(const Counts& counts, std::optional<double> sFixed = std::nullopt)
{
    EstimateInputs inputs;
    inputs.S = sFixed.value_or(0.9);
    inputs.P = 0.9;
    inputs.frequencies(1) = counts.n100;
    inputs.frequencies(2) = counts.n111;
    inputs.frequencies(3) = counts.n101;
    inputs.frequencies(4) = counts.n110;
    return estimateBlock(inputs, !sFixed, Parameter::P, N_E04JYF);
}

PooledResult pool(const std::vector<Counts>& blocks)
{
    PooledFit pooled;
    for (const Counts& counts : blocks) {
        pooled.add(counts, true, fitted(counts));
    }
    return pooled.finish(Parameter::P, N_E04JYF);
}

TEST(PooledFit, BlocksThatAgreeShowNoDifference)
{
    const PooledResult result = pool({{10, 20, 5, 7}, {10, 20, 5, 7}, {20, 40, 10, 14}});
    const PooledComparison& c = result.comparison;
    ASSERT_TRUE(c.given()) << c.reason;
    EXPECT_NEAR(c.lr, 0.0, 1e-6);
    EXPECT_GT(c.p, 0.999);
    EXPECT_EQ(c.df, 4);
    EXPECT_LT(c.aicShared, c.aicSeparate) << "four parameters fewer for the same likelihood";
    EXPECT_EQ(c.roughBlocks, 0u);
}

TEST(PooledFit, BlocksThatDifferAreToldApart)
{
    // Few dogs seen again against most of them seen again.
    const PooledResult result = pool({{60, 5, 5, 10}, {5, 60, 5, 10}});
    const PooledComparison& c = result.comparison;
    ASSERT_TRUE(c.given()) << c.reason;
    EXPECT_GT(c.lr, 50.0);
    EXPECT_LT(c.p, 1e-10);
    EXPECT_LT(c.aicSeparate, c.aicShared);
    EXPECT_EQ(c.df, 2);
    // The statistic compares maxima: it is twice the blocks' maxima less the shared one.
    const double separate = fitted({60, 5, 5, 10}).analysis.fit.logLikelihood +
                            fitted({5, 60, 5, 10}).analysis.fit.logLikelihood;
    EXPECT_NEAR(c.lr, 2.0 * (separate - result.fit->analysis.fit.logLikelihood), 1e-9);
}

TEST(PooledFit, BlocksWithSHeldTakeNoPart)
{
    PooledFit pooled;
    const Counts a{10, 20, 5, 7};
    const Counts b{30, 40, 10, 12};
    pooled.add(a, true, fitted(a));
    pooled.add(b, false, fitted(b, 0.5));
    pooled.add(b, true, fitted(b));
    const PooledResult result = pooled.finish(Parameter::P, N_E04JYF);
    EXPECT_EQ(result.blocks, 2u);
    EXPECT_EQ(result.fixedSBlocks, 1u);
    EXPECT_EQ(result.summed[0], 40);
    EXPECT_EQ(result.fit->P, fitted({40, 60, 15, 19}).P);
}

TEST(PooledFit, NeedsBlocksToPoolAndTwoToCompare)
{
    EXPECT_FALSE(pool({}).fit);
    EXPECT_FALSE(pool({}).reason.empty());

    const PooledResult one = pool({{10, 20, 5, 7}});
    ASSERT_TRUE(one.fit);
    EXPECT_EQ(one.fit->P, fitted({10, 20, 5, 7}).P);
    EXPECT_FALSE(one.comparison.given());
    EXPECT_NE(one.comparison.reason.find("two blocks"), std::string::npos);
}

TEST(PooledFit, SumsBeyondTheLibrarysIntegersAreRefusedNotWrapped)
{
    const std::int32_t big = std::numeric_limits<std::int32_t>::max() - 5;
    const PooledResult result = pool({{big, 20, 5, 7}, {big, 20, 5, 7}});
    EXPECT_FALSE(result.fit);
    EXPECT_NE(result.reason.find("exceeds 2147483647"), std::string::npos);
    EXPECT_EQ(result.summed[0], 2 * static_cast<std::int64_t>(big));
}

TEST(PooledFit, BlocksOnABoundMakeTheComparisonRough)
{
    const PooledResult result = pool({{10, 20, 5, 7}, {3, 4, 5, 6}});
    EXPECT_EQ(result.comparison.roughBlocks, 1u); // the second block's S lies on 0.99
}

} // namespace
} // namespace kestrum::survey
