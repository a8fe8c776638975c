// A million sightings tallied into blocks (the goal: under 1 s on one core), from a sheet sorted by
// block, from the same rows shuffled, and from a pipe, which is kept in a temporary file for the
// second reading; and the sorted sheet estimated through to the fits, for scale.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "Survey.h"
#include "kestrum.h"

namespace {

using namespace kestrum::survey;

constexpr std::size_t kSightings = 1000000;

// Blocks of 5 to 40 dogs, each seen on each visit with the block's P (0.4 to 0.9), marked or
// not, with the team that counted it; the same sheet on every run, rows sorted by block or not.
std::vector<std::string> sightingRows()
{
    std::mt19937_64 random(20240917);
    std::uniform_int_distribution<int> dogs(5, 40);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<std::string> rows;
    rows.reserve(kSightings + 64);
    for (int block = 0; rows.size() < kSightings; ++block) {
        const double P = 0.4 + 0.5 * uniform(random);
        const int n = dogs(random);
        for (int dog = 0; dog < n; ++dog) {
            const bool marked = uniform(random) < 0.6;
            for (int visit = 1; visit <= 3; ++visit) {
                if (uniform(random) < P) {
                    rows.push_back("block " + std::to_string(block) + ",d" + std::to_string(block) +
                                   "-" + std::to_string(dog) + "," + std::to_string(visit) + "," +
                                   (marked ? "yes" : "no") + ",team " + std::to_string(block % 7) +
                                   "\n");
                }
            }
        }
    }
    return rows;
}

const std::string& sheet(bool sorted)
{
    static const std::string header = "block,dog,visit,marked,team\n";
    static const std::string inOrder = [] {
        std::string text = header;
        for (const std::string& row : sightingRows()) {
            text += row;
        }
        return text;
    }();
    static const std::string shuffled = [] {
        std::vector<std::string> rows = sightingRows();
        std::shuffle(rows.begin(), rows.end(), std::mt19937_64(7));
        std::string text = header;
        for (const std::string& row : rows) {
            text += row;
        }
        return text;
    }();
    return sorted ? inOrder : shuffled;
}

// A pipe: the reader cannot go back, so it keeps the sheet in a temporary file.
class PipeSource final : public ByteSource {
public:
    explicit PipeSource(const std::string& text) : text_(text) {}
    std::size_t read(char* buffer, std::size_t size) override
    {
        const std::size_t n = std::min(size, text_.size() - at_);
        std::copy_n(text_.data() + at_, n, buffer);
        at_ += n;
        return n;
    }

private:
    const std::string& text_;
    std::size_t at_ = 0;
};

void sightingsPerSecond(benchmark::State& state)
{
    state.counters["sightings_per_second"] = benchmark::Counter(
        static_cast<double>(kSightings) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

void tally(benchmark::State& state, bool sorted, bool pipe)
{
    const std::string& text = sheet(sorted);
    const int nowhere = ::open("/dev/null", O_WRONLY);
    SurveyOptions options;
    for (auto _ : state) {
        StringSource file(text);
        PipeSource piped(text);
        RowSink output(nowhere);
        Progress quiet(stderr, false, std::nullopt);
        const SurveySummary summary =
            tallySurvey(pipe ? static_cast<ByteSource&>(piped) : file, output, quiet, options);
        benchmark::DoNotOptimize(summary.fitted);
    }
    ::close(nowhere);
    sightingsPerSecond(state);
}

void Tally_Sorted(benchmark::State& state)
{
    tally(state, true, false);
}

void Tally_Shuffled(benchmark::State& state)
{
    tally(state, false, false);
}

void Tally_SortedPipe(benchmark::State& state)
{
    tally(state, true, true);
}

// The tally and every block's fit, on one thread.
void Estimate_Sorted(benchmark::State& state)
{
    const std::string& text = sheet(true);
    const int nowhere = ::open("/dev/null", O_WRONLY);
    SurveyOptions options;
    options.jobs = 1;
    for (auto _ : state) {
        StringSource source(text);
        RowSink output(nowhere);
        Progress quiet(stderr, false, std::nullopt);
        benchmark::DoNotOptimize(runSurvey(source, output, quiet, options, N_E04JYF).fitted);
    }
    ::close(nowhere);
    sightingsPerSecond(state);
}

BENCHMARK(Tally_Sorted)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(Tally_Shuffled)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(Tally_SortedPipe)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(Estimate_Sorted)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
