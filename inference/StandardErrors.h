// Standard errors from the observed information, and the Wald limits built on them.
#pragma once

#include <string_view>

#include "Fit.h"
#include "Model.h"

namespace kestrum::inference {

struct WaldInterval {
    double lower = 0.0;
    double upper = 0.0;
    // The interval reaches past 0.01 .. 0.99, where the normal approximation is plainly poor.
    bool beyondBounds = false;
};

struct StandardErrors {
    std::string_view reason; // why none are given; empty when they are
    double seP = 0.0;
    double seS = 0.0; // only when S is free
    double covariancePS = 0.0;
    WaldInterval waldP;
    WaldInterval waldS;

    bool given() const { return reason.empty(); }
};

// The inverse of minus the Hessian of the log likelihood at the estimates, over the free
// parameters. Not given when an estimate is on a bound (the information there does not describe
// the uncertainty) or when the matrix is not positive definite.
StandardErrors standardErrors(const Counts& counts, const Fit& fit);

} // namespace kestrum::inference
