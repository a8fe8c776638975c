// The estimator on a survey of 100,000 blocks drawn from the model, as a script would run it on
// one core: every row read and checked, fitted by the library, its limits, standard errors and
// fit check found, written out, and the pooled fit at the end. The goal is 10,000 blocks a second.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>

#include "Survey.h"
#include "kestrum.h"

namespace {

using namespace kestrum::survey;

constexpr std::size_t kBlocks = 100000;

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

void survey(benchmark::State& state, Format format, bool totals = false)
{
    const std::string& text = survey();
    const int nowhere = ::open("/dev/null", O_WRONLY);
    SurveyOptions options;
    options.format = format;
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
    state.counters["blocks_per_second"] = benchmark::Counter(
        static_cast<double>(kBlocks) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
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

// Each run takes seconds; five give a median.
BENCHMARK(Survey_Csv)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(5);
BENCHMARK(Survey_Json)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(5);
BENCHMARK(Survey_CsvTotals)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(5);

} // namespace

BENCHMARK_MAIN();
