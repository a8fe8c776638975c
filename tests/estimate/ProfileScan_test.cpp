// The profile scan: where its points fall for a given estimate and range, how it switches the
// record to the profile, and that what it stores is the profile the model defines.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "FUNCT1.h"
#include "ProfileScan.h"
#include "RLOGLIK.h"

namespace kestrum {
namespace {

struct Call {
    std::int32_t N;
    double scanned;
    double start;
};

// Records each call, then moves XC along so the next call's start shows whether it was carried.
std::vector<Call> calls;
void recordingFit(const int32_t* N, const int32_t*, const double*, const double*, double* XC,
                  double* F, int32_t*, const int32_t*, double*, const int32_t*,
                  const int32_t* IUSER, const double* USER, int32_t* IFAIL)
{
    const double scanned = IUSER[KESTRUM_IUSER_IFREE - 1] == KESTRUM_PARAM_S
                               ? USER[KESTRUM_USER_P - 1]
                               : USER[KESTRUM_USER_S - 1];
    calls.push_back({*N, scanned, *N > 0 ? XC[0] : 0.0});
    if (*N > 0) {
        XC[0] += 0.001;
        *IFAIL = 0;
    }
    *F = -scanned;
}

struct Scan {
    float lo, hi, step;
    std::vector<float> percents;
};

Scan scan(double E, double rangePct)
{
    EstimatePress press;
    ModelRecord record;
    press.N = 2;
    press.RANGEPCT = rangePct;
    ScanRange(press, E);
    std::int16_t NPTS = -1;
    calls.clear();
    ScanProfile(press, record, true, NPTS, recordingFit);
    Scan result{press.SCANLO, press.SCANHI, press.SCANSTEP, {}};
    for (std::int16_t i = 1; i <= NPTS; ++i) {
        result.percents.push_back(press.PROFPCT(i));
    }
    return result;
}

// Where a scan of the estimate E and range starts, ends and steps, and the percents it visits.
struct Case {
    const char* name;
    double E;
    double range;
    float lo, hi, step;
    int first, last, by; // last < first: no point at all
};

// 0.5: the quotient falls just below 0.015, so the step is one hundredth and 65 is not scanned.
// 0.9 and 0.99: the upper end is held at 0.99. 100% and more: the lower end is raised to 0.01.
// 4% and 0.05: a step that rounds to nothing becomes one hundredth (0.035 rounds up to 0.04).
const Case kCases[] = {
    {"half", 0.5, 30, 0.35f, 0.65f, 0.01f, 35, 64, 1},
    {"upper end held", 0.9, 30, 0.63f, 0.99f, 0.02f, 63, 97, 2},
    {"estimate on the bound", 0.99, 30, 0.69f, 0.99f, 0.02f, 69, 97, 2},
    {"small estimate", 0.17, 30, 0.12f, 0.221f, 0.01f, 12, 22, 1},
    {"whole range", 0.5, 100, 0.01f, 0.99f, 0.05f, 1, 96, 5},
    {"beyond the whole range", 0.5, 1e6, 0.01f, 0.99f, 0.05f, 1, 96, 5},
    {"negative range", 0.5, -10, 0.55f, 0.45f, 0.01f, 0, -1, 1},
    {"narrow scan", 0.5, 4, 0.48f, 0.52f, 0.01f, 48, 51, 1},
    {"tiny estimate", 0.05, 30, 0.04f, 0.065f, 0.01f, 4, 6, 1},
};

TEST(ScanRange, StartEndStepAndPoints)
{
    for (const Case& c : kCases) {
        const Scan s = scan(c.E, c.range);
        EXPECT_EQ(s.lo, c.lo) << c.name;
        EXPECT_FLOAT_EQ(s.hi, c.hi) << c.name;
        EXPECT_EQ(s.step, c.step) << c.name;
        std::vector<float> expected;
        for (int p = c.first; p <= c.last; p += c.by) {
            expected.push_back(static_cast<float>(p));
        }
        EXPECT_EQ(s.percents, expected) << c.name;
        EXPECT_EQ(calls.size(), expected.size()) << c.name;
    }
}

TEST(ScanProfile, ProfileOfPFreesSAndCarriesTheStart)
{
    EstimatePress press;
    ModelRecord record;
    record.IUSER(1) = 2;
    record.IUSER(2) = 1;
    record.IUSER(3) = 2;
    press.N = 2;
    press.XC(1) = 0.8;
    press.RANGEPCT = 30;
    ScanRange(press, 0.5);
    std::int16_t NPTS = 0;
    calls.clear();
    ScanProfile(press, record, true, NPTS, recordingFit);

    ASSERT_EQ(calls.size(), 30u);
    EXPECT_EQ(press.N, 1);
    EXPECT_EQ(record.IUSER(1), 2); // the full fit's count stays
    EXPECT_EQ(record.IUSER(2), KESTRUM_PARAM_S);
    for (std::size_t k = 0; k < calls.size(); ++k) {
        EXPECT_EQ(calls[k].N, 1);
        EXPECT_DOUBLE_EQ(calls[k].start, 0.8 + 0.001 * static_cast<double>(k));
        EXPECT_FLOAT_EQ(press.PROFLL(k + 1), static_cast<float>(calls[k].scanned));
    }
    EXPECT_EQ(record.USER(KESTRUM_USER_P), calls.back().scanned);
    EXPECT_EQ(record.USER(KESTRUM_USER_S), 0.0);
}

TEST(ScanProfile, FixedSScannedAloneEvaluatesOnly)
{
    EstimatePress press;
    ModelRecord record;
    record.USER(KESTRUM_USER_P) = 0.7;
    press.N = 1;
    press.RANGEPCT = 30;
    ScanRange(press, 0.9);
    std::int16_t NPTS = 0;
    calls.clear();
    ScanProfile(press, record, false, NPTS, recordingFit);
    EXPECT_EQ(NPTS, 18);
    EXPECT_EQ(press.N, 0);
    EXPECT_EQ(record.IUSER(2), KESTRUM_PARAM_P);
    for (const Call& call : calls) {
        EXPECT_EQ(call.N, 0);
    }
    EXPECT_EQ(record.USER(KESTRUM_USER_P), 0.7);
    EXPECT_NEAR(record.USER(KESTRUM_USER_S), 0.97, 1e-6);
}

// Against the library itself: each point is the likelihood maximised over S at that P, which a
// fine search over S confirms.
TEST(ScanProfile, StoresTheProfileLikelihood)
{
    Frequencies HIST;
    HIST(1) = 10;
    HIST(2) = 20;
    HIST(3) = 5;
    HIST(4) = 7;
    EstimatePress press;
    ModelRecord record;
    for (std::size_t k = 1; k <= 4; ++k) {
        record.IUSER(KESTRUM_IUSER_HIST + k - 1) = HIST(k);
    }
    record.USER(KESTRUM_USER_S + KESTRUM_USER_FACTOR) = 1.0;
    record.USER(KESTRUM_USER_P + KESTRUM_USER_FACTOR) = 1.0;
    press.N = 2;
    press.XC(1) = 0.837;
    press.BL(1) = 0.01;
    press.BU(1) = 0.99;
    press.RANGEPCT = 30;
    ScanRange(press, 0.81);
    std::int16_t NPTS = 0;
    EXPECT_EQ(ScanProfile(press, record, true, NPTS, N_E04JYF), 0);
    ASSERT_EQ(NPTS, 21);
    for (std::int16_t i = 1; i <= NPTS; ++i) {
        const double P = press.PROFPCT(i) / 100.0;
        double best = -HUGE_VAL;
        double bestS = 0.0;
        for (double S = 0.01; S <= 0.99; S += 1e-4) {
            if (const double ll = rloglik(HIST, P, S); ll > best) {
                best = ll;
                bestS = S;
            }
        }
        for (double S = bestS - 1e-4; S <= bestS + 1e-4; S += 1e-7) {
            best = std::max(best, rloglik(HIST, P, std::clamp(S, 0.01, 0.99)));
        }
        EXPECT_NEAR(press.PROFLL(i), best, 2e-5) << "P = " << P;
    }
}

} // namespace
} // namespace kestrum
