#include "Profile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

#include <boost/math/tools/roots.hpp>

#include "ConditionalMaximum.h"

namespace kestrum::inference {

namespace {

// Newton stops once its step falls below 2^-35 (3e-11) of the limit; converging quadratically, it
// is then far closer than that.
constexpr int kNewtonDigits = 36;
constexpr std::uintmax_t kNewtonIterations = 40;
// Newton's last evaluation lies within this of the crossing when it has settled.
constexpr double kSettled = 1e-6;
// The fallback narrows its bracket to 2^-39 (2e-12) of the limit.
constexpr int kBracketDigits = 40;
constexpr std::uintmax_t kBracketIterations = 100;

bool canProfile(const Problem& problem, Parameter parameter)
{
    if (problem.counts.anyNegative()) {
        return false;
    }
    if (!problem.sFree) {
        return parameter == Parameter::P && problem.sFixed > 0.0 && problem.sFixed <= 1.0;
    }
    return true;
}

// The profile at x and where the other parameter maximises it there, from cold and exact.
struct ProfilePoint {
    double value = 0.0;
    double other = 0.0; // the best value of the other parameter; the fixed S when S is held
};

ProfilePoint profilePoint(const Problem& problem, Parameter parameter, double x)
{
    if (parameter == Parameter::S) {
        const ConditionalMaximum m = bestP(problem.counts, x);
        return {m.logLikelihood, m.at};
    }
    if (problem.sFree) {
        const ConditionalMaximum m = bestS(problem.counts, x);
        return {m.logLikelihood, m.at};
    }
    return {logLikelihood(problem.counts, x, problem.sFixed), problem.sFixed};
}

double profileAt(const Problem& problem, Parameter parameter, double x)
{
    return profilePoint(problem, parameter, x).value;
}

// The profile and its slope for a Newton search along it. The points of such a search lie ever
// closer together, so the inner maximum is found by Newton from where the last point left it:
// one or two evaluations of the likelihood's derivatives instead of an exact solve from cold. By
// the envelope theorem the profile's slope is the likelihood's partial derivative there.
class WarmProfile {
public:
    WarmProfile(const Problem& problem, Parameter parameter, double x, double other)
        : problem_(problem), parameter_(parameter), x_(x), other_(other)
    {
    }

    // (value, slope)
    std::pair<double, double> operator()(double x)
    {
        if (!problem_.sFree) {
            const LogLikelihoodDerivatives d =
                logLikelihoodDerivatives(problem_.counts, x, problem_.sFixed);
            return {d.value, d.dP};
        }
        // Start from where the inner maximum moves to along the tangent of its path.
        other_ = std::clamp(other_ + drift_ * (x - x_), kLowerBound, kUpperBound);
        x_ = x;
        drift_ = 0.0;
        for (int iteration = 0; iteration < kInnerIterations; ++iteration) {
            const LogLikelihoodDerivatives d = derivativesAt(x);
            const double slope = ofP() ? d.dP : d.dS;
            const double gradient = ofP() ? d.dS : d.dP;
            const double curvature = ofP() ? d.dSS : d.dPP;
            if ((other_ <= kLowerBound && gradient <= 0.0) ||
                (other_ >= kUpperBound && gradient >= 0.0)) {
                return {d.value, slope};
            }
            if (!(curvature < 0.0)) {
                break; // not near a maximum, where a Newton step would lead away from it
            }
            const double step = -gradient / curvature;
            drift_ = -d.dPS / curvature;
            if (std::fabs(step) <= kInnerStep) {
                // The last step, taken on the quadratic model rather than evaluated again.
                other_ = std::clamp(other_ + step, kLowerBound, kUpperBound);
                return {d.value + 0.5 * gradient * step, slope + d.dPS * step};
            }
            other_ = std::clamp(other_ + step, kLowerBound, kUpperBound);
        }
        other_ = profilePoint(problem_, parameter_, x).other;
        const LogLikelihoodDerivatives d = derivativesAt(x);
        return {d.value, ofP() ? d.dP : d.dS};
    }

private:
    // A step this small leaves an error of the order of its cube in the value.
    static constexpr double kInnerStep = 1e-6;
    static constexpr int kInnerIterations = 30;

    bool ofP() const { return parameter_ == Parameter::P; }
    LogLikelihoodDerivatives derivativesAt(double x) const
    {
        return ofP() ? logLikelihoodDerivatives(problem_.counts, x, other_)
                     : logLikelihoodDerivatives(problem_.counts, other_, x);
    }

    const Problem& problem_;
    Parameter parameter_;
    double x_;
    double other_;
    double drift_ = 0.0; // the inner maximum's rate of change with x, while off the bounds
};

// Where the profile crosses the line between inside (above it) and outside (below it), where it
// crosses once: Newton on the warm profile from guess, and should that fail to settle, or in P
// follow a lower peak than the highest, TOMS 748 on the exact profile.
double crossing(const Problem& problem, Parameter parameter, double threshold, double inside,
                const ProfilePoint& atInside, double outside, const ProfilePoint& atOutside,
                double guess)
{
    WarmProfile warm(problem, parameter, inside, atInside.other);
    double in = inside;
    double out = outside;
    double lastX = inside;
    std::pair<double, double> last{atInside.value - threshold, 0.0};
    const auto excess = [&](double x) {
        auto point = warm(x);
        point.first -= threshold;
        (point.first >= 0.0 ? in : out) = x;
        lastX = x;
        last = point;
        return point;
    };
    const double lo = std::min(inside, outside);
    const double hi = std::max(inside, outside);
    std::uintmax_t iterations = kNewtonIterations;
    double root = guess;
    bool settled = false;
    try {
        root = boost::math::tools::newton_raphson_iterate(excess, guess, lo, hi, kNewtonDigits,
                                                          iterations);
        // Settled: Newton's last evaluation already near the crossing, and the crossing still
        // between the last points seen on either side of the line.
        settled = iterations < kNewtonIterations &&
                  std::fabs(last.first) <= kSettled * std::fabs(last.second) &&
                  std::fabs(root - lastX) <= kSettled && (root - in) * (root - out) <= 0.0;
    } catch (const boost::math::evaluation_error&) {
        settled = false; // the slope changed sign (the profile of S bends where P jumps)
    }
    if (settled && parameter == Parameter::S) {
        // The inner search followed one peak of the likelihood in P; the limit stands only if
        // that peak is the highest at the crossing.
        const double highest = profileAt(problem, parameter, root);
        settled = highest <= warm(root).first + 1e-12 * std::max(1.0, std::fabs(highest));
    }
    if (settled) {
        return root;
    }
    const auto exact = [&](double x) { return profileAt(problem, parameter, x) - threshold; };
    const double fInside = atInside.value - threshold;
    const double fOutside = atOutside.value - threshold;
    std::uintmax_t steps = kBracketIterations;
    const auto [a, b] =
        inside < outside
            ? boost::math::tools::toms748_solve(exact, inside, outside, fInside, fOutside,
                                                boost::math::tools::eps_tolerance<double>(
                                                    kBracketDigits),
                                                steps)
            : boost::math::tools::toms748_solve(exact, outside, inside, fOutside, fInside,
                                                boost::math::tools::eps_tolerance<double>(
                                                    kBracketDigits),
                                                steps);
    return 0.5 * (a + b);
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
// curvature is the profile's second derivative at the estimate, for Newton's first guess.
Limit limitToward(const Problem& problem, Parameter parameter, double threshold, double estimate,
                  const ProfilePoint& atEstimate, double curvature, double bound,
                  LimitKind beyond, const Breakpoints& breaks, bool& gap)
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

    std::array<ProfilePoint, 9> values{};
    std::size_t outermostAbove = n; // n stands for the estimate itself
    for (std::size_t i = 0; i < n; ++i) {
        values[i] = profilePoint(problem, parameter, points[i]);
        if (values[i].value - threshold >= 0.0) {
            outermostAbove = i;
        }
    }
    for (std::size_t i = 0; i < n && outermostAbove != n && i < outermostAbove; ++i) {
        gap = gap || values[i].value - threshold < 0.0;
    }
    if (outermostAbove == n - 1) {
        if (values[n - 1].value - threshold == 0.0) {
            return {LimitKind::Found, bound};
        }
        return {beyond, bound};
    }
    const std::size_t next = outermostAbove == n ? 0 : outermostAbove + 1;
    const double inner = outermostAbove == n ? estimate : points[outermostAbove];
    const ProfilePoint& atInner = outermostAbove == n ? atEstimate : values[outermostAbove];
    const double innerExcess = atInner.value - threshold;
    if (innerExcess == 0.0) {
        return {LimitKind::Found, inner};
    }
    const double outer = points[next];
    const double outerExcess = values[next].value - threshold;
    // From the estimate, where the profile is close to a parabola, its crossing; elsewhere, or
    // should that fall outside the bracket, the secant's.
    double guess = estimate + direction * std::sqrt(-2.0 * innerExcess / curvature);
    if (inner != estimate || !((guess - inner) * (guess - outer) < 0.0)) {
        guess = inner + (outer - inner) * innerExcess / (innerExcess - outerExcess);
    }
    return {LimitKind::Found, crossing(problem, parameter, threshold, inner, atInner, outer,
                                       values[next], guess)};
}

// The profile's second derivative at the estimate: the likelihood's curvature along the profiled
// parameter, less what re-maximising the other one takes back while it is off its bounds.
double curvatureAt(const Problem& problem, const Fit& fit, Parameter parameter)
{
    const LogLikelihoodDerivatives d = logLikelihoodDerivatives(problem.counts, fit.P, fit.S);
    if (parameter == Parameter::P) {
        return fit.sFree && fit.sBound == Bound::None ? d.dPP - d.dPS * d.dPS / d.dSS : d.dPP;
    }
    return fit.pBound == Bound::None ? d.dSS - d.dPS * d.dPS / d.dPP : d.dSS;
}

} // namespace

std::optional<double> profileLogLikelihood(const Problem& problem, Parameter parameter, double value)
{
    if (!canProfile(problem, parameter) || !(value > 0.0 && value < 1.0)) {
        return std::nullopt;
    }
    return profileAt(problem, parameter, value);
}

std::string limitText(const Limit& limit, int digits)
{
    if (limit.kind == LimitKind::NotGiven) {
        return "not given";
    }
    char number[64];
    std::snprintf(number, sizeof number, "%.*f", digits, limit.value);
    std::string text = number;
    if (limit.kind == LimitKind::Found) {
        return text;
    }
    // A bound is not a measured value: "below 0.01", not "below 0.0100".
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return (limit.kind == LimitKind::BelowRange ? "below " : "above ") + text;
}

ProfileInterval profileLimits(const Problem& problem, const Fit& fit, Parameter parameter)
{
    ProfileInterval interval;
    interval.parameter = parameter;
    if (!fit.hasEstimates()) {
        interval.reason = describe(fit.status);
        return interval;
    }
    if (parameter == Parameter::S && !fit.sFree) {
        interval.reason = "S is held at the value entered, not estimated, so it has no confidence "
                          "limits";
        return interval;
    }
    const double estimate = parameter == Parameter::P ? fit.P : fit.S;
    const double threshold = fit.logLikelihood - kProfileDrop;
    const Breakpoints breaks = breakpoints(problem, parameter);
    // The fit is the profile's maximum, so it gives the profile there without another solve.
    const ProfilePoint atEstimate{fit.logLikelihood, parameter == Parameter::P ? fit.S : fit.P};
    const double curvature = curvatureAt(problem, fit, parameter);
    interval.lower = limitToward(problem, parameter, threshold, estimate, atEstimate, curvature,
                                 kLowerBound, LimitKind::BelowRange, breaks, interval.gap);
    interval.upper = limitToward(problem, parameter, threshold, estimate, atEstimate, curvature,
                                 kUpperBound, LimitKind::AboveRange, breaks, interval.gap);
    return interval;
}

} // namespace kestrum::inference
