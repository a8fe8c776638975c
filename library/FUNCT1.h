#pragma once

#include <cstdint>

namespace kestrum {

// Minus the log likelihood at the record's parameters with the N free ones taken from XC; a quiet
// NaN for a record outside the model. Reads IUSER(2 .. N+1), IUSER(10 .. 13) and USER(1 .. 8).
double funct1(std::int32_t N, const double* XC, const std::int32_t* IUSER, const double* USER) noexcept;

} // namespace kestrum
