// Minimiser behind the entry point: NLopt's BOBYQA (Powell's bounded quadratic-model trust-region
// method, derivative-free) behind NAG E04JYF's argument list. This file is the adapter only:
// argument checks, the start moved into the box, parameters with equal bounds held fixed, every
// trial point clamped into the box before it reaches the objective, and NLopt's outcome mapped onto
// IFAIL. No allocation of ours; NLopt's own optimiser object is the only one.
#include "E04JYF.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include <nlopt.h>

#include "kestrum.h"

namespace kestrum {

namespace {

// Stop when the trust region has shrunk to this fraction of each bound width. With two or more
// parameters BOBYQA's 2n+1 interpolation points leave its quadratic model underdetermined and the
// point found is about as good as the final radius: 1e-8 of the width, about 1e-8 in P and S,
// keeps the estimates well inside 1e-7 (tighter only chases the objective's rounding). With one
// parameter the three points fix the quadratic exactly and the last model step lands on its
// minimum, far closer than the final radius: a radius of 1e-6 gives the same 1e-8 accuracy with
// two or three fewer evaluations per profile point (accuracy starts to go at 1e-5).
constexpr double kRelativeXTolerance = 1e-8;
constexpr double kRelativeXToleranceOneParameter = 1e-6;
// First trust-region radius, as a fraction of each bound width. NLopt's default is 3/4 of the
// distance to the nearer bound, so a start a hair inside a bound (S = 0.99 - 1e-9, as a profile
// point that begins at the previous estimate may) began with a radius of 1e-9 and stopped next to
// the start, far from the minimum. With two or more parameters a wide first base (a quarter of the
// width) gives the underdetermined model more to go on and pays back in fewer evaluations. With
// one parameter the model is exact at any radius, and a small one saves trust-region reductions:
// the profile's one-parameter fits start a few hundredths from their minimum.
constexpr double kInitialStepFraction = 0.25;
constexpr double kInitialStepFractionOneParameter = 0.03;
// NAG's E04JYF gives up after 400 evaluations per free parameter; so do we.
constexpr int kEvaluationsPerParameter = 400;

struct Search {
    Objective FUNCT;
    const std::int32_t* IUSER;
    const double* USER;
    std::int32_t n = 0;                           // all parameters, fixed ones included
    std::array<double, KESTRUM_MAX_FREE> point{}; // full point handed to FUNCT
    std::array<double, KESTRUM_MAX_FREE> lower{};
    std::array<double, KESTRUM_MAX_FREE> upper{};
    std::array<std::size_t, KESTRUM_MAX_FREE> varied{}; // positions the search moves
    unsigned nVaried = 0;
    std::array<double, KESTRUM_MAX_FREE> bestPoint{};
    double bestValue = HUGE_VAL;
    bool haveBest = false;
    bool evaluated = false;
    double nonFiniteValue = 0.0;
    bool sawNonFinite = false;
    nlopt_opt opt = nullptr;

    double evaluate()
    {
        double value = 0.0;
        FUNCT(&n, point.data(), &value, IUSER, USER);
        evaluated = true;
        if (!std::isfinite(value)) {
            sawNonFinite = true;
            nonFiniteValue = value;
        } else if (!haveBest || value < bestValue) {
            haveBest = true;
            bestValue = value;
            bestPoint = point;
        }
        return value;
    }
};

double nloptObjective(unsigned nVaried, const double* x, double* /*gradient*/, void* data)
{
    auto& search = *static_cast<Search*>(data);
    for (unsigned k = 0; k < nVaried; ++k) {
        const std::size_t i = search.varied[k];
        // BOBYQA keeps its points in the box; the clamp makes it a guarantee against round-off.
        search.point[i] = std::clamp(x[k], search.lower[i], search.upper[i]);
    }
    const double value = search.evaluate();
    if (!std::isfinite(value)) {
        // The model is undefined there; a quadratic model through NaN or infinity is meaningless.
        nlopt_force_stop(search.opt);
        return HUGE_VAL;
    }
    return value;
}

struct NloptDeleter {
    void operator()(nlopt_opt opt) const { nlopt_destroy(opt); }
};

std::int32_t outcome(nlopt_result result, const Search& search)
{
    if (search.sawNonFinite) {
        return KESTRUM_IFAIL_NONFINITE_OBJECTIVE;
    }
    switch (result) {
    case NLOPT_SUCCESS:
    case NLOPT_STOPVAL_REACHED:
    case NLOPT_FTOL_REACHED:
    case NLOPT_XTOL_REACHED:
        return KESTRUM_IFAIL_CONVERGED;
    case NLOPT_MAXEVAL_REACHED:
    case NLOPT_MAXTIME_REACHED:
        return KESTRUM_IFAIL_EVALUATION_LIMIT;
    default:
        return KESTRUM_IFAIL_MINIMISER_FAILURE;
    }
}

bool argumentsValid(std::int32_t n, std::int32_t ibound, const double* BL, const double* BU)
{
    if (n < 1 || n > KESTRUM_MAX_FREE || ibound != 0) {
        return false;
    }
    for (std::int32_t i = 0; i < n; ++i) {
        if (!std::isfinite(BL[i]) || !std::isfinite(BU[i]) || BL[i] > BU[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

void E04JYF(const std::int32_t* N, const std::int32_t* IBOUND, Objective FUNCT, const double* BL,
            const double* BU, double* XC, double* F, std::int32_t* /*IW*/,
            const std::int32_t* /*LIW*/, double* /*W*/, const std::int32_t* /*LW*/,
            const std::int32_t* IUSER, const double* USER, std::int32_t* IFAIL) noexcept
{
    constexpr double noValue = std::numeric_limits<double>::quiet_NaN();
    const std::int32_t n = *N;
    if (!argumentsValid(n, *IBOUND, BL, BU)) {
        // No value was computed; a stale F must not pass for one.
        *F = noValue;
        *IFAIL = KESTRUM_IFAIL_BAD_ARGUMENTS;
        return;
    }

    Search search{FUNCT, IUSER, USER};
    search.n = n;
    std::array<double, KESTRUM_MAX_FREE> x{};
    for (std::int32_t i = 0; i < n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        search.lower[at] = BL[i];
        search.upper[at] = BU[i];
        const double start = std::isnan(XC[i]) ? BL[i] + (BU[i] - BL[i]) / 2.0 : XC[i];
        search.point[at] = std::clamp(start, BL[i], BU[i]);
        if (BL[i] < BU[i]) {
            x[search.nVaried] = search.point[at];
            search.varied[search.nVaried++] = at;
        }
    }

    const auto finish = [&](std::int32_t ifail) {
        // The best finite point seen wins; failing that, the start and what it gave; with nothing
        // evaluated, the caller's XC stays as it was.
        if (search.haveBest) {
            std::copy_n(search.bestPoint.begin(), n, XC);
            *F = search.bestValue;
        } else if (search.evaluated) {
            std::copy_n(search.point.begin(), n, XC);
            *F = search.nonFiniteValue;
        } else {
            *F = noValue;
        }
        *IFAIL = ifail;
    };

    if (search.nVaried == 0) {
        search.evaluate();
        finish(search.sawNonFinite ? KESTRUM_IFAIL_NONFINITE_OBJECTIVE : KESTRUM_IFAIL_CONVERGED);
        return;
    }

    std::unique_ptr<nlopt_opt_s, NloptDeleter> opt(nlopt_create(NLOPT_LN_BOBYQA, search.nVaried));
    if (!opt) {
        finish(KESTRUM_IFAIL_MINIMISER_FAILURE);
        return;
    }
    search.opt = opt.get();
    std::array<double, KESTRUM_MAX_FREE> lower{};
    std::array<double, KESTRUM_MAX_FREE> upper{};
    std::array<double, KESTRUM_MAX_FREE> xtol{};
    std::array<double, KESTRUM_MAX_FREE> step{};
    const bool oneParameter = search.nVaried == 1;
    const double tolerance = oneParameter ? kRelativeXToleranceOneParameter : kRelativeXTolerance;
    const double stepFraction =
        oneParameter ? kInitialStepFractionOneParameter : kInitialStepFraction;
    for (unsigned k = 0; k < search.nVaried; ++k) {
        const std::size_t i = search.varied[k];
        lower[k] = search.lower[i];
        upper[k] = search.upper[i];
        xtol[k] = tolerance * (upper[k] - lower[k]);
        step[k] = stepFraction * (upper[k] - lower[k]);
    }
    const int budget = kEvaluationsPerParameter * static_cast<int>(search.nVaried);
    double value = 0.0;
    nlopt_result result = nlopt_set_min_objective(opt.get(), nloptObjective, &search);
    if (result > 0) {
        result = nlopt_set_lower_bounds(opt.get(), lower.data());
    }
    if (result > 0) {
        result = nlopt_set_upper_bounds(opt.get(), upper.data());
    }
    if (result > 0) {
        result = nlopt_set_xtol_abs(opt.get(), xtol.data());
    }
    if (result > 0) {
        result = nlopt_set_initial_step(opt.get(), step.data());
    }
    if (result > 0) {
        result = nlopt_set_maxeval(opt.get(), budget);
    }
    if (result > 0) {
        result = nlopt_optimize(opt.get(), x.data(), &value);
    }

    // BOBYQA reports round-off limited when cancellation spoils its interpolation update. On this
    // objective that happens once the trust region has shrunk to the objective's own rounding,
    // with the minimum already found, and the program would wrongly flag such a fit. Rather than
    // take that on trust, restart once from the best point with a fresh model: if the restart
    // stops normally, or again only on round-off, the point is as good as the arithmetic allows.
    const int used = nlopt_get_numevals(opt.get());
    if (result == NLOPT_ROUNDOFF_LIMITED && search.haveBest && used < budget) {
        for (unsigned k = 0; k < search.nVaried; ++k) {
            x[k] = search.bestPoint[search.varied[k]];
        }
        result = nlopt_set_maxeval(opt.get(), budget - used);
        if (result > 0) {
            result = nlopt_optimize(opt.get(), x.data(), &value);
        }
        if (result == NLOPT_ROUNDOFF_LIMITED) {
            result = NLOPT_XTOL_REACHED;
        }
    }
    finish(outcome(result, search));
}

} // namespace kestrum
