// The frequencies the model expects among 100 dogs identified on the first count, one function per
// capture history, each in its fixed order of evaluation (squares by the power function) so that
// the simulate command and the fit check show the very same numbers.
#pragma once

#include <cmath>

namespace kestrum {

inline double expected111(double P, double S)
{
    const double a = std::pow(S, 2.0);
    const double b = std::pow(P, 2.0);
    return (b * a) * 100.0;
}

inline double expected101(double P, double S)
{
    const double a = std::pow(S, 2.0);
    return ((a * (1.0 - P)) * P) * 100.0;
}

inline double expected110(double P, double S)
{
    const double a = ((1.0 - P) * S) + (1.0 - S);
    const double b = S * P;
    return (a * b) * 100.0;
}

// Its own closed form, not the complement of the other three.
inline double expected100(double P, double S)
{
    const double a = 1.0 - (S * P);
    const double b = (1.0 - P) * S;
    return ((a * b) + (1.0 - S)) * 100.0;
}

} // namespace kestrum
