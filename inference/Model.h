// The data and the question put to them: four capture-history frequencies, whether S is estimated
// or held at a value, and which parameter's profile is shown.
#pragma once

#include <cstdint>

namespace kestrum::inference {

// Frequencies of the capture histories of the dogs identified on the first count, always in this
// order: 1,0,0 / 1,1,1 / 1,0,1 / 1,1,0.
struct Counts {
    std::int32_t n100 = 0; // not seen again
    std::int32_t n111 = 0; // seen on both the second and the third count
    std::int32_t n101 = 0; // seen on the third count, not the second
    std::int32_t n110 = 0; // seen on the second count, not the third

    double total() const
    {
        return static_cast<double>(n100) + n111 + n101 + n110;
    }
    bool anyNegative() const { return n100 < 0 || n111 < 0 || n101 < 0 || n110 < 0; }
};

// P: proportion of the dogs present that is seen on a count. S: proportion staying between counts.
enum class Parameter { P, S };

struct Problem {
    Counts counts;
    bool sFree = true;
    double sFixed = 0.0;                // S when it is not estimated; must lie in (0, 1]
    Parameter profiled = Parameter::P;  // the parameter whose profile the window plots
};

// Bounds of every estimate, as the minimiser of the window is given them.
inline constexpr double kLowerBound = 0.01;
inline constexpr double kUpperBound = 0.99;

// 0.95 quantile of chi-square with one degree of freedom (= the square of kNormalQuantile975).
inline constexpr double kChiSquare1Quantile95 = 3.841458820694124;
// The profile falls this far below its maximum at a 95% likelihood-ratio limit.
inline constexpr double kProfileDrop = kChiSquare1Quantile95 / 2.0;
inline constexpr double kNormalQuantile975 = 1.959963984540054;

const char* parameterName(Parameter parameter);

// The log likelihood kernel, sum n_i ln PHIST_i, from the library's own definition of the model.
double logLikelihood(const Counts& counts, double P, double S);

// Value, gradient and Hessian of the log likelihood, in closed form.
struct LogLikelihoodDerivatives {
    double value = 0.0;
    double dP = 0.0;
    double dS = 0.0;
    double dPP = 0.0;
    double dPS = 0.0;
    double dSS = 0.0;
};
LogLikelihoodDerivatives logLikelihoodDerivatives(const Counts& counts, double P, double S);

} // namespace kestrum::inference
