// The best value of one parameter within the bounds while the other is held: the building block of
// the fit on a bound, of the fit with S fixed and of both profiles.
#pragma once

#include <array>

#include "Model.h"

namespace kestrum::inference {

struct ConditionalMaximum {
    double at = 0.0;            // the maximising value, within [kLowerBound, kUpperBound]
    double logLikelihood = 0.0; // the log likelihood there
};

// Best P at a given S, 0 < S <= 1. Exact: every stationary point of the likelihood in P is located,
// so a likelihood with more than one local maximum is still maximised globally.
ConditionalMaximum bestP(const Counts& counts, double S);

// Every P strictly inside the bounds where the likelihood at this S is stationary, maxima and
// minima alike, ascending; returns how many (at most 4). Between two of them the likelihood in P is
// monotone.
int stationaryP(const Counts& counts, double S, std::array<double, 4>& points);

// Best S at a given P, 0 < P <= 1. The likelihood is concave in S, so there is one maximum.
ConditionalMaximum bestS(const Counts& counts, double P);

} // namespace kestrum::inference
