#include "FitCheck.h"

#include <boost/math/special_functions/gamma.hpp>

#include <cmath>
#include <limits>

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
    // The fit check's own degrees of freedom in closed form: exact, and cheap for every block.
    if (df == 1) {
        return std::erfc(std::sqrt(0.5 * x));
    }
    if (df == 2) {
        return std::exp(-0.5 * x);
    }
    // Q(df / 2, x / 2), the regularised upper incomplete gamma: Boost keeps it accurate for the
    // many degrees of freedom on which a survey's blocks are compared. In double precision: Boost's
    // default of working in long double costs more than the rest of a fit check.
    using InDouble = boost::math::policies::policy<boost::math::policies::promote_double<false>>;
    return boost::math::gamma_q(0.5 * df, 0.5 * x, InDouble());
}

namespace {

// One cell's share of G2 / 2: n ln(n / e) - (n - e), which is never below 0 (the four e sum to the
// four n, so the shares sum to the plain sum of n ln(n / e)). Written as e ((1 + d) ln(1 + d) - d)
// with d = (n - e) / e, and by its series where d is small, it keeps its relative precision when
// n and e agree to many digits: the plain sum would be a difference of terms as large as
// n x 1e-16 each, which for hundreds of millions of dogs swamps a G2 of 1e-11.
double g2Share(double n, double e)
{
    if (n == 0.0) {
        return e;
    }
    const double d = (n - e) / e;
    if (std::abs(d) >= 0.1) {
        return n * std::log(n / e) - (n - e);
    }
    // (1 + d) ln(1 + d) - d = sum over k >= 2 of (-d)^k / (k (k - 1)); |d| < 0.1, so each term
    // is under a tenth of the one before.
    double sum = 0.0;
    double power = d * d;
    for (int k = 2; k < 40; ++k) {
        const double term = power / (k * (k - 1.0));
        sum += term;
        if (std::abs(term) <= 1e-17 * std::abs(sum)) {
            break;
        }
        power *= -d;
    }
    return e * sum;
}

} // namespace

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
    // Both as sums of terms that are never below 0, so that no term cancels another.
    for (std::size_t i = 0; i < 4; ++i) {
        const double n = check.observed[i];
        const double e = check.expected[i];
        check.g2 += 2.0 * g2Share(n, e);
        check.x2 += (n - e) * (n - e) / e;
    }
    check.df = 4 - 1 - fit.freeParameters();
    check.pG2 = chiSquareSurvival(check.g2, check.df);
    check.pX2 = chiSquareSurvival(check.x2, check.df);
    check.smallestExpected = *std::min_element(check.expected.begin(), check.expected.end());
    check.lowExpected = check.smallestExpected < kLowExpectedCount;
    return check;
}

} // namespace kestrum::inference
