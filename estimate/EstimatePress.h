// What one press of "estimate" works with: created zeroed at every press, gone when it ends.
#pragma once

#include <cstdint>

#include "OneBased.h"
#include "kestrum.h"

namespace kestrum {

// The profile's heights and positions, single precision, room for 100 points: what PlotCurve draws.
using ProfileValues = OneBased<float, 100>;

// Everything a press reads from the window, checked before anything changes.
struct EstimateInputs {
    double S = 0.0;
    double P = 0.0;
    OneBased<std::int32_t, 4> frequencies;
    double rangePct = 0.0;
};

struct EstimatePress {
    // Parameter values, scale factors and unscaled bounds by index: 1 = S, 2 = P.
    OneBased<double, 11> PARMS;
    OneBased<double, 11> FACT;
    OneBased<double, 11> LOWER;
    OneBased<double, 11> UPPER;
    OneBased<std::int32_t, 11> IFREE;
    std::int32_t N = 0;

    // The minimiser's arguments, scaled, in the order of IFREE.
    OneBased<double, KESTRUM_MAX_FREE> XC;
    OneBased<double, KESTRUM_MAX_FREE> BL;
    OneBased<double, KESTRUM_MAX_FREE> BU;
    OneBased<std::int32_t, KESTRUM_LIW> IW;
    OneBased<double, KESTRUM_LW> W;
    std::int32_t LIW = 0;
    std::int32_t LW = 0;
    std::int32_t IBOUND = 0;
    std::int32_t IFAIL = 0;
    double F = 0.0;

    // The profile scan: its range and step in single precision, as the plot positions are whole
    // percents of values on whole hundredths.
    double RANGEPCT = 0.0;
    float SCANLO = 0.0f;
    float SCANHI = 0.0f;
    float SCANSTEP = 0.0f;
    double SCANVAL = 0.0;
    ProfileValues PROFLL;
    ProfileValues PROFPCT;
};

} // namespace kestrum
