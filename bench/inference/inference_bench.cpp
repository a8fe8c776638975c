// The exact inference of one block (the fit, the profile limits of P and S, standard errors, the
// fit check) on typical blocks.
#include <benchmark/benchmark.h>

#include <array>
#include <string>

#include "Analysis.h"

namespace {

using namespace kestrum::inference;

// The worked examples, a larger block, S on its bound, S held, and few dogs.
const std::array<Problem, 6> kBlocks{{{{10, 20, 5, 7}, true},
                                      {{50, 20, 10, 20}, true},
                                      {{30, 30, 30, 30}, true},
                                      {{167, 78, 64, 88}, true},
                                      {{10, 20, 5, 7}, false, 0.9},
                                      {{3, 4, 5, 6}, true}}};

std::string label(const Problem& problem)
{
    const Counts& c = problem.counts;
    return std::to_string(c.n100) + "," + std::to_string(c.n111) + "," + std::to_string(c.n101) +
           "," + std::to_string(c.n110) + (problem.sFree ? "" : " S held");
}

void BM_ExactInference(benchmark::State& state)
{
    const Problem& problem = kBlocks[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state) {
        benchmark::DoNotOptimize(analyse(problem));
    }
    state.SetLabel(label(problem));
}
BENCHMARK(BM_ExactInference)->DenseRange(0, kBlocks.size() - 1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
