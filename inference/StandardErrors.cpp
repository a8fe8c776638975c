#include "StandardErrors.h"

#include <cmath>

namespace kestrum::inference {

namespace {

// A determinant this small relative to its diagonal means the information is singular up to
// rounding (a ridge), and its inverse would be noise.
constexpr double kSingularRatio = 1e-10;

WaldInterval wald(double estimate, double se)
{
    WaldInterval w;
    w.lower = estimate - kNormalQuantile975 * se;
    w.upper = estimate + kNormalQuantile975 * se;
    w.beyondBounds = w.lower < kLowerBound || w.upper > kUpperBound;
    return w;
}

} // namespace

StandardErrors standardErrors(const Counts& counts, const Fit& fit)
{
    StandardErrors result;
    if (!fit.hasEstimates()) {
        result.reason = describe(fit.status);
        return result;
    }
    if (fit.status == FitStatus::NotIdentifiable) {
        result.reason = "S and P cannot be told apart from these counts, so their standard errors "
                        "are not defined";
        return result;
    }
    if (fit.onBound()) {
        result.reason = "an estimate lies on a bound (0.01 or 0.99), where the curvature of the "
                        "likelihood does not describe its uncertainty";
        return result;
    }
    const LogLikelihoodDerivatives d = logLikelihoodDerivatives(counts, fit.P, fit.S);
    const double iPP = -d.dPP;
    if (!(iPP > 0.0) || !std::isfinite(iPP)) {
        result.reason = "the observed information is not positive definite";
        return result;
    }
    if (!fit.sFree) {
        result.seP = std::sqrt(1.0 / iPP);
        result.waldP = wald(fit.P, result.seP);
        return result;
    }
    const double iSS = -d.dSS;
    const double iPS = -d.dPS;
    const double det = iPP * iSS - iPS * iPS;
    if (!(iSS > 0.0) || !std::isfinite(det) || !(det > kSingularRatio * iPP * iSS)) {
        result.reason = "the observed information is not positive definite";
        return result;
    }
    result.seP = std::sqrt(iSS / det);
    result.seS = std::sqrt(iPP / det);
    result.covariancePS = -iPS / det;
    result.waldP = wald(fit.P, result.seP);
    result.waldS = wald(fit.S, result.seS);
    return result;
}

} // namespace kestrum::inference
