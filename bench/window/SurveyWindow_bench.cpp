// A survey of 100,000 blocks opened as the survey window opens it, every column given: two strata
// with a frame (so the totals and each block's part in them), street counts, marks (coverage), a
// block in ten holding S. loadSurvey alone is the work off the window's thread; the window's open
// adds the table, the strata, the forest plot and the hand-over, and counts the longest time the
// window's own thread went without handling its events meanwhile.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <random>

#include "SurveyWindow.h"

namespace {

constexpr int kBlocks = 100000;

// Blocks of 10 to 80 dogs with P and S anywhere from 0.3 to 0.95, as the estimator's benchmark
// draws them; the same survey on every run.
const QString& surveyFile()
{
    static QTemporaryDir folder;
    static const QString path = [] {
        std::mt19937_64 random(20240611);
        std::uniform_real_distribution<double> proportion(0.3, 0.95);
        std::uniform_int_distribution<int> dogs(10, 80);
        QByteArray csv = "block,stratum,n100,n111,n101,n110,s_fixed,count,marked\n";
        for (int b = 0; b < kBlocks; ++b) {
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
            csv += "block " + QByteArray::number(b) + (b % 2 == 0 ? ",north," : ",south,") +
                   QByteArray::number(n[0]) + "," + QByteArray::number(n[1]) + "," +
                   QByteArray::number(n[2]) + "," + QByteArray::number(n[3]) + "," +
                   (b % 10 == 0 ? QByteArray::number(S) : QByteArray()) + "," +
                   QByteArray::number(seen) + "," + QByteArray::number((n[0] + n[1]) / 2) + "\n";
        }
        const QString survey = folder.filePath("city.csv");
        QFile file(survey);
        file.open(QIODevice::WriteOnly);
        file.write(csv);
        QFile frame(folder.filePath("city.frame.csv"));
        frame.open(QIODevice::WriteOnly);
        frame.write("stratum,blocks\nnorth,400000\nsouth,400000\n");
        return survey;
    }();
    return path;
}

void blocksPerSecond(benchmark::State& state)
{
    state.counters["blocks_per_second"] =
        benchmark::Counter(static_cast<double>(kBlocks) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_LoadSurvey(benchmark::State& state)
{
    const kestrum::SurveySettings settings{surveyFile(), kestrum::frameBeside(surveyFile())};
    const std::atomic<bool> stop = false;
    for (auto _ : state) {
        const auto loaded = kestrum::loadSurvey(settings, stop, {});
        if (!loaded->complete || loaded->results.rows().size() != kBlocks) {
            state.SkipWithError("the survey was not read whole");
        }
    }
    blocksPerSecond(state);
}

void BM_SurveyWindowOpens(benchmark::State& state)
{
    double longestPause = 0.0;
    for (auto _ : state) {
        kestrum::SurveyWindow window;
        window.show();
        // A timer that should fire every 10 ms: the longest gap between two is the longest the
        // window went without answering.
        QElapsedTimer sinceLast;
        QTimer tick;
        double pause = 0.0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            pause = std::max(pause, static_cast<double>(sinceLast.restart()));
        });
        tick.start(10);
        sinceLast.start();
        window.openSurvey(surveyFile());
        while (window.busy()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        tick.stop();
        if (window.survey() == nullptr || window.survey()->results.rows().size() != kBlocks ||
            !window.survey()->framed()) {
            state.SkipWithError("the survey was not shown whole");
        }
        longestPause = std::max(longestPause, pause);
    }
    blocksPerSecond(state);
    state.counters["longest_pause_ms"] = longestPause;
}

BENCHMARK(BM_LoadSurvey)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SurveyWindowOpens)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
