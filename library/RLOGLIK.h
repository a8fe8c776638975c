#pragma once

#include <cstdint>

#include "OneBased.h"

namespace kestrum {

using Frequencies = OneBased<std::int32_t, 4>;

// Log likelihood kernel of the four capture-history frequencies at P and S (P first, as the export).
double rloglik(const Frequencies& HIST, double P, double S) noexcept;

} // namespace kestrum
