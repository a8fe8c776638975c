// The estimation library's costs: one likelihood, one fit, and the library work of one press of
// "estimate" (the full fit and a twenty-point profile of P), alone and with the exact inference the
// press shows beside it. Fits go through the entry point; the evaluation counts come from one extra
// run of the same search with a counting objective.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "Analysis.h"
#include "E04JYF.h"
#include "kestrum.h"

namespace {

using Hist = std::array<std::int32_t, 4>;
constexpr std::array<Hist, 3> kData{{{10, 20, 5, 7}, {50, 20, 10, 20}, {30, 30, 30, 30}}};

struct Record {
    std::array<std::int32_t, KESTRUM_IUSER_SIZE> IUSER{};
    std::array<double, KESTRUM_USER_SIZE> USER{};

    Record(const Hist& hist, bool sFree)
    {
        IUSER[0] = sFree ? 2 : 1;
        IUSER[1] = sFree ? KESTRUM_PARAM_S : KESTRUM_PARAM_P;
        IUSER[2] = KESTRUM_PARAM_P;
        std::copy(hist.begin(), hist.end(), IUSER.begin() + (KESTRUM_IUSER_HIST - 1));
        const double slots[] = {0.9, 1.0, 0.01, 0.99, 0.9, 1.0, 0.01, 0.99};
        std::copy(std::begin(slots), std::end(slots), USER.begin());
    }
};

using Minimiser = void (*)(Record&, std::int32_t N, double* XC, double* F);

void entryPoint(Record& record, std::int32_t N, double* XC, double* F)
{
    std::int32_t IBOUND = 0, LIW = KESTRUM_LIW, LW = KESTRUM_LW, IFAIL = 1;
    double BL[KESTRUM_MAX_FREE] = {0.01, 0.01};
    double BU[KESTRUM_MAX_FREE] = {0.99, 0.99};
    std::int32_t IW[KESTRUM_LIW];
    double W[KESTRUM_LW];
    N_E04JYF(&N, &IBOUND, BL, BU, XC, F, IW, &LIW, W, &LW, record.IUSER.data(), record.USER.data(),
             &IFAIL);
}

long evaluations = 0;

void countingObjective(const std::int32_t* N, const double* XC, double* FC,
                       const std::int32_t* IUSER, const double* USER)
{
    ++evaluations;
    FUNCT1(N, XC, FC, IUSER, USER);
}

void counted(Record& record, std::int32_t N, double* XC, double* F)
{
    std::int32_t IBOUND = 0, LIW = KESTRUM_LIW, LW = KESTRUM_LW, IFAIL = 1;
    double BL[KESTRUM_MAX_FREE] = {0.01, 0.01};
    double BU[KESTRUM_MAX_FREE] = {0.99, 0.99};
    std::int32_t IW[KESTRUM_LIW];
    double W[KESTRUM_LW];
    kestrum::E04JYF(&N, &IBOUND, countingObjective, BL, BU, XC, F, IW, &LIW, W, &LW,
                    record.IUSER.data(), record.USER.data(), &IFAIL);
}

// The program's full fit from its start-up values, then its profile of P: S alone free, each
// point a one-parameter fit from where the last one ended, over 0.7 to 1.3 times the estimate.
double press(const Hist& hist, Minimiser minimise)
{
    Record record(hist, true);
    double XC[KESTRUM_MAX_FREE] = {0.9, 0.9};
    double F = 0.0;
    minimise(record, 2, XC, &F);
    const double estimate = XC[1];
    const double low = 0.7 * estimate;
    const double high = std::min(0.99, 1.3 * estimate);
    record.IUSER[1] = KESTRUM_PARAM_S;
    double sum = F;
    for (int k = 0; k < 20; ++k) {
        record.USER[KESTRUM_USER_P - 1] = low + (high - low) * k / 20.0;
        minimise(record, 1, XC, &F);
        sum += F;
    }
    return sum;
}

double fit(const Hist& hist, std::int32_t N, Minimiser minimise)
{
    Record record(hist, N == 2);
    double XC[KESTRUM_MAX_FREE] = {0.9, 0.9};
    double F = 0.0;
    minimise(record, N, XC, &F);
    return F;
}

void setLabel(benchmark::State& state, const Hist& hist)
{
    state.SetLabel(std::to_string(hist[0]) + "," + std::to_string(hist[1]) + "," +
                   std::to_string(hist[2]) + "," + std::to_string(hist[3]));
}

void BM_RLOGLIK(benchmark::State& state)
{
    const Hist& hist = kData[0];
    double P = 0.6;
    const double S = 0.7;
    for (auto _ : state) {
        benchmark::DoNotOptimize(RLOGLIK(hist.data(), &P, &S));
        P = P < 0.9 ? P + 1e-9 : 0.6;
    }
}
BENCHMARK(BM_RLOGLIK);

// Runs the work once more with a counting objective, and labels the row with the data.
template <class Work>
void countEvaluations(benchmark::State& state, const Hist& hist, Work work)
{
    evaluations = 0;
    work();
    state.counters["evaluations"] = static_cast<double>(evaluations);
    setLabel(state, hist);
}

void BM_FullFit(benchmark::State& state)
{
    const Hist& hist = kData[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        benchmark::DoNotOptimize(fit(hist, 2, entryPoint));
    }
    countEvaluations(state, hist, [&hist] { fit(hist, 2, counted); });
}
BENCHMARK(BM_FullFit)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// S held at 0.9, P alone free.
void BM_OneParameterFit(benchmark::State& state)
{
    const Hist& hist = kData[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        benchmark::DoNotOptimize(fit(hist, 1, entryPoint));
    }
    countEvaluations(state, hist, [&hist] { fit(hist, 1, counted); });
}
BENCHMARK(BM_OneParameterFit)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_Press(benchmark::State& state)
{
    const Hist& hist = kData[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        benchmark::DoNotOptimize(press(hist, entryPoint));
    }
    countEvaluations(state, hist, [&hist] { press(hist, counted); });
}
BENCHMARK(BM_Press)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// The press's library work and the exact inference of the same block (limits, errors, fit check).
void BM_PressWithExactInference(benchmark::State& state)
{
    const Hist& hist = kData[static_cast<std::size_t>(state.range(0))];
    const kestrum::inference::Problem problem{{hist[0], hist[1], hist[2], hist[3]}, true};
    for (auto _ : state) {
        benchmark::DoNotOptimize(press(hist, entryPoint));
        benchmark::DoNotOptimize(kestrum::inference::analyse(problem));
    }
    setLabel(state, hist);
}
BENCHMARK(BM_PressWithExactInference)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
