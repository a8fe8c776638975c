#include "FitCheck.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "ExpectedFrequencies.h"

namespace kestrum::inference {

double chiSquareSurvival(double x, int df)
{
    if (df < 1 || std::isnan(x)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (x <= 0.0) {
        return 1.0;
    }
    const double half = 0.5 * x;
    const double density = std::exp(-half);
    double sum = 0.0;
    if (df % 2 == 0) {
        // Poisson tail: sum over j < df/2 of e^-h h^j / j!.
        double term = 1.0;
        for (int j = 0; j < df / 2; ++j) {
            sum += term;
            term *= half / (j + 1);
        }
        return density * sum;
    }
    // Odd: the one-degree tail plus terms h^(j-1/2) / Gamma(j+1/2), j = 1 .. (df-1)/2.
    double term = std::sqrt(half) / (0.5 * std::sqrt(std::numbers::pi));
    for (int j = 1; j <= (df - 1) / 2; ++j) {
        sum += term;
        term *= half / (j + 0.5);
    }
    return std::erfc(std::sqrt(half)) + density * sum;
}

FitCheck fitCheck(const Counts& counts, const Fit& fit)
{
    FitCheck check;
    if (!fit.hasEstimates()) {
        check.reason = describe(fit.status);
        return check;
    }
    const double scale = counts.total() / 100.0;
    check.observed = {static_cast<double>(counts.n100), static_cast<double>(counts.n111),
                      static_cast<double>(counts.n101), static_cast<double>(counts.n110)};
    check.expected = {expected100(fit.P, fit.S) * scale, expected111(fit.P, fit.S) * scale,
                      expected101(fit.P, fit.S) * scale, expected110(fit.P, fit.S) * scale};
    for (std::size_t i = 0; i < 4; ++i) {
        const double n = check.observed[i];
        const double e = check.expected[i];
        if (n > 0.0) {
            check.g2 += 2.0 * n * std::log(n / e);
        }
        check.x2 += (n - e) * (n - e) / e;
    }
    // Rounding can leave G2 a hair below zero at a perfect fit.
    check.g2 = std::max(check.g2, 0.0);
    check.df = 4 - 1 - fit.freeParameters();
    check.pG2 = chiSquareSurvival(check.g2, check.df);
    check.pX2 = chiSquareSurvival(check.x2, check.df);
    check.smallestExpected = *std::min_element(check.expected.begin(), check.expected.end());
    check.lowExpected = check.smallestExpected < kLowExpectedCount;
    return check;
}

} // namespace kestrum::inference
