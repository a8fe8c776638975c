// Maximum-likelihood estimates of P, and of S when it is free, within the bounds 0.01 .. 0.99.
#pragma once

#include <string_view>

#include "Model.h"

namespace kestrum::inference {

enum class FitStatus {
    Estimated,       // a unique maximum
    NotIdentifiable, // every dog was seen on the second count: only S*P is determined (S free)
    NoData,          // all four frequencies are zero
    InvalidInput,    // a negative frequency, or a fixed S outside (0, 1]
};

enum class Bound { None, Lower, Upper };

struct Fit {
    FitStatus status = FitStatus::InvalidInput;
    bool sFree = true;
    // Estimates (S is the value it is held at when fixed). Quiet NaN when status is NoData or
    // InvalidInput, so that a caller who ignores the status cannot mistake them for estimates.
    double P = 0.0;
    double S = 0.0;
    double logLikelihood = 0.0; // the kernel at (P, S); 0 for NoData, NaN for InvalidInput
    Bound pBound = Bound::None;
    Bound sBound = Bound::None; // always None when S is fixed

    bool hasEstimates() const
    {
        return status == FitStatus::Estimated || status == FitStatus::NotIdentifiable;
    }
    bool onBound() const { return pBound != Bound::None || sBound != Bound::None; }
    int freeParameters() const { return sFree ? 2 : 1; }
};

// Exact: the closed form when the maximum is interior, otherwise exact one-dimensional maxima
// along the bounds. When S is not identifiable the point of the ridge where S = P is reported.
Fit fit(const Problem& problem);

// The interior maximum with both parameters free, as (P, S); false when it lies outside the
// bounds or does not exist (then the maximum lies on a bound).
bool interiorMaximum(const Counts& counts, double& P, double& S);

std::string_view describe(FitStatus status);

} // namespace kestrum::inference
