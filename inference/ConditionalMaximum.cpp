// The log likelihood in one parameter x, the other held, is a weighted sum of logarithms of a few
// polynomial factors f_k(x) that stay positive on the bounds. Its derivative is
//     N(x) / prod f_k(x),   N = sum_k w_k f_k' prod_{j != k} f_j,
// so its sign is the sign of the polynomial N (degree 4 at most). Locating every root of N between
// the bounds gives every stationary point; the maximum is the best of those where N turns from plus
// to minus and of the bounds. No search tolerance, no starting point, and no allocation.
#include "ConditionalMaximum.h"

#include <array>
#include <cmath>
#include <utility>

namespace kestrum::inference {

namespace {

constexpr int kMaxDegree = 5; // the product of all factors; N is one lower

struct Polynomial {
    std::array<double, kMaxDegree + 1> c{}; // c[i] multiplies x^i
    int degree = 0;

    double operator()(double x) const
    {
        double value = c[static_cast<std::size_t>(degree)];
        for (int i = degree - 1; i >= 0; --i) {
            value = value * x + c[static_cast<std::size_t>(i)];
        }
        return value;
    }

    // Keeps the degree honest when a leading coefficient cancels, so that the root isolation
    // below never divides by a zero leading term.
    void trim()
    {
        while (degree > 0 && c[static_cast<std::size_t>(degree)] == 0.0) {
            --degree;
        }
    }
};

Polynomial product(const Polynomial& a, const Polynomial& b)
{
    Polynomial r;
    r.degree = a.degree + b.degree;
    for (int i = 0; i <= a.degree; ++i) {
        for (int j = 0; j <= b.degree; ++j) {
            r.c[static_cast<std::size_t>(i + j)] +=
                a.c[static_cast<std::size_t>(i)] * b.c[static_cast<std::size_t>(j)];
        }
    }
    return r;
}

void addScaled(Polynomial& to, const Polynomial& p, double scale)
{
    for (int i = 0; i <= p.degree; ++i) {
        to.c[static_cast<std::size_t>(i)] += scale * p.c[static_cast<std::size_t>(i)];
    }
    if (p.degree > to.degree) {
        to.degree = p.degree;
    }
}

Polynomial derivative(const Polynomial& p)
{
    Polynomial d;
    d.degree = p.degree > 0 ? p.degree - 1 : 0;
    for (int i = 1; i <= p.degree; ++i) {
        d.c[static_cast<std::size_t>(i - 1)] = i * p.c[static_cast<std::size_t>(i)];
    }
    return d;
}

// The root of p in (a, b), where p(a) and p(b) differ in sign and p changes sign only once between:
// Newton steps, falling back to bisection whenever a step leaves the bracket.
double rootOnMonotone(const Polynomial& p, const Polynomial& dp, double a, double b, double pa)
{
    const bool negativeAtA = pa < 0.0;
    double x = 0.5 * (a + b);
    for (int iteration = 0; iteration < 200; ++iteration) {
        const double px = p(x);
        if (px == 0.0) {
            return x;
        }
        if ((px < 0.0) == negativeAtA) {
            a = x;
        } else {
            b = x;
        }
        const double slope = dp(x);
        double next = slope != 0.0 ? x - px / slope : a;
        if (!(next > a && next < b)) {
            next = 0.5 * (a + b);
        }
        if (next == x || b - a <= 4.0 * 2.2e-16 * std::fabs(x)) {
            return next;
        }
        x = next;
    }
    return x;
}

// The sign-changing roots of a quadratic inside (lo, hi), ascending, by the cancellation-free form
// of the usual formula.
int quadraticRootsBetween(const Polynomial& p, double lo, double hi, double* roots)
{
    const double a = p.c[2];
    const double b = p.c[1];
    const double c = p.c[0];
    const double discriminant = b * b - 4.0 * a * c;
    if (!(discriminant > 0.0)) {
        return 0; // no real roots, or a double one where the sign does not change
    }
    const double q = -0.5 * (b + std::copysign(std::sqrt(discriminant), b));
    double r1 = q / a;
    double r2 = q != 0.0 ? c / q : -r1;
    if (r1 > r2) {
        std::swap(r1, r2);
    }
    int n = 0;
    for (const double r : {r1, r2}) {
        if (r > lo && r < hi) {
            roots[n++] = r;
        }
    }
    return n;
}

// Every root of p strictly inside (lo, hi) at which p changes sign, ascending. The roots of p' split
// the interval into stretches where p is monotone, each holding at most one root.
int rootsBetween(const Polynomial& p, double lo, double hi, double* roots)
{
    if (p.degree < 1) {
        return 0;
    }
    if (p.degree == 1) {
        const double r = -p.c[0] / p.c[1];
        if (r > lo && r < hi) {
            roots[0] = r;
            return 1;
        }
        return 0;
    }
    if (p.degree == 2) {
        return quadraticRootsBetween(p, lo, hi, roots);
    }
    Polynomial dp = derivative(p);
    dp.trim();
    std::array<double, kMaxDegree + 2> breaks{};
    breaks[0] = lo;
    int nBreaks = 1 + rootsBetween(dp, lo, hi, &breaks[1]);
    breaks[static_cast<std::size_t>(nBreaks++)] = hi;

    int n = 0;
    double pa = p(lo);
    for (int k = 0; k + 1 < nBreaks; ++k) {
        const double a = breaks[static_cast<std::size_t>(k)];
        const double b = breaks[static_cast<std::size_t>(k + 1)];
        const double pb = p(b);
        if ((pa < 0.0 && pb > 0.0) || (pa > 0.0 && pb < 0.0)) {
            roots[n++] = rootOnMonotone(p, dp, a, b, pa);
        }
        pa = pb;
    }
    return n;
}

// One factor of the likelihood in x: weight * ln f(x).
struct Factor {
    Polynomial f;
    double weight;
};

Polynomial derivativeNumerator(const Factor* factors, int nFactors)
{
    Polynomial numerator;
    for (int k = 0; k < nFactors; ++k) {
        if (factors[k].weight == 0.0) {
            continue; // contributes nothing, and leaving it out keeps N's degree low
        }
        Polynomial term = derivative(factors[k].f);
        for (int j = 0; j < nFactors; ++j) {
            if (j != k && factors[j].weight != 0.0) {
                term = product(term, factors[j].f);
            }
        }
        addScaled(numerator, term, factors[k].weight);
    }
    numerator.trim();
    return numerator;
}

template <class LogLikelihoodAt>
ConditionalMaximum maximise(const Factor* factors, int nFactors, LogLikelihoodAt logLikelihoodAt)
{
    const Polynomial numerator = derivativeNumerator(factors, nFactors);
    std::array<double, kMaxDegree> roots{};
    const int nRoots = rootsBetween(numerator, kLowerBound, kUpperBound, roots.data());

    ConditionalMaximum best{kLowerBound, -HUGE_VAL};
    const auto consider = [&](double x) {
        const double value = logLikelihoodAt(x);
        if (value > best.logLikelihood) {
            best = {x, value};
        }
    };
    // With no information at all (N identically zero) both bounds qualify and the lower one wins.
    if (numerator(kLowerBound) <= 0.0) {
        consider(kLowerBound);
    }
    double previous = kLowerBound;
    for (int i = 0; i < nRoots; ++i) {
        const double root = roots[static_cast<std::size_t>(i)];
        if (numerator(0.5 * (previous + root)) > 0.0) { // rising before the root: a maximum
            consider(root);
        }
        previous = root;
    }
    if (numerator(kUpperBound) >= 0.0) {
        consider(kUpperBound);
    }
    if (best.logLikelihood == -HUGE_VAL) {
        // Only reachable if rounding hid every sign change; the bounds are then the safe answer.
        consider(kLowerBound);
        consider(kUpperBound);
    }
    return best;
}

// For a likelihood known to be concave: its derivative changes sign at most once, from plus to
// minus, so the bounds decide at once or bracket the single maximum.
template <class LogLikelihoodAt>
ConditionalMaximum maximiseConcave(const Factor* factors, int nFactors,
                                   LogLikelihoodAt logLikelihoodAt)
{
    const Polynomial numerator = derivativeNumerator(factors, nFactors);
    const double atLower = numerator(kLowerBound);
    double at = kLowerBound;
    if (atLower > 0.0) {
        const double atUpper = numerator(kUpperBound);
        at = atUpper >= 0.0 ? kUpperBound
                            : rootOnMonotone(numerator, derivative(numerator), kLowerBound,
                                             kUpperBound, atLower);
    }
    return {at, logLikelihoodAt(at)};
}

Polynomial poly(double c0, double c1, double c2 = 0.0)
{
    Polynomial p;
    p.c[0] = c0;
    p.c[1] = c1;
    p.c[2] = c2;
    p.degree = c2 != 0.0 ? 2 : 1;
    return p;
}

// In P: PHIST(111) ~ P^2, PHIST(101) ~ P(1-P), PHIST(110) ~ P(1-SP),
// PHIST(100) = 1 - S(1+S)P + S^2 P^2.
std::array<Factor, 4> factorsInP(const Counts& counts, double S)
{
    return {{
        {poly(0.0, 1.0), 2.0 * counts.n111 + counts.n101 + counts.n110},
        {poly(1.0, -1.0), static_cast<double>(counts.n101)},
        {poly(1.0, -S), static_cast<double>(counts.n110)},
        {poly(1.0, -S * (1.0 + S), S * S), static_cast<double>(counts.n100)},
    }};
}

} // namespace

ConditionalMaximum bestP(const Counts& counts, double S)
{
    const std::array<Factor, 4> factors = factorsInP(counts, S);
    return maximise(factors.data(), 4, [&](double P) { return logLikelihood(counts, P, S); });
}

int stationaryP(const Counts& counts, double S, std::array<double, 4>& points)
{
    const std::array<Factor, 4> factors = factorsInP(counts, S);
    std::array<double, kMaxDegree> roots{};
    const int n = rootsBetween(derivativeNumerator(factors.data(), 4), kLowerBound, kUpperBound,
                               roots.data());
    const int kept = n < 4 ? n : 4; // the numerator is a quartic at most
    for (int i = 0; i < kept; ++i) {
        points[static_cast<std::size_t>(i)] = roots[static_cast<std::size_t>(i)];
    }
    return kept;
}

ConditionalMaximum bestS(const Counts& counts, double P)
{
    // In S: PHIST(111) ~ S^2, PHIST(101) ~ S^2, PHIST(110) ~ S(1-PS),
    // PHIST(100) = 1 - PS - P(1-P)S^2.
    const Factor factors[] = {
        {poly(0.0, 1.0), 2.0 * counts.n111 + 2.0 * counts.n101 + counts.n110},
        {poly(1.0, -P), static_cast<double>(counts.n110)},
        {poly(1.0, -P, -P * (1.0 - P)), static_cast<double>(counts.n100)},
    };
    return maximiseConcave(factors, 3, [&](double S) { return logLikelihood(counts, P, S); });
}

} // namespace kestrum::inference
