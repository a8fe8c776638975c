// What the window adds beyond reading the plot: the exact limits under the result line, the menus,
// the details dialog, and the saved plot and report. Driven on the offscreen platform.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>

#include <memory>

#include "Fit.h"
#include "Form1.h"
#include "Profile.h"
#include "WindowDriver.h"

using kestrum::Form1;
using kestrum::testing::ModalAnswer;
namespace inference = kestrum::inference;

namespace {

// The exact limits, computed here from the inference module alone.
QString expectedLimits(const inference::Problem& problem, inference::Parameter parameter)
{
    const inference::Fit fit = inference::fit(problem);
    const inference::ProfileInterval interval = inference::profileLimits(problem, fit, parameter);
    const auto text = [](const inference::Limit& limit) {
        switch (limit.kind) {
        case inference::LimitKind::Found:
            return QString::number(limit.value, 'f', 3);
        case inference::LimitKind::BelowRange:
            return QStringLiteral("below 0.01");
        case inference::LimitKind::AboveRange:
            return QStringLiteral("above 0.99");
        default:
            return QStringLiteral("?");
        }
    };
    return QStringLiteral("95% limits for %1: %2 to %3")
        .arg(parameter == inference::Parameter::P ? "P" : "S", text(interval.lower),
             text(interval.upper));
}

} // namespace

class Form1AnalysisTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void limitsLineShowsTheExactLimits_data();
    void limitsLineShowsTheExactLimits();
    void searchStoppedOnALowerPeakIsTold();
    void menusOfferTheCommands();
    void detailsBeforeAndAfterAnEstimate();
    void detailsGiveThePopulationFromAStreetCount();
    void plotIsSavedAsPngAndPdf();
    void reportIsSavedAsHtmlAndPdf();
    void savingBeforeAnEstimateIsRefused();
    void exitClosesTheWindow();

private:
    template <class T>
    T& control(const char* name)
    {
        return kestrum::testing::control<T>(*form, name);
    }
    void type(const char* box, const QString& text)
    {
        kestrum::testing::typeInto(control<QLineEdit>(box), text);
    }
    void estimate(int n100, int n111, int n101, int n110, bool sFree = true, bool ofP = true);
    QAction& action(const char* name) { return control<QAction>(name); }

    QTemporaryDir workDir;
    std::unique_ptr<Form1> form;
};

void Form1AnalysisTest::initTestCase()
{
    QVERIFY(workDir.isValid());
    QVERIFY(QDir::setCurrent(workDir.path()));
}

void Form1AnalysisTest::init()
{
    form = std::make_unique<Form1>(QStringLiteral(KESTRUM_LIBRARY_PATH));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
}

void Form1AnalysisTest::cleanup()
{
    form.reset();
}

void Form1AnalysisTest::estimate(int n100, int n111, int n101, int n110, bool sFree, bool ofP)
{
    type("txtHist1", QString::number(n100));
    type("txtHist2", QString::number(n111));
    type("txtHist3", QString::number(n101));
    type("txtHist4", QString::number(n110));
    control<QCheckBox>("chkS").setChecked(sFree);
    control<QRadioButton>(ofP ? "optP" : "optS").setChecked(true);
    ModalAnswer answer;
    QTest::mouseClick(&control<QPushButton>("Command1"), Qt::LeftButton);
    QCOMPARE(answer.text(), QString());
}

void Form1AnalysisTest::limitsLineShowsTheExactLimits_data()
{
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<bool>("sFree");
    QTest::addColumn<bool>("ofP");
    QTest::newRow("P, both free") << QList<int>{10, 20, 5, 7} << true << true;
    QTest::newRow("S, both free") << QList<int>{10, 20, 5, 7} << true << false;
    QTest::newRow("P, S fixed") << QList<int>{10, 20, 5, 7} << false << true;
    QTest::newRow("S, S fixed") << QList<int>{10, 20, 5, 7} << false << false;
    QTest::newRow("S on its bound") << QList<int>{30, 30, 30, 30} << true << false;
    QTest::newRow("another block") << QList<int>{50, 20, 10, 20} << true << true;
}

void Form1AnalysisTest::limitsLineShowsTheExactLimits()
{
    QFETCH(QList<int>, counts);
    QFETCH(bool, sFree);
    QFETCH(bool, ofP);
    auto& limits = control<QLabel>("lblLimits");
    QVERIFY(!limits.isVisible());
    estimate(counts[0], counts[1], counts[2], counts[3], sFree, ofP);
    inference::Problem problem;
    problem.counts = {counts[0], counts[1], counts[2], counts[3]};
    problem.sFree = sFree;
    problem.sFixed = 0.9;
    const auto parameter = ofP ? inference::Parameter::P : inference::Parameter::S;
    QVERIFY(limits.isVisible());
    QCOMPARE(limits.text(), sFree || ofP ? expectedLimits(problem, parameter)
                                         : QStringLiteral("95% limits for S: none, S is held fixed"));
    // The line keeps to its box.
    QVERIFY(limits.fontMetrics().horizontalAdvance(limits.text()) <= limits.width());
    // The result line itself is as it always was.
    QVERIFY(control<QLabel>("Label9").text().startsWith(QStringLiteral("maximum log likelihood = ")));
}

void Form1AnalysisTest::searchStoppedOnALowerPeakIsTold()
{
    // With S held here the likelihood in P has two peaks; from 0.5 the search climbs the lower.
    type("txtS", QStringLiteral("0.7586"));
    type("txtP", QStringLiteral("0.5"));
    estimate(82, 47, 1, 2, false);
    const QString status = form->statusBar()->currentMessage();
    QVERIFY2(status.contains(QStringLiteral("lower peak")), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral("P = 0.940")), qPrintable(status));
    QVERIFY(form->lastAnalysis()->belowExactMaximum);
}

void Form1AnalysisTest::menusOfferTheCommands()
{
    for (const char* name : {"actionSavePlot", "actionSaveReport", "actionExit", "actionDetails",
                             "actionAbout"}) {
        QVERIFY2(action(name).isEnabled(), name);
    }
    // The menu bar sits above the client area, which keeps its size and every position.
    QCOMPARE(form->centralWidget()->y(), form->menuBar()->height());
    QCOMPARE(control<QWidget>("picLL").geometry(), QRect(16, 224, 953, 385));

    ModalAnswer answer;
    action("actionAbout").trigger();
    QVERIFY2(answer.text().contains(QStringLiteral("Kestrum 1.00")), qPrintable(answer.text()));
}

void Form1AnalysisTest::detailsBeforeAndAfterAnEstimate()
{
    action("actionDetails").trigger();
    auto* details = form->findChild<QDialog*>(QStringLiteral("details"));
    QVERIFY(details != nullptr && details->isVisible());
    QVERIFY(details->findChild<QLabel*>(QStringLiteral("summary"))->text().contains(
        QStringLiteral("estimate\" first")));

    // An open dialog follows each estimate.
    estimate(10, 20, 5, 7);
    auto* estimates = details->findChild<QTableWidget*>(QStringLiteral("estimates"));
    QCOMPARE(estimates->rowCount(), 2);
    QCOMPARE(estimates->item(0, 0)->text(), QStringLiteral("P"));
    QCOMPARE(estimates->item(0, 1)->text(), QStringLiteral("0.8136"));
    QCOMPARE(estimates->item(1, 1)->text(), QStringLiteral("0.8372"));
    QCOMPARE(estimates->item(0, 4)->text(), QStringLiteral("0.6367 to 0.9287"));
    auto* frequencies = details->findChild<QTableWidget*>(QStringLiteral("frequencies"));
    QCOMPARE(frequencies->item(1, 1)->text(), QStringLiteral("20"));
    QCOMPARE(frequencies->item(1, 2)->text(), QStringLiteral("19.49"));
    QVERIFY(details->findChild<QLabel*>(QStringLiteral("fitCheck"))->text().contains(
        QStringLiteral("on 1 degree of freedom")));

    // S held fixed: no profile for S, and the fit check has a degree of freedom more.
    estimate(10, 20, 5, 7, false);
    QVERIFY(estimates->item(1, 1)->text().startsWith(QStringLiteral("held at")));
    QVERIFY(details->findChild<QLabel*>(QStringLiteral("fitCheck"))->text().contains(
        QStringLiteral("on 2 degrees of freedom")));
}

void Form1AnalysisTest::detailsGiveThePopulationFromAStreetCount()
{
    estimate(10, 20, 5, 7);
    action("actionDetails").trigger();
    auto* details = form->findChild<QDialog*>(QStringLiteral("details"));
    auto* count = details->findChild<QLineEdit*>(QStringLiteral("streetCount"));
    auto* population = details->findChild<QLabel*>(QStringLiteral("population"));
    QTest::keyClicks(count, QStringLiteral("24"));
    // 24 / 0.8136 with limits 24 / 0.9287 and 24 / 0.6367.
    QVERIFY2(population->text().startsWith(QStringLiteral("About 29.5 dogs (95% limits 25.8 to 37.7)")),
             qPrintable(population->text()));
    QVERIFY(population->text().contains(QStringLiteral("not included")));
    QTest::keyClick(count, Qt::Key_Backspace);
    QTest::keyClick(count, Qt::Key_Backspace);
    QTest::keyClicks(count, QStringLiteral("-3"));
    QVERIFY(population->text().contains(QStringLiteral("must not be negative")));
}

void Form1AnalysisTest::plotIsSavedAsPngAndPdf()
{
    estimate(10, 20, 5, 7);
    const QString png = workDir.filePath(QStringLiteral("plot.png"));
    {
        ModalAnswer answer(png);
        action("actionSavePlot").trigger();
    }
    QImage saved(png);
    QCOMPARE(saved.size(), QSize(949, 381));
    QCOMPARE(saved.convertToFormat(QImage::Format_RGB32),
             form->plotImage().convertToFormat(QImage::Format_RGB32));

    const QString pdf = workDir.filePath(QStringLiteral("plot.pdf"));
    QCOMPARE(form->savePlot(pdf), QString());
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(5) == "%PDF-");
    QVERIFY(file.size() > 2000);
}

void Form1AnalysisTest::reportIsSavedAsHtmlAndPdf()
{
    estimate(10, 20, 5, 7);
    const QString html = workDir.filePath(QStringLiteral("report.html"));
    QCOMPARE(form->saveReport(html), QString());
    QFile page(html);
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(page.readAll());
    for (const char* expected : {"Kestrum report", "0.8136", "0.6367 to 0.9287", "19.49",
                                 "data:image/png;base64,", "Maximum log likelihood -52.741"}) {
        QVERIFY2(text.contains(QLatin1String(expected)), expected);
    }

    const QString pdf = workDir.filePath(QStringLiteral("report.pdf"));
    {
        ModalAnswer answer(pdf);
        action("actionSaveReport").trigger();
    }
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(5) == "%PDF-");
}

void Form1AnalysisTest::savingBeforeAnEstimateIsRefused()
{
    const QString png = workDir.filePath(QStringLiteral("early.png"));
    QVERIFY(form->savePlot(png).contains(QStringLiteral("estimate")));
    QVERIFY(form->saveReport(workDir.filePath(QStringLiteral("early.html")))
                .contains(QStringLiteral("estimate")));
    QVERIFY(!QFile::exists(png));

    // Through the menu the refusal is said, not silently dropped.
    ModalAnswer answer(png);
    action("actionSavePlot").trigger();
    QVERIFY2(answer.text().contains(QStringLiteral("not saved")), qPrintable(answer.text()));
    QVERIFY(!QFile::exists(png));
}

void Form1AnalysisTest::exitClosesTheWindow()
{
    QVERIFY(form->isVisible());
    action("actionExit").trigger();
    QVERIFY(!form->isVisible());
}

QTEST_MAIN(Form1AnalysisTest)
#include "Form1Analysis_test.moc"
