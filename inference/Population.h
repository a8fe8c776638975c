// Dogs in the block from a street count: the count divided by the proportion seen on a count.
#pragma once

#include <string_view>

#include "Analysis.h"
#include "Fit.h"
#include "Profile.h"

namespace kestrum::inference {

struct PopulationEstimate {
    std::string_view reason; // why no estimate is given; empty when it is
    double count = 0.0;
    double estimate = 0.0; // count / P
    // count / (upper limit of P) and count / (lower limit of P). An open limit of P carries over:
    // P above 0.99 gives a lower limit below count / 0.99, P below 0.01 an upper one above
    // count / 0.01.
    Limit lower;
    Limit upper;

    bool given() const { return reason.empty(); }
};

// limitsOfP must be profileLimits(problem, fit, Parameter::P).
PopulationEstimate population(double streetCount, const Fit& fit, const ProfileInterval& limitsOfP);

// The same N with limits that also allow for the street count's own variation from one count to
// another, as the city's totals allow for it in a census of one block: the count binomial around
// N P, its log-normal limits joined on the log scale with P's profile limits as independent. An
// open limit of P leaves the limit of N it gives open, as in population().
PopulationEstimate populationWithCount(double streetCount, const Analysis& analysis);

// What the limits of population() leave out; shown with them.
std::string_view populationCaveat();

} // namespace kestrum::inference
