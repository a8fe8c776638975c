// The profile scan: where its points fall for a given estimate and range, and how it switches the
// record to the profile.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kestrum.h"
#include "ProfileScan.h"

namespace kestrum {
namespace {

struct Call {
    std::int32_t N, free; // free: IUSER(2)
    double scanned, start;
};

// Records each call, then moves XC along so the next call's start shows whether it was carried.
std::vector<Call> calls;
void recordingFit(const int32_t* N, const int32_t*, const double*, const double*, double* XC,
                  double* F, int32_t*, const int32_t*, double*, const int32_t*,
                  const int32_t* IUSER, const double* USER, int32_t* IFAIL)
{
    const std::int32_t free = IUSER[KESTRUM_IUSER_IFREE - 1];
    const double scanned = USER[(free == KESTRUM_PARAM_S ? KESTRUM_USER_P : KESTRUM_USER_S) - 1];
    calls.push_back({*N, free, scanned, XC[0]});
    XC[0] += 0.001;
    *IFAIL = *N > 0 ? 0 : *IFAIL;
    *F = -scanned;
}

// Where a scan of the estimate E and range starts, ends and steps, and the percents it visits.
// 0.5: the quotient falls just below 0.015, so the step is one hundredth and 65 is not scanned.
// 0.9 and 0.99: the upper end is held at 0.99. 100% and more: the lower end is raised to 0.01.
// 4% and 0.05: a step that rounds to nothing becomes one hundredth (0.035 rounds up to 0.04).
// With S fixed the scan of P only evaluates: no parameter is left free.
TEST(ScanProfile, VisitsTheRangeFreeingTheOtherParameter)
{
    const struct {
        double E, range;
        bool sFree;
        float lo, hi, step;
        int first, last, by; // last < first: no point at all
    } cases[] = {
        {0.5, 30, true, 0.35f, 0.65f, 0.01f, 35, 64, 1},
        {0.9, 30, true, 0.63f, 0.99f, 0.02f, 63, 97, 2},
        {0.99, 30, true, 0.69f, 0.99f, 0.02f, 69, 97, 2},
        {0.17, 30, true, 0.12f, 0.221f, 0.01f, 12, 22, 1},
        {0.5, 1e6, true, 0.01f, 0.99f, 0.05f, 1, 96, 5},
        {0.5, -10, true, 0.55f, 0.45f, 0.01f, 0, -1, 1},
        {0.5, 4, true, 0.48f, 0.52f, 0.01f, 48, 51, 1},
        {0.05, 30, true, 0.04f, 0.065f, 0.01f, 4, 6, 1},
        {0.9, 30, false, 0.63f, 0.99f, 0.02f, 63, 97, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "E " << c.E << " range " << c.range);
        EstimatePress press;
        ModelRecord record;
        record.IUSER(1) = c.sFree ? 2 : 1;
        record.USER(KESTRUM_USER_P) = 0.7;
        press.N = c.sFree ? 2 : 1;
        press.XC(1) = 0.8;
        press.RANGEPCT = c.range;
        ScanRange(press, c.E);
        EXPECT_TRUE(press.SCANLO == c.lo && press.SCANSTEP == c.step &&
                    std::fabs(press.SCANHI - c.hi) < 1e-6f);
        const auto ends = ScanEnds(press);
        std::int16_t NPTS = -1;
        calls.clear();
        ScanProfile(press, record, c.sFree, NPTS, recordingFit);
        EXPECT_EQ(ends, NPTS == 0
                            ? std::nullopt
                            : std::optional(std::pair{press.PROFPCT(1), press.PROFPCT(NPTS)}));
        ASSERT_EQ(NPTS, c.last < c.first ? 0 : (c.last - c.first) / c.by + 1);
        ASSERT_EQ(calls.size(), static_cast<std::size_t>(NPTS));
        EXPECT_EQ(record.IUSER(1), c.sFree ? 2 : 1); // the full fit's count stays
        for (std::int16_t i = 1; i <= NPTS; ++i) {
            const Call& call = calls[static_cast<std::size_t>(i - 1)];
            EXPECT_EQ(press.PROFPCT(i), static_cast<float>(c.first + (i - 1) * c.by));
            EXPECT_EQ(call.N, c.sFree ? 1 : 0);
            EXPECT_EQ(call.free, c.sFree ? KESTRUM_PARAM_S : KESTRUM_PARAM_P);
            EXPECT_DOUBLE_EQ(call.start, 0.8 + 0.001 * (i - 1));
            EXPECT_FLOAT_EQ(press.PROFLL(i), static_cast<float>(call.scanned));
        }
        // The profile of P scans P with S free; S fixed holds its value and scans the slot S's.
        EXPECT_EQ(record.USER(c.sFree ? KESTRUM_USER_S : KESTRUM_USER_P), c.sFree ? 0.0 : 0.7);
    }
}

// The range that plots given positions: the nearest to the one used, since a wider range takes
// coarser steps and can end short of a narrower one (0.5 at 1000% ends at 96, at 97% at 97); none
// for a position beyond every scan around that estimate. 0.8136 and 0.6667 are the estimates of P
// for (10, 20, 5, 7) and (3, 2, 1, 0).
TEST(ReachOfScans, FindsTheNearestRangeThatPlotsTheValues)
{
    const struct {
        double E, range;
        std::vector<double> values;
        std::optional<int> found;
        float lowest, highest;
    } cases[] = {
        {0.8136, 15, {63.67}, 22, 1, 99},
        {0.8136, 15, {63.67, 92.87}, 22, 1, 99},
        {0.6667, 100, {98.03}, std::nullopt, 1, 98},
        {0.6667, 100, {19.58, 98.03}, std::nullopt, 1, 98},
        {0.5, 1000, {96.5}, 97, 1, 97},
        {0.5, 30, {50.0}, 30, 1, 97}, // plotted already
        {0.0101, 30, {98.5}, std::nullopt, 1, 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "E " << c.E << " range " << c.range);
        const ScanReach reach = ReachOfScans(c.E, c.range, c.values);
        EXPECT_EQ(reach.rangePct, c.found);
        EXPECT_EQ(reach.lowest, c.lowest);
        EXPECT_EQ(reach.highest, c.highest);
        if (reach.rangePct) {
            EstimatePress press;
            press.RANGEPCT = *reach.rangePct;
            ScanRange(press, c.E);
            const auto ends = ScanEnds(press);
            for (double value : c.values)
                EXPECT_TRUE(ends && value >= ends->first && value <= ends->second) << value;
        }
    }
}

} // namespace
} // namespace kestrum
