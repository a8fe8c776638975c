#include "Model.h"

#include "RLOGLIK.h"

namespace kestrum::inference {

const char* parameterName(Parameter parameter)
{
    return parameter == Parameter::P ? "P" : "S";
}

double logLikelihood(const Counts& counts, double P, double S)
{
    Frequencies hist;
    hist(1) = counts.n100;
    hist(2) = counts.n111;
    hist(3) = counts.n101;
    hist(4) = counts.n110;
    return rloglik(hist, P, S);
}

LogLikelihoodDerivatives logLikelihoodDerivatives(const Counts& counts, double P, double S)
{
    // Each history probability is a polynomial in P and S; the 1,0,0 one is the complement, so its
    // derivatives are minus the sum of the others'.
    struct Term {
        double value, dP, dS, dPP, dPS, dSS;
    };
    const Term t111{S * S * P * P, 2 * S * S * P, 2 * S * P * P, 2 * S * S, 4 * S * P, 2 * P * P};
    const Term t101{S * S * P * (1 - P), S * S * (1 - 2 * P), 2 * S * P * (1 - P), -2 * S * S,
                    2 * S * (1 - 2 * P), 2 * P * (1 - P)};
    const Term t110{S * P * (1 - S * P), S * (1 - 2 * S * P), P * (1 - 2 * S * P), -2 * S * S,
                    1 - 4 * S * P, -2 * P * P};
    const Term t100{1 - t111.value - t101.value - t110.value, -(t111.dP + t101.dP + t110.dP),
                    -(t111.dS + t101.dS + t110.dS),       -(t111.dPP + t101.dPP + t110.dPP),
                    -(t111.dPS + t101.dPS + t110.dPS),    -(t111.dSS + t101.dSS + t110.dSS)};

    LogLikelihoodDerivatives d;
    d.value = logLikelihood(counts, P, S);
    const auto add = [&d](std::int32_t count, const Term& t) {
        if (count == 0) {
            return;
        }
        const double n = count;
        const double gP = t.dP / t.value;
        const double gS = t.dS / t.value;
        d.dP += n * gP;
        d.dS += n * gS;
        d.dPP += n * (t.dPP / t.value - gP * gP);
        d.dPS += n * (t.dPS / t.value - gP * gS);
        d.dSS += n * (t.dSS / t.value - gS * gS);
    };
    add(counts.n100, t100);
    add(counts.n111, t111);
    add(counts.n101, t101);
    add(counts.n110, t110);
    return d;
}

} // namespace kestrum::inference
