// How well the fitted model reproduces the four frequencies.
#pragma once

#include <array>
#include <string_view>

#include "Fit.h"
#include "Model.h"

namespace kestrum::inference {

// Below this expected count the chi-square approximation to G2 and X2 is not trusted.
inline constexpr double kLowExpectedCount = 2.0;

struct FitCheck {
    std::string_view reason; // why no check is given; empty when it is
    // In the order 1,0,0 / 1,1,1 / 1,0,1 / 1,1,0. Expected = the simulate command's numbers out of
    // 100, times total / 100.
    std::array<double, 4> observed{};
    std::array<double, 4> expected{};
    double g2 = 0.0; // likelihood-ratio statistic 2 sum n ln(n / e)
    double x2 = 0.0; // Pearson's sum (n - e)^2 / e
    int df = 0;      // 4 cells - 1 - free parameters
    double pG2 = 0.0;
    double pX2 = 0.0;
    double smallestExpected = 0.0;
    bool lowExpected = false; // some expected count is below kLowExpectedCount

    bool given() const { return reason.empty(); }
};

// When S and P are not identifiable G2 is the same all along the ridge of maxima, but X2 is that of
// the point reported.
FitCheck fitCheck(const Counts& counts, const Fit& fit);

// P(X > x) for X chi-square with df degrees of freedom, df >= 1 a whole number; 1 for x <= 0.
double chiSquareSurvival(double x, int df);

} // namespace kestrum::inference
