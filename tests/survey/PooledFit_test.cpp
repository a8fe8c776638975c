// The pooled fit and the test of "shared" against "separate". That the pooled row is the fit of
// the summed frequencies, with blocks that hold S left out, is checked on the built program.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "PooledFit.h"
#include "kestrum.h"

namespace kestrum::survey {
namespace {

using inference::Counts;

PooledResult pool(const std::vector<Counts>& blocks)
{
    PooledFit pooled;
    for (const Counts& counts : blocks) {
        EstimateInputs inputs;
        inputs.S = 0.9;
        inputs.P = 0.9;
        inputs.frequencies(1) = counts.n100;
        inputs.frequencies(2) = counts.n111;
        inputs.frequencies(3) = counts.n101;
        inputs.frequencies(4) = counts.n110;
        pooled.add(counts, true,
                   estimateBlock(inputs, true, inference::Parameter::P, N_E04JYF).analysis.fit);
    }
    return pooled.finish(inference::Parameter::P, N_E04JYF);
}

TEST(PooledFit, BlocksThatAgreeShowNoDifferenceAndBlocksThatDifferDo)
{
    const PooledComparison same =
        pool({{10, 20, 5, 7}, {10, 20, 5, 7}, {20, 40, 10, 14}}).comparison;
    ASSERT_TRUE(same.given()) << same.reason;
    EXPECT_NEAR(same.lr, 0.0, 1e-6);
    EXPECT_GT(same.p, 0.999);
    EXPECT_EQ(same.df, 4);
    EXPECT_NEAR(same.aicSeparate - same.aicShared, 8.0, 1e-5) << "four parameters fewer";
    EXPECT_EQ(same.roughBlocks, 0u);

    // Few dogs seen again against most of them seen again.
    const PooledComparison apart = pool({{60, 5, 5, 10}, {5, 60, 5, 10}}).comparison;
    ASSERT_TRUE(apart.given()) << apart.reason;
    EXPECT_GT(apart.lr, 50.0);
    EXPECT_LT(apart.p, 1e-10);
    EXPECT_EQ(apart.df, 2);
    EXPECT_LT(apart.aicSeparate, apart.aicShared);

    // The second block's S lies on its bound: the chi-square reference is rough.
    EXPECT_EQ(pool({{10, 20, 5, 7}, {3, 4, 5, 6}}).comparison.roughBlocks, 1u);
}

TEST(PooledFit, NeedsBlocksToPoolTwoToCompareAndSumsTheLibraryTakes)
{
    EXPECT_FALSE(pool({}).fit);
    const PooledResult one = pool({{10, 20, 5, 7}});
    EXPECT_TRUE(one.fit);
    EXPECT_NE(one.comparison.reason.find("two blocks"), std::string::npos);
    const std::int32_t big = std::numeric_limits<std::int32_t>::max() - 5;
    const PooledResult result = pool({{big, 20, 5, 7}, {big, 20, 5, 7}});
    EXPECT_FALSE(result.fit);
    EXPECT_NE(result.reason.find("exceeds 2147483647"), std::string::npos);
    EXPECT_EQ(result.summed[0], 2 * static_cast<std::int64_t>(big));
}

} // namespace
} // namespace kestrum::survey
