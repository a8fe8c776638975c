// Minimiser behind the entry point: NLopt's BOBYQA (Powell's bounded quadratic-model trust-region
// method, derivative-free) behind NAG E04JYF's argument list. This file is the adapter only:
// argument checks, the start moved into the box, parameters with equal bounds held fixed, every
// trial point clamped into the box before it reaches the objective, and NLopt's outcome mapped onto
// IFAIL. No allocation of ours; NLopt's own optimiser object is the only one.
#include "E04JYF.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include <nlopt.h>

#include "kestrum.h"

namespace kestrum {

namespace {

// Stop when a step changes no parameter by more than this fraction of its bound width: with bounds
// 0.01 .. 0.99 that is about 1e-8 in P and S, well inside the 1e-7 the estimates are promised to,
// and it costs only a few evaluations more than BOBYQA's looser defaults (about 33 on a two-
// parameter fit).
constexpr double kRelativeXTolerance = 1e-8;
// NAG's E04JYF gives up after 400 evaluations per free parameter; so do we.
constexpr int kEvaluationsPerParameter = 400;

struct Search {
    Objective FUNCT;
    const std::int32_t* IUSER;
    const double* USER;
    std::int32_t n = 0;                                 // all parameters, fixed ones included
    std::array<double, KESTRUM_MAX_FREE> point{};       // full point handed to FUNCT
    std::array<double, KESTRUM_MAX_FREE> lower{};
    std::array<double, KESTRUM_MAX_FREE> upper{};
    std::array<std::size_t, KESTRUM_MAX_FREE> varied{}; // positions the search moves
    unsigned nVaried = 0;
    std::array<double, KESTRUM_MAX_FREE> bestPoint{};
    double bestValue = HUGE_VAL;
    bool haveBest = false;
    double nonFiniteValue = 0.0;
    bool sawNonFinite = false;
    nlopt_opt opt = nullptr;

    double evaluate()
    {
        double value = 0.0;
        FUNCT(&n, point.data(), &value, IUSER, USER);
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
    const std::int32_t n = *N;
    if (!argumentsValid(n, *IBOUND, BL, BU)) {
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
        // The best finite point seen wins; without one, the start and what it gave.
        const auto& point = search.haveBest ? search.bestPoint : search.point;
        std::copy_n(point.begin(), n, XC);
        *F = search.haveBest ? search.bestValue : search.nonFiniteValue;
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
    for (unsigned k = 0; k < search.nVaried; ++k) {
        const std::size_t i = search.varied[k];
        lower[k] = search.lower[i];
        upper[k] = search.upper[i];
        xtol[k] = kRelativeXTolerance * (upper[k] - lower[k]);
    }
    double value = 0.0;
    nlopt_result result = nlopt_set_min_objective(opt.get(), nloptObjective, &search);
    if (result > 0) result = nlopt_set_lower_bounds(opt.get(), lower.data());
    if (result > 0) result = nlopt_set_upper_bounds(opt.get(), upper.data());
    if (result > 0) result = nlopt_set_xtol_abs(opt.get(), xtol.data());
    if (result > 0) {
        result = nlopt_set_maxeval(opt.get(), kEvaluationsPerParameter * static_cast<int>(search.nVaried));
    }
    if (result > 0) result = nlopt_optimize(opt.get(), x.data(), &value);
    finish(outcome(result, search));
}

} // namespace kestrum
