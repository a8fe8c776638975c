// The library's entry point: with no free parameter, one evaluation of the objective; otherwise a
// bound-constrained search over the free ones. It checks, copies and converts nothing of its own.
#include "E04JYF.h"
#include "kestrum.h"

extern "C" KESTRUM_API void N_E04JYF(const int32_t* N, const int32_t* IBOUND, const double* BL,
                                     const double* BU, double* XC, double* F, int32_t* IW,
                                     const int32_t* LIW, double* W, const int32_t* LW,
                                     const int32_t* IUSER, const double* USER, int32_t* IFAIL)
{
    if (*N == 0) {
        FUNCT1(N, XC, F, IUSER, USER);
        return;
    }
    kestrum::E04JYF(N, IBOUND, FUNCT1, BL, BU, XC, F, IW, LIW, W, LW, IUSER, USER, IFAIL);
}
