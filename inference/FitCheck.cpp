#include "FitCheck.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ExpectedFrequencies.h"

namespace kestrum::inference {

namespace {

constexpr double kTolerance = 1e-15;
constexpr int kMostTerms = 1000000;

// The regularised lower incomplete gamma P(a, x) by its series, for x < a + 1.
double lowerGammaSeries(double a, double x, double logFactor)
{
    double term = 1.0 / a;
    double sum = term;
    for (int n = 1; n < kMostTerms; ++n) {
        term *= x / (a + n);
        sum += term;
        if (std::abs(term) < std::abs(sum) * kTolerance) {
            break;
        }
    }
    return sum * std::exp(logFactor);
}

// The regularised upper incomplete gamma Q(a, x) by its continued fraction (modified Lentz), for
// x >= a + 1.
double upperGammaFraction(double a, double x, double logFactor)
{
    constexpr double tiny = 1e-300;
    double b = x + 1.0 - a;
    double c = 1.0 / tiny;
    double d = 1.0 / b;
    double h = d;
    for (int n = 1; n < kMostTerms; ++n) {
        const double an = -n * (n - a);
        b += 2.0;
        d = an * d + b;
        d = std::abs(d) < tiny ? tiny : d;
        c = b + an / c;
        c = std::abs(c) < tiny ? tiny : c;
        d = 1.0 / d;
        const double step = d * c;
        h *= step;
        if (std::abs(step - 1.0) < kTolerance) {
            break;
        }
    }
    return std::exp(logFactor) * h;
}

} // namespace

double chiSquareSurvival(double x, int df)
{
    if (df < 1 || std::isnan(x)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (x <= 0.0) {
        return 1.0;
    }
    const double h = 0.5 * x;
    // The fit check's own degrees of freedom, in closed form.
    if (df == 1) {
        return std::erfc(std::sqrt(h));
    }
    if (df == 2) {
        return std::exp(-h);
    }
    // The regularised upper incomplete gamma Q(df / 2, x / 2), with x^a e^-x / Gamma(a) taken in
    // logs: its parts alone overflow and underflow for the many degrees of freedom with which a
    // survey's blocks are compared.
    const double a = 0.5 * df;
    const double logFactor = a * std::log(h) - h - std::lgamma(a);
    if (h < a + 1.0) {
        return std::clamp(1.0 - lowerGammaSeries(a, h, logFactor), 0.0, 1.0);
    }
    return std::clamp(upperGammaFraction(a, h, logFactor), 0.0, 1.0);
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
