// The estimator on a survey drawn from the model, every column written, against the floor: a
// minimal reader, the closed-form fit, the profile limits and a writer, written here. Compare
// Survey_Csv/jobs:1 with Floor (the goal is at most twice its time), and jobs:1 with jobs:2.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <random>
#include <string>

#include "Analysis.h"
#include "Survey.h"
#include "kestrum.h"

namespace {

using namespace kestrum::survey;
namespace inference = kestrum::inference;

constexpr std::size_t kBlocks = 20000;

// Blocks of 10 to 80 dogs with P and S anywhere from 0.3 to 0.95, every tenth with S held at its
// true value, each with a street count; the same survey on every run.
const std::string& survey()
{
    static const std::string text = [] {
        std::mt19937_64 random(20240611);
        std::uniform_real_distribution<double> proportion(0.3, 0.95);
        std::uniform_int_distribution<int> dogs(10, 80);
        std::string csv = "block,n100,n111,n101,n110,s_fixed,count\n";
        for (std::size_t b = 0; b < kBlocks; ++b) {
            const double P = proportion(random);
            const double S = proportion(random);
            const double p111 = S * S * P * P;
            const double p101 = S * S * P * (1 - P);
            const double p110 = S * P * (1 - S * P);
            std::discrete_distribution<int> history({1 - p111 - p101 - p110, p111, p101, p110});
            int n[4] = {};
            const int seen = dogs(random);
            for (int d = 0; d < seen; ++d) {
                ++n[history(random)];
            }
            csv += "block " + std::to_string(b) + "," + std::to_string(n[0]) + "," +
                   std::to_string(n[1]) + "," + std::to_string(n[2]) + "," + std::to_string(n[3]) +
                   "," + (b % 10 == 0 ? std::to_string(S) : "") + "," + std::to_string(seen) + "\n";
        }
        return csv;
    }();
    return text;
}

void blocksPerSecond(benchmark::State& state)
{
    state.counters["blocks_per_second"] =
        benchmark::Counter(static_cast<double>(kBlocks) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void survey(benchmark::State& state, Format format, bool totals = false)
{
    const std::string& text = survey();
    const int nowhere = ::open("/dev/null", O_WRONLY);
    SurveyOptions options;
    options.format = format;
    options.jobs = static_cast<unsigned>(state.range(0));
    if (totals) {
        options.frame = SamplingFrame::oneStratum(std::to_string(kBlocks * 10));
    }
    for (auto _ : state) {
        StringSource source(text);
        RowSink output(nowhere);
        Progress quiet(stderr, false, std::nullopt);
        const SurveySummary summary = runSurvey(source, output, quiet, options, N_E04JYF);
        if (summary.fitted != kBlocks) {
            state.SkipWithError("not every block was fitted");
        }
    }
    ::close(nowhere);
    blocksPerSecond(state);
}

void Survey_Csv(benchmark::State& state)
{
    survey(state, Format::Csv);
}

void Survey_Json(benchmark::State& state)
{
    survey(state, Format::Json);
}

// The same with the city's total gathered: its cost must stay small beside the fits.
void Survey_CsvTotals(benchmark::State& state)
{
    survey(state, Format::Csv, true);
}

// The floor: lines split at commas, numbers read with from_chars, the exact fit and both
// profile limits, S, P, the log likelihood and the limits written with to_chars.
void Floor(benchmark::State& state)
{
    const std::string& text = survey();
    const int nowhere = ::open("/dev/null", O_WRONLY);
    for (auto _ : state) {
        std::string out;
        std::size_t at = text.find('\n') + 1;
        while (at < text.size()) {
            const std::size_t end = text.find('\n', at);
            double field[7] = {};
            std::size_t from = text.find(',', at) + 1;
            for (int k = 1; k < 7; ++k) {
                const std::size_t comma = std::min(text.find(',', from), end);
                std::from_chars(text.data() + from, text.data() + comma, field[k]);
                from = comma + 1;
            }
            inference::Problem problem;
            problem.counts = {
                static_cast<std::int32_t>(field[1]), static_cast<std::int32_t>(field[2]),
                static_cast<std::int32_t>(field[3]), static_cast<std::int32_t>(field[4])};
            problem.sFree = field[5] == 0.0;
            problem.sFixed = field[5];
            const inference::Fit fit = inference::fit(problem);
            const inference::ProfileInterval p =
                inference::profileLimits(problem, fit, inference::Parameter::P);
            const inference::ProfileInterval s =
                inference::profileLimits(problem, fit, inference::Parameter::S);
            char number[32];
            for (const double value : {fit.S, fit.P, fit.logLikelihood, p.lower.value,
                                       p.upper.value, s.lower.value, s.upper.value}) {
                out.append(number, std::to_chars(number, number + sizeof number, value).ptr);
                out += ',';
            }
            out += '\n';
            if (out.size() > 4096) {
                benchmark::DoNotOptimize(::write(nowhere, out.data(), out.size()));
                out.clear();
            }
            at = end + 1;
        }
        benchmark::DoNotOptimize(::write(nowhere, out.data(), out.size()));
    }
    ::close(nowhere);
    blocksPerSecond(state);
}

BENCHMARK(Floor)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(Survey_Csv)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("jobs")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
BENCHMARK(Survey_Json)
    ->Arg(1)
    ->ArgName("jobs")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(Survey_CsvTotals)
    ->Arg(1)
    ->ArgName("jobs")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
