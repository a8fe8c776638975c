// With a = S*P the likelihood factorises into two binomials: the second count sees a fraction a of
// the dogs, and so does the third among those seen on the second; among those missed on the
// second, a fraction r = a(S - a)/(1 - a) is seen on the third. Each has its own closed-form
// maximum, and (S, P) follows from (a, r). The map from (S, P) to (a, r) is one-to-one, so that
// point is the only stationary point inside the bounds; when it is not inside, the maximum is on
// an edge of the square, where it is found exactly in one dimension.
#include "Fit.h"

#include <cmath>
#include <limits>

#include "ConditionalMaximum.h"

namespace kestrum::inference {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Bound boundOf(double x)
{
    if (x <= kLowerBound) {
        return Bound::Lower;
    }
    if (x >= kUpperBound) {
        return Bound::Upper;
    }
    return Bound::None;
}

bool inBounds(double x)
{
    return x >= kLowerBound && x <= kUpperBound;
}

Fit withS(Fit result, const Counts& counts, double P, double S)
{
    result.P = P;
    result.S = S;
    result.logLikelihood = logLikelihood(counts, P, S);
    result.pBound = boundOf(P);
    result.sBound = result.sFree ? boundOf(S) : Bound::None;
    return result;
}

Fit bestOnEdges(Fit result, const Counts& counts)
{
    struct Candidate {
        double P, S, value;
    };
    Candidate best{0.0, 0.0, -HUGE_VAL};
    const auto consider = [&best](double P, double S, double value) {
        if (value > best.value) {
            best = {P, S, value};
        }
    };
    for (const double S : {kLowerBound, kUpperBound}) {
        const ConditionalMaximum m = bestP(counts, S);
        consider(m.at, S, m.logLikelihood);
    }
    for (const double P : {kLowerBound, kUpperBound}) {
        const ConditionalMaximum m = bestS(counts, P);
        consider(P, m.at, m.logLikelihood);
    }
    return withS(result, counts, best.P, best.S);
}

} // namespace

bool interiorMaximum(const Counts& c, double& P, double& S)
{
    const double seenOnSecond = 2.0 * c.n111 + c.n110;
    const double missedOnSecond = static_cast<double>(c.n100) + c.n101 + c.n110;
    const double missed = static_cast<double>(c.n100) + c.n101;
    if (seenOnSecond <= 0.0 || missedOnSecond <= 0.0 || missed <= 0.0) {
        return false;
    }
    const double a = seenOnSecond / (seenOnSecond + missedOnSecond);
    const double r = c.n101 / missed;
    S = a + r * (1.0 - a) / a;
    P = a / S;
    return inBounds(S) && inBounds(P);
}

Fit fit(const Problem& problem)
{
    const Counts& c = problem.counts;
    Fit result;
    result.sFree = problem.sFree;
    result.P = kNaN;
    result.S = problem.sFree ? kNaN : problem.sFixed;
    result.logLikelihood = kNaN;
    if (c.anyNegative() || (!problem.sFree && !(problem.sFixed > 0.0 && problem.sFixed <= 1.0))) {
        return result;
    }
    if (c.total() == 0.0) {
        result.status = FitStatus::NoData;
        result.logLikelihood = 0.0;
        return result;
    }
    result.status = FitStatus::Estimated;

    if (!problem.sFree) {
        const ConditionalMaximum m = bestP(c, problem.sFixed);
        return withS(result, c, m.at, problem.sFixed);
    }

    if (c.n100 == 0 && c.n101 == 0) {
        // Nothing was missed on the second count, so nothing tells a dog that left from one that
        // stayed unseen: the likelihood depends on a = S*P alone, maximal at this a.
        const double seen = 2.0 * c.n111 + c.n110;
        const double a = seen / (seen + c.n110);
        if (a <= kUpperBound * kUpperBound) {
            result.status = FitStatus::NotIdentifiable;
            const double root = std::sqrt(a);
            return withS(result, c, root, root);
        }
    }

    double P = 0.0;
    double S = 0.0;
    if (interiorMaximum(c, P, S)) {
        return withS(result, c, P, S);
    }
    return bestOnEdges(result, c);
}

std::string_view describe(FitStatus status)
{
    switch (status) {
    case FitStatus::Estimated:
        return "estimated";
    case FitStatus::NotIdentifiable:
        return "every dog was seen again on the second count, so only the product S x P is "
               "determined; the values shown are the point where S = P";
    case FitStatus::NoData:
        return "all four frequencies are zero, so there is nothing to estimate from";
    case FitStatus::InvalidInput:
        return "a frequency is negative, or the fixed S is not above 0 and at most 1";
    }
    return "";
}

} // namespace kestrum::inference
