// The objective through the exported C function: how it reads the model record and the trial point.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <vector>

#include "kestrum.h"

namespace {

// The model record in heap arrays of exactly the caller's size, so that a read past either end
// is caught by the address sanitizer. Slots are numbered from 1.
struct Record {
    std::vector<std::int32_t> IUSER = std::vector<std::int32_t>(KESTRUM_IUSER_SIZE, 0);
    std::vector<double> USER = std::vector<double>(KESTRUM_USER_SIZE, 0.0);

    Record(std::array<std::int32_t, 4> hist, double S, double P)
    {
        std::copy(hist.begin(), hist.end(), IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
        const double slots[] = {S, 1.0, 0.01, 0.99, P, 1.0, 0.01, 0.99};
        std::copy(std::begin(slots), std::end(slots), USER.begin());
    }
    std::int32_t& iuser(std::size_t slot) { return IUSER.at(slot - 1); }
    double& user(std::size_t slot) { return USER.at(slot - 1); }
    void freeList(std::initializer_list<std::int32_t> parameters)
    {
        iuser(KESTRUM_IUSER_NFREE) = static_cast<std::int32_t>(parameters.size());
        std::size_t slot = KESTRUM_IUSER_IFREE;
        for (const std::int32_t parameter : parameters) {
            iuser(slot++) = parameter;
        }
    }
};

double objective(std::int32_t N, const double* XC, const Record& record)
{
    double FC = std::nan("");
    FUNCT1(&N, XC, &FC, record.IUSER.data(), record.USER.data());
    return FC;
}

double minusLoglik(std::array<std::int32_t, 4> hist, double S, double P)
{
    return -RLOGLIK(hist.data(), &P, &S);
}

constexpr std::array<std::int32_t, 4> kExample{10, 20, 5, 7};

TEST(FUNCT1, NoFreeParameterEvaluatesTheRecordAndNeverReadsXC)
{
    const Record record({30, 30, 30, 30}, 0.9, 0.9);
    EXPECT_NEAR(objective(0, nullptr, record), 211.689, 5e-4);
}

TEST(FUNCT1, FreeParametersComeFromXCInFreeListOrderAndAreUnscaled)
{
    Record record(kExample, 0.7, 0.6);

    // P free, its factor 2: XC(1) = 1.8 is P = 0.9; S stays at the record's 0.7.
    record.freeList({KESTRUM_PARAM_P});
    record.user(6) = 2.0;
    const double pFree[] = {1.8};
    EXPECT_DOUBLE_EQ(objective(1, pFree, record), minusLoglik(kExample, 0.7, 0.9));

    // S free, its factor 4: XC(1) = 2.0 is S = 0.5; P stays at the record's 0.6.
    record.freeList({KESTRUM_PARAM_S});
    record.user(2) = 4.0;
    const double sFree[] = {2.0};
    EXPECT_DOUBLE_EQ(objective(1, sFree, record), minusLoglik(kExample, 0.5, 0.6));

    record.user(2) = 1.0;
    record.user(6) = 1.0;
    const double both[] = {0.8, 0.3};
    record.freeList({KESTRUM_PARAM_S, KESTRUM_PARAM_P});
    EXPECT_DOUBLE_EQ(objective(2, both, record), minusLoglik(kExample, 0.8, 0.3));
    record.freeList({KESTRUM_PARAM_P, KESTRUM_PARAM_S});
    EXPECT_DOUBLE_EQ(objective(2, both, record), minusLoglik(kExample, 0.3, 0.8));

    // Named twice, the later position wins.
    record.freeList({KESTRUM_PARAM_P, KESTRUM_PARAM_P});
    EXPECT_DOUBLE_EQ(objective(2, both, record), minusLoglik(kExample, 0.7, 0.3));
}

// Only the free list (slots 2 .. N+1), the frequencies (10 .. 13) and the value and factor slots
// count. Everything else in the record, including the bound slots, the free-count slot, the value
// of a free parameter and any stale entry after the free list, may hold anything.
TEST(FUNCT1, IgnoresEverySlotOutsideTheModel)
{
    Record clean(kExample, 0.7, 0.6);
    clean.freeList({KESTRUM_PARAM_P});
    const double XC[] = {0.45};
    const double expected = objective(1, XC, clean);
    EXPECT_DOUBLE_EQ(expected, minusLoglik(kExample, 0.7, 0.45));

    Record noisy = clean;
    noisy.iuser(KESTRUM_IUSER_NFREE) = 2;
    noisy.iuser(3) = 7; // a stale second entry beyond N
    for (std::size_t slot = 4; slot <= 9; ++slot) {
        noisy.iuser(slot) = -99;
    }
    for (std::size_t slot = 14; slot <= KESTRUM_IUSER_SIZE; ++slot) {
        noisy.iuser(slot) = 12345;
    }
    noisy.user(5) = std::nan(""); // P is free: its value slot is overridden by XC
    for (const std::size_t slot : {3, 4, 7, 8}) {
        noisy.user(slot) = std::nan("");
    }
    for (std::size_t slot = 9; slot <= KESTRUM_USER_SIZE; ++slot) {
        noisy.user(slot) = std::numeric_limits<double>::infinity();
    }
    EXPECT_EQ(objective(1, XC, noisy), expected);
}

// A record the model does not describe has no likelihood: the objective says so with a quiet NaN
// and reads nothing beyond the arrays it was given (XC here holds exactly N entries).
TEST(FUNCT1, RecordOutsideTheModelGivesNaN)
{
    Record record(kExample, 0.7, 0.6);
    const std::vector<double> one{0.5};

    for (const std::int32_t entry : {0, 3, -1, 10}) {
        record.freeList({entry});
        EXPECT_TRUE(std::isnan(objective(1, one.data(), record))) << "free-list entry " << entry;
    }

    record.freeList({KESTRUM_PARAM_P});
    record.user(6) = 0.0;
    EXPECT_TRUE(std::isnan(objective(1, one.data(), record)));
    // A zero factor on a fixed parameter is never used.
    record.user(6) = 1.0;
    record.user(2) = 0.0;
    EXPECT_DOUBLE_EQ(objective(1, one.data(), record), minusLoglik(kExample, 0.7, 0.5));

    for (const std::int32_t N : {-1, 12, 1000, std::numeric_limits<std::int32_t>::max()}) {
        EXPECT_TRUE(std::isnan(objective(N, one.data(), record))) << "N = " << N;
    }
    const std::int32_t minN = std::numeric_limits<std::int32_t>::min();
    EXPECT_TRUE(std::isnan(objective(minN, one.data(), record)));
}

} // namespace
