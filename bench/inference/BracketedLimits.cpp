// The profile limits as first written: Brent's method on the profile to 1e-10, every point an
// exact inner maximum from cold. Kept inside the benchmark only, to weigh the Newton search against.
#include "BracketedLimits.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "ConditionalMaximum.h"

namespace kestrum::inference::bracketed {

namespace {

constexpr double kLimitTolerance = 1e-10;

double profileAt(const Problem& problem, Parameter parameter, double value)
{
    if (parameter == Parameter::S) {
        return bestP(problem.counts, value).logLikelihood;
    }
    return problem.sFree ? bestS(problem.counts, value).logLikelihood
                       : logLikelihood(problem.counts, value, problem.sFixed);
}

// Brent's method for a root of f in [a, b], where f(a) and f(b) differ in sign.
template <class Function>
double brentRoot(Function f, double a, double b, double fa, double fb)
{
    double c = a;
    double fc = fa;
    double d = b - a;
    double e = d;
    for (int iteration = 0; iteration < 200; ++iteration) {
        if ((fb > 0.0) == (fc > 0.0)) {
            c = a;
            fc = fa;
            d = e = b - a;
        }
        if (std::fabs(fc) < std::fabs(fb)) {
            a = b;
            b = c;
            c = a;
            fa = fb;
            fb = fc;
            fc = fa;
        }
        const double tolerance = 2.0 * 2.2e-16 * std::fabs(b) + 0.5 * kLimitTolerance;
        const double half = 0.5 * (c - b);
        if (std::fabs(half) <= tolerance || fb == 0.0) {
            return b;
        }
        if (std::fabs(e) >= tolerance && std::fabs(fa) > std::fabs(fb)) {
            // Inverse quadratic interpolation, or the secant when only two points differ.
            double p;
            double q;
            const double s = fb / fa;
            if (a == c) {
                p = 2.0 * half * s;
                q = 1.0 - s;
            } else {
                const double qa = fa / fc;
                const double r = fb / fc;
                p = s * (2.0 * half * qa * (qa - r) - (b - a) * (r - 1.0));
                q = (qa - 1.0) * (r - 1.0) * (s - 1.0);
            }
            if (p > 0.0) {
                q = -q;
            } else {
                p = -p;
            }
            if (2.0 * p < std::min(3.0 * half * q - std::fabs(tolerance * q), std::fabs(e * q))) {
                e = d;
                d = p / q;
            } else {
                d = half;
                e = d;
            }
        } else {
            d = half;
            e = d;
        }
        a = b;
        fa = fb;
        b += std::fabs(d) > tolerance ? d : (half > 0.0 ? tolerance : -tolerance);
        fb = f(b);
    }
    return b;
}

// Points that split the range into stretches on which the profile has no local maximum inside,
// found from where its derivative can vanish. With S fixed the profile is the likelihood in P
// itself. With S free the inner maximum is interior except on a bound of the other parameter,
// and inside it the derivative vanishes only at the one stationary point of the likelihood (the
// estimate); so the candidates are the stationary points along the two bounds. (The profile of S
// can also bend where the best P jumps between two local maxima, but such a bend is never a
// maximum.)
struct Breakpoints {
    std::array<double, 8> x{};
    int n = 0;

    void add(double value)
    {
        if (value > kLowerBound && value < kUpperBound && n < static_cast<int>(x.size())) {
            x[static_cast<std::size_t>(n++)] = value;
        }
    }
};

Breakpoints breakpoints(const Problem& problem, Parameter parameter)
{
    Breakpoints b;
    if (parameter == Parameter::S) {
        b.add(bestS(problem.counts, kLowerBound).at);
        b.add(bestS(problem.counts, kUpperBound).at);
        return b;
    }
    const auto addStationaryP = [&](double S) {
        std::array<double, 4> points{};
        const int n = stationaryP(problem.counts, S, points);
        for (int i = 0; i < n; ++i) {
            b.add(points[static_cast<std::size_t>(i)]);
        }
    };
    if (problem.sFree) {
        addStationaryP(kLowerBound);
        addStationaryP(kUpperBound);
    } else {
        addStationaryP(problem.sFixed);
    }
    return b;
}

// The limit between the estimate and one bound. Going outward, the last breakpoint where the
// profile is still above the line is followed by no local maximum above it, so the profile crosses
// the line once between that point and the next one out (or the bound): the outermost crossing.
template <class Function>
Limit limitToward(Function excess, double estimate, double bound, LimitKind beyond,
                  const Breakpoints& breaks, bool& gap)
{
    if (estimate == bound) {
        return {beyond, bound};
    }
    const double direction = bound > estimate ? 1.0 : -1.0;
    std::array<double, 9> points{};
    std::size_t n = 0;
    for (int i = 0; i < breaks.n; ++i) {
        const double x = breaks.x[static_cast<std::size_t>(i)];
        if ((x - estimate) * direction > 0.0 && (bound - x) * direction > 0.0) {
            points[n++] = x;
        }
    }
    std::sort(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(n),
              [direction](double a, double b) { return a * direction < b * direction; });
    points[n++] = bound;

    std::array<double, 9> values{};
    std::size_t outermostAbove = n; // n stands for the estimate itself
    for (std::size_t i = 0; i < n; ++i) {
        values[i] = excess(points[i]);
        if (values[i] >= 0.0) {
            outermostAbove = i;
        }
    }
    for (std::size_t i = 0; i < n && outermostAbove != n && i < outermostAbove; ++i) {
        gap = gap || values[i] < 0.0;
    }
    if (outermostAbove == n - 1) {
        if (values[n - 1] == 0.0) {
            return {LimitKind::Found, bound};
        }
        return {beyond, bound};
    }
    const std::size_t next = outermostAbove == n ? 0 : outermostAbove + 1;
    const double inner = outermostAbove == n ? estimate : points[outermostAbove];
    const double innerValue = outermostAbove == n ? excess(estimate) : values[outermostAbove];
    if (innerValue == 0.0) {
        return {LimitKind::Found, inner};
    }
    return {LimitKind::Found, brentRoot(excess, points[next], inner, values[next], innerValue)};
}

} // namespace

ProfileInterval profileLimits(const Problem& problem, const Fit& fit, Parameter parameter)
{
    ProfileInterval interval;
    interval.parameter = parameter;
    if (!fit.hasEstimates() || (parameter == Parameter::S && !fit.sFree)) {
        interval.reason = "not given";
        return interval;
    }
    const double estimate = parameter == Parameter::P ? fit.P : fit.S;
    const double threshold = fit.logLikelihood - kProfileDrop;
    const auto excess = [&](double x) { return profileAt(problem, parameter, x) - threshold; };
    const Breakpoints breaks = breakpoints(problem, parameter);
    interval.lower =
        limitToward(excess, estimate, kLowerBound, LimitKind::BelowRange, breaks, interval.gap);
    interval.upper =
        limitToward(excess, estimate, kUpperBound, LimitKind::AboveRange, breaks, interval.gap);
    return interval;
}

Analysis analyse(const Problem& problem)
{
    Analysis a;
    a.problem = problem;
    a.fit = fit(problem);
    a.limitsP = bracketed::profileLimits(problem, a.fit, Parameter::P);
    a.limitsS = bracketed::profileLimits(problem, a.fit, Parameter::S);
    a.standardErrors = standardErrors(problem.counts, a.fit);
    a.fitCheck = fitCheck(problem.counts, a.fit);
    return a;
}

} // namespace kestrum::inference::bracketed
