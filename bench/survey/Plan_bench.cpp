// The survey planner's speed: a plan from its file's text to the curve (goal: under 50 ms), for
// a city of three strata and for one of 30,000 blocks planned to a narrow target, whose curve
// runs to thousands of points; and 1,000 surveys of 40 blocks drawn under a plan and run through
// the survey's totals (goal: under 3 s on 2 cores). Wall time: compare threads:1 with threads:2.
#include <benchmark/benchmark.h>

#include <string>

#include "SurveyPlan.h"

namespace {

using namespace kestrum::survey;

const char* const kCity = "stratum,blocks,dogs_per_block,dogs_cv,P,S\n"
                          "centre,40,25,0.4,0.6,0.8\n"
                          "town,120,15,0.5,0.5,0.85\n"
                          "edge,300,8,0.5,0.45,0.9\n";
const char* const kLargeCity = "stratum,blocks,dogs_per_block,dogs_cv,P,S\n"
                               "centre,3000,25,0.4,0.6,0.8\n"
                               "town,9000,15,0.5,0.5,0.85\n"
                               "edge,18000,8,0.5,0.45,0.9\n";

void plan(benchmark::State& state, const char* text, double targetPct)
{
    PlanGoal goal;
    goal.targetPct = targetPct;
    std::size_t points = 0;
    for (auto _ : state) {
        StringSource source(text);
        const SurveyPlan planned = planSurvey(readPlan(source, "plan.csv"), goal);
        points = planned.curve.size();
        benchmark::DoNotOptimize(planned.city.se);
    }
    state.counters["curve_points"] = static_cast<double>(points);
}
BENCHMARK_CAPTURE(plan, City_Target20, kCity, 20.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(plan, LargeCity_Target3, kLargeCity, 3.0)->Unit(benchmark::kMillisecond);

void Simulate1000(benchmark::State& state)
{
    StringSource source(kCity);
    PlanGoal goal;
    goal.blocks = 40;
    const SurveyPlan planned = planSurvey(readPlan(source, "plan.csv"), goal);
    for (auto _ : state) {
        const SimulatedPlan simulated =
            simulatePlan(planned, 1000, 1, static_cast<unsigned>(state.range(0)));
        benchmark::DoNotOptimize(simulated.city.coverage);
    }
}
BENCHMARK(Simulate1000)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
