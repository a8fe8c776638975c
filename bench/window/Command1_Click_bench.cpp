// One press of "estimate" as the user makes it: the real window on the offscreen platform, its
// record, dump, fit, result line, profile scan, plot and exact limits, per iteration.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include "Form1.h"

namespace {

void press(benchmark::State& state, bool sFree, bool ofP)
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    kestrum::Form1 form(QStringLiteral(KESTRUM_LIBRARY_PATH));
    form.show();
    const QStringList frequencies{QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("5"),
                                  QStringLiteral("7")};
    for (int k = 1; k <= 4; ++k) {
        form.findChild<QLineEdit*>(QStringLiteral("txtHist%1").arg(k))->setText(frequencies[k - 1]);
    }
    form.findChild<QCheckBox*>(QStringLiteral("chkS"))->setChecked(sFree);
    form.findChild<QRadioButton*>(ofP ? QStringLiteral("optP") : QStringLiteral("optS"))
        ->setChecked(true);
    auto* estimate = form.findChild<QPushButton*>(QStringLiteral("Command1"));
    auto* txtP = form.findChild<QLineEdit*>(QStringLiteral("txtP"));
    auto* txtS = form.findChild<QLineEdit*>(QStringLiteral("txtS"));
    for (auto _ : state) {
        // The same start every time: a press writes its estimates back as the next start.
        txtP->setText(QStringLiteral("0.9"));
        txtS->setText(QStringLiteral("0.9"));
        estimate->click();
        benchmark::DoNotOptimize(form.profilePoints());
    }
    state.counters["profile points"] = form.profilePoints();
}

void BM_EstimatePress_BothFree_ProfileOfP(benchmark::State& state) { press(state, true, true); }
void BM_EstimatePress_BothFree_ProfileOfS(benchmark::State& state) { press(state, true, false); }
void BM_EstimatePress_SFixed_ProfileOfP(benchmark::State& state) { press(state, false, true); }

BENCHMARK(BM_EstimatePress_BothFree_ProfileOfP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EstimatePress_BothFree_ProfileOfS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EstimatePress_SFixed_ProfileOfP)->Unit(benchmark::kMillisecond);

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
