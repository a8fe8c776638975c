// The objective the minimiser drives: unpack the model record, undo the scaling of the free
// parameters, and return minus the log likelihood. It reads the record and XC and writes only FC.
#include "FUNCT1.h"

#include <limits>

#include "OneBased.h"
#include "RLOGLIK.h"
#include "kestrum.h"

namespace kestrum {

namespace {
constexpr std::size_t maxParameters = 11;
}

double funct1(std::int32_t N, const double* XC_, const std::int32_t* IUSER_, const double* USER_) noexcept
{
    constexpr double undefined = std::numeric_limits<double>::quiet_NaN();
    // The free list has room for 11 entries; beyond it the record is outside the model.
    if (N < 0 || N > static_cast<std::int32_t>(maxParameters)) {
        return undefined;
    }
    const OneBasedView<const double> XC(XC_, KESTRUM_MAX_FREE);
    const OneBasedView<const std::int32_t> IUSER(IUSER_, KESTRUM_IUSER_SIZE);
    const OneBasedView<const double> USER(USER_, KESTRUM_USER_SIZE);
    OneBased<std::int32_t, maxParameters> IFREE;
    Frequencies HIST;
    OneBased<double, maxParameters> PARMS;
    OneBased<double, maxParameters> FACT;
    [[maybe_unused]] double RJUNK = 0.0;

    for (std::int32_t I = 1; I <= N; ++I) {
        IFREE(I) = IUSER(I + 1);
        if (IFREE(I) != KESTRUM_PARAM_S && IFREE(I) != KESTRUM_PARAM_P) {
            return undefined;
        }
    }

    std::size_t IIND = KESTRUM_IUSER_HIST;
    HIST(1) = IUSER(IIND);
    for (std::size_t K = 2; K <= 4; ++K) {
        IIND = IIND + 1;
        HIST(K) = IUSER(IIND);
    }

    std::size_t IND = 0;
    for (std::size_t J = 1; J <= 2; ++J) {
        PARMS(J) = USER(++IND);
        FACT(J) = USER(++IND);
        RJUNK = USER(++IND); // the bounds are the program's; the search is bounded by BL and BU
        RJUNK = USER(++IND);
    }

    for (std::int32_t I = 1; I <= N; ++I) {
        const auto J = static_cast<std::size_t>(IFREE(I));
        if (FACT(J) == 0.0) {
            return undefined;
        }
        PARMS(J) = XC(I) / FACT(J);
    }

    const double S = PARMS(1);
    const double P = PARMS(2);
    return -rloglik(HIST, P, S);
}

} // namespace kestrum

extern "C" KESTRUM_API void FUNCT1(const int32_t* N, const double* XC, double* FC,
                                   const int32_t* IUSER, const double* USER)
{
    *FC = kestrum::funct1(*N, XC, IUSER, USER);
}
