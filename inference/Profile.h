// Profile log likelihood and the 95% likelihood-ratio limits read from it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Fit.h"
#include "Model.h"

namespace kestrum::inference {

// The profile of P re-maximises over S when S is free and is the likelihood in P at the fixed S
// otherwise. The profile of S exists only when S is free (it re-maximises over P). A fixed S has
// no profile and no limits: its likelihood curve at some P is logLikelihood(counts, P, S).
// Empty for S when S is fixed, for invalid input, or for a value outside (0, 1).
std::optional<double> profileLogLikelihood(const Problem& problem, Parameter parameter, double value);

enum class LimitKind {
    Found,      // value holds the limit
    BelowRange, // the limit lies below 0.01; value holds 0.01
    AboveRange, // the limit lies above 0.99; value holds 0.99
    NotGiven,
};

struct Limit {
    LimitKind kind = LimitKind::NotGiven;
    double value = 0.0;

    bool open() const { return kind == LimitKind::BelowRange || kind == LimitKind::AboveRange; }
};

// "0.4213", "below 0.01", "above 0.99" or "not given"; digits after the decimal point.
std::string limitText(const Limit& limit, int digits = 4);

struct ProfileInterval {
    Parameter parameter = Parameter::P;
    Limit lower;
    Limit upper;
    // The profile drops below the line and rises above it again between the limits: the values
    // not rejected form more than one interval, and lower .. upper is their hull.
    bool gap = false;
    std::string_view reason; // why no limits are given; empty when they are

    bool given() const { return reason.empty(); }
};

// Where the profile falls kProfileDrop below the maximum on each side of the estimate, to 1e-9:
// the outermost such value, should the profile fall below that level and rise above it again.
// fit must be fit(problem).
ProfileInterval profileLimits(const Problem& problem, const Fit& fit, Parameter parameter);

} // namespace kestrum::inference
