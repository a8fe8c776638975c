// The earlier profile limits, for the benchmark's side-by-side comparison only.
#pragma once

#include "Analysis.h"

namespace kestrum::inference::bracketed {

ProfileInterval profileLimits(const Problem& problem, const Fit& fit, Parameter parameter);
Analysis analyse(const Problem& problem);

} // namespace kestrum::inference::bracketed
