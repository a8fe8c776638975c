#include "Population.h"

#include <cmath>

#include "Totals.h"

namespace kestrum::inference {

namespace {

// A bigger P means fewer dogs, so each limit of P gives the opposite limit of the population.
Limit inverted(double count, const Limit& limitOfP)
{
    switch (limitOfP.kind) {
    case LimitKind::Found:
        return {LimitKind::Found, count / limitOfP.value};
    case LimitKind::BelowRange:
        return {LimitKind::AboveRange, count / limitOfP.value};
    case LimitKind::AboveRange:
        return {LimitKind::BelowRange, count / limitOfP.value};
    case LimitKind::NotGiven:
        break;
    }
    return {};
}

} // namespace

PopulationEstimate population(double streetCount, const Fit& fit, const ProfileInterval& limitsOfP)
{
    PopulationEstimate result;
    result.count = streetCount;
    if (!(streetCount >= 0.0) || !std::isfinite(streetCount)) {
        result.reason = "the street count must be a number of dogs, zero or more";
        return result;
    }
    if (fit.status != FitStatus::Estimated) {
        // Without a unique P there is no count / P to give, only a made-up one.
        result.reason = describe(fit.status);
        return result;
    }
    if (!limitsOfP.given() || limitsOfP.parameter != Parameter::P) {
        result.reason = "the confidence limits of P are needed and are not given";
        return result;
    }
    result.estimate = streetCount / fit.P;
    result.lower = inverted(streetCount, limitsOfP.upper);
    result.upper = inverted(streetCount, limitsOfP.lower);
    return result;
}

PopulationEstimate populationWithCount(double streetCount, const Analysis& analysis)
{
    PopulationEstimate result = population(streetCount, analysis.fit, analysis.limitsP);
    SharedPLimits limitsOfP;
    if (!result.given() || !sharedPLimits(analysis, limitsOfP)) {
        return result;
    }
    // One block that is the whole of its stratum: its count is A, with the binomial variance
    // C (1 - P), and nothing else is scaled up.
    StratumSample block;
    block.add({streetCount, streetCount * (1.0 - analysis.fit.P)});
    const Total dogs = divideByP(stratumTotal(1.0, block), limitsOfP);
    result.estimate = dogs.total;
    result.lower = {result.lower.open() ? result.lower.kind : LimitKind::Found, dogs.lower};
    result.upper = {result.upper.open() ? result.upper.kind : LimitKind::Found, dogs.upper};
    return result;
}

std::string_view populationCaveat()
{
    return "These limits allow only for the uncertainty in P; the street count's own variation "
           "from one count to another is not included.";
}

} // namespace kestrum::inference
