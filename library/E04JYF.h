#pragma once

#include <cstdint>

namespace kestrum {

// The objective's calling convention: N, the current point (N scaled values), the value out, and
// the model record handed on untouched.
using Objective = void (*)(const std::int32_t* N, const double* XC, double* FC,
                           const std::int32_t* IUSER, const double* USER);

// Bound-constrained minimiser that uses function values only, with the argument list of NAG's
// E04JYF. It only ever evaluates FUNCT inside [BL, BU]; BL, BU, IW and W are left as they are.
// Outcome in IFAIL (KESTRUM_IFAIL_*).
void E04JYF(const std::int32_t* N, const std::int32_t* IBOUND, Objective FUNCT, const double* BL,
            const double* BU, double* XC, double* F, std::int32_t* IW, const std::int32_t* LIW,
            double* W, const std::int32_t* LW, const std::int32_t* IUSER, const double* USER,
            std::int32_t* IFAIL) noexcept;

} // namespace kestrum
