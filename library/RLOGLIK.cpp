// The capture-history likelihood. Between counts a dog stays with probability S; a dog in the block
// is seen with probability P; a dog that left is never seen again. The result is the kernel
// sum HIST(i) * ln PHIST(i), without the multinomial constant: only differences are interpreted.
//
// The steps keep a fixed order of operations, each PHIST entry rounded to a double, so results are
// bit-for-bit the same everywhere (the build forbids FMA contraction for this reason).
#include "RLOGLIK.h"

#include <cmath>

#include "kestrum.h"

namespace kestrum {

double rloglik(const Frequencies& HIST, double P, double S) noexcept
{
    OneBased<double, 4> PHIST;
    double LOGPROB = 0.0;
    PHIST(2) = (S * P) * (S * P);
    PHIST(3) = S * S * (1.0 - P) * P;
    PHIST(4) = S * P * (S * (1.0 - P) - S + 1.0);
    // The complement of the other three, from their stored values; it has no closed form here.
    PHIST(1) = ((-PHIST(4) - PHIST(3)) - PHIST(2)) + 1.0;
    for (std::size_t I = 1; I <= 4; ++I) {
        // An unobserved history contributes nothing even where it is impossible (0 * ln 0 = 0);
        // otherwise ln 0 gives -inf and a negative probability NaN, both honest limits.
        if (HIST(I) == 0 && PHIST(I) == 0.0) {
            continue;
        }
        LOGPROB = std::log(PHIST(I)) * static_cast<double>(HIST(I)) + LOGPROB;
    }
    return LOGPROB;
}

} // namespace kestrum

extern "C" KESTRUM_API double RLOGLIK(const int32_t* HIST, const double* P, const double* S)
{
    kestrum::Frequencies frequencies;
    for (std::size_t i = 1; i <= 4; ++i) {
        frequencies(i) = HIST[i - 1];
    }
    return kestrum::rloglik(frequencies, *P, *S);
}
