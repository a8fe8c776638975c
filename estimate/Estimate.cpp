// The window's constants: every parameter is scaled by 1 and bounded by 0.01 and 0.99.
#include "Estimate.h"

namespace kestrum {

namespace {

constexpr double kScaleFactor = 1.0;
constexpr double kLowerBound = 0.01;
constexpr double kUpperBound = 0.99;

} // namespace

void BuildRecord(const EstimateInputs& inputs, bool sFree, EstimatePress& press,
                 ModelRecord& record)
{
    auto& PARMS = press.PARMS;
    auto& FACT = press.FACT;
    auto& LOWER = press.LOWER;
    auto& UPPER = press.UPPER;
    auto& IFREE = press.IFREE;
    auto& N = press.N;
    auto& XC = press.XC;
    auto& BL = press.BL;
    auto& BU = press.BU;
    auto& [IUSER, USER, NIUSER, NUSER] = record;

    // 1, 2: S and P with their scale factors and bounds.
    PARMS(1) = inputs.S;
    FACT(1) = kScaleFactor;
    LOWER(1) = kLowerBound;
    UPPER(1) = kUpperBound;
    PARMS(2) = inputs.P;
    FACT(2) = kScaleFactor;
    LOWER(2) = kLowerBound;
    UPPER(2) = kUpperBound;

    // 3: P is always free; S only when asked for.
    if (sFree) {
        N = 2;
        IFREE(1) = KESTRUM_PARAM_S;
        IFREE(2) = KESTRUM_PARAM_P;
    } else {
        N = 1;
        IFREE(1) = KESTRUM_PARAM_P;
    }

    // 4: the free list into the record.
    IUSER(KESTRUM_IUSER_NFREE) = N;
    for (std::int32_t I = 1; I <= N; ++I) {
        IUSER(I + 1) = IFREE(I);
    }

    // 5: the frequencies, stored before the index moves on.
    NIUSER = KESTRUM_IUSER_HIST;
    for (std::size_t K = 1; K <= 4; ++K) {
        IUSER(NIUSER) = inputs.frequencies(K);
        NIUSER = NIUSER + 1;
    }

    // 6: the reals, the index moved on before each store.
    NUSER = 0;
    for (std::size_t I = 1; I <= 2; ++I) {
        for (const double value : {PARMS(I), FACT(I), LOWER(I), UPPER(I)}) {
            NUSER = NUSER + 1;
            USER(NUSER) = value;
        }
    }

    // 7: scaled start and bounds, in the order the minimiser sees the parameters.
    for (std::int32_t I = 1; I <= N; ++I) {
        const auto J = static_cast<std::size_t>(IFREE(I));
        XC(I) = FACT(J) * PARMS(J);
        BL(I) = LOWER(J) * FACT(J);
        BU(I) = UPPER(J) * FACT(J);
    }
}

void Fit(EstimatePress& press, ModelRecord& record, KestrumN_E04JYF N_E04JYF)
{
    press.LIW = KESTRUM_LIW;
    press.LW = KESTRUM_LW;
    press.IFAIL = 1;
    press.IBOUND = 0;
    N_E04JYF(&press.N, &press.IBOUND, press.BL.data(), press.BU.data(), press.XC.data(), &press.F,
             press.IW.data(), &press.LIW, press.W.data(), &press.LW, record.IUSER.data(),
             record.USER.data(), &press.IFAIL);
}

void BackTransform(EstimatePress& press)
{
    for (std::int32_t I = 1; I <= press.N; ++I) {
        const auto J = static_cast<std::size_t>(press.IFREE(I));
        press.PARMS(J) = press.XC(I) / press.FACT(J);
    }
}

} // namespace kestrum
