// What a person takes away from the window beyond the plot: the exact limits under the result
// line, the menus and their shortcuts, the details, the saved plot and report (rendered to pixels
// and text with poppler's tools, as a reader would see them) and the clipboard.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>

#include "Form1.h"
#include "WindowDriver.h"

using kestrum::Form1;
using kestrum::testing::ModalAnswer;

namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qFatal("%s failed", qPrintable(program));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The pages of a PDF as a reader sees them, at 96 dpi.
QList<QImage> pages(const QString& pdf)
{
    run(QStringLiteral("pdftoppm"), {"-r", "96", "-png", pdf, pdf});
    QList<QImage> images;
    const QFileInfo file(pdf);
    for (const QFileInfo& page : QDir(file.path()).entryInfoList({file.fileName() + "-*.png"},
                                                                 QDir::Files, QDir::Name))
        images << QImage(page.filePath()).convertToFormat(QImage::Format_RGB32);
    return images;
}

// Where the drawn curve begins and ends and where the rightmost limit mark stands.
struct Drawn {
    int curveLeft = -1, curveRight = -1, lastMark = -1;
};

Drawn drawn(const QImage& page)
{
    Drawn found;
    for (int x = 0; x < page.width(); ++x) {
        int run = 0;
        for (int y = 0; y < page.height(); ++y) {
            const QColor c = page.pixelColor(x, y);
            if (c.blue() > 120 && c.red() < 100 && c.green() < 100) {
                found.curveLeft = found.curveLeft < 0 ? x : found.curveLeft;
                found.curveRight = x;
            }
            run = c.red() > 180 && c.green() < 100 && c.blue() < 100 ? run + 1 : 0;
            if (run >= 7)
                found.lastMark = x;
        }
    }
    return found;
}

// The plot of P for (10, 20, 5, 7), whole: the curve ends inside the page, and the upper limit's
// mark (0.9287, at point 18.935 of 21) stands where it does on screen, 0.8967 of the curve's width.
void verifyWholePlot(const QImage& page)
{
    const Drawn at = drawn(page);
    QVERIFY(at.curveLeft > 0 && at.curveRight < page.width() - 5);
    QVERIFY2(at.lastMark > 0, "no limit mark");
    const double share = double(at.lastMark - at.curveLeft) / (at.curveRight - at.curveLeft);
    QVERIFY2(std::abs(share - 0.8967) < 0.01, qPrintable(QString::number(share)));
}

} // namespace

class Form1AnalysisTest : public QObject, kestrum::testing::Driver {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QVERIFY(QDir::setCurrent(workDir.path()));
    }
    void init()
    {
        form = std::make_unique<Form1>(QStringLiteral(KESTRUM_LIBRARY_PATH));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() { form.reset(); }

    void searchStoppedOnALowerPeakIsTold();
    void menusHaveTheirShortcuts();
    void detailsFollowTheEstimate();
    void detailsLayOutCleanlyAndCopy();
    void plotIsSavedWhole();
    void reportIsOnePageWithEverything();
    void resultsAndPlotGoToTheClipboard();

private:
    void estimate(const QList<int>& counts, bool sFree = true)
    {
        enter(counts);
        get<QCheckBox>("chkS").setChecked(sFree);
        QCOMPARE(click("Command1"), QString());
    }
    QDialog& details()
    {
        get<QAction>("actionDetails").trigger();
        return get<QDialog>("details");
    }
    QString cell(const char* table, int row, int column)
    {
        return details().findChild<QTableWidget*>(table)->item(row, column)->text();
    }
    void typeStreetCount(const QString& count)
    {
        kestrum::testing::typeInto(*details().findChild<QLineEdit*>("streetCount"), count);
    }

    QTemporaryDir workDir;
};

void Form1AnalysisTest::searchStoppedOnALowerPeakIsTold()
{
    // With S held here the likelihood in P has two peaks; from 0.5 the search climbs the lower.
    type("txtS", "0.7586");
    type("txtP", "0.5");
    estimate({82, 47, 1, 2}, false);
    QVERIFY2(messages().contains(QStringLiteral("lower peak")), qPrintable(messages()));
    QVERIFY2(messages().contains(QStringLiteral("P = 0.940")), qPrintable(messages()));
}

void Form1AnalysisTest::menusHaveTheirShortcuts()
{
    const struct {
        const char* action;
        QKeySequence keys;
    } menu[] = {{"actionSavePlot", {}},
                {"actionSaveReport", QKeySequence(Qt::CTRL | Qt::Key_S)},
                {"actionPrint", QKeySequence(Qt::CTRL | Qt::Key_P)},
                {"actionExit", QKeySequence(Qt::CTRL | Qt::Key_Q)},
                {"actionCopyResults", {}},
                {"actionDetails", {}},
                {"actionAbout", QKeySequence(Qt::Key_F1)}};
    for (const auto& item : menu) {
        QVERIFY2(get<QAction>(item.action).isEnabled(), item.action);
        QCOMPARE(get<QAction>(item.action).shortcut(), item.keys);
    }
    {
        ModalAnswer answer;
        QTest::keyClick(form.get(), Qt::Key_F1);
        QVERIFY2(answer.text().contains(QStringLiteral("Kestrum 1.00")), qPrintable(answer.text()));
    }
    // Nothing to save or print yet: said, and no file made.
    const QString png = workDir.filePath(QStringLiteral("early.png"));
    ModalAnswer answer(png);
    get<QAction>("actionSavePlot").trigger();
    get<QAction>("actionPrint").trigger();
    QVERIFY2(answer.text().count(QStringLiteral("estimate\" first")) == 2, qPrintable(answer.text()));
    QVERIFY(!QFile::exists(png));
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!form->isVisible());
}

void Form1AnalysisTest::detailsFollowTheEstimate()
{
    QVERIFY(details().findChild<QLabel*>("summary")->text().contains("estimate\" first"));
    // An open dialog follows each estimate.
    estimate({10, 20, 5, 7});
    QCOMPARE(cell("estimates", 0, 1), QStringLiteral("0.8136"));
    QCOMPARE(cell("estimates", 1, 1), QStringLiteral("0.8372"));
    QCOMPARE(cell("estimates", 0, 4), QStringLiteral("0.6367 to 0.9287"));
    QCOMPARE(cell("frequencies", 1, 2), QStringLiteral("19.49"));
    QVERIFY(details().findChild<QLabel*>("fitCheck")->text().contains("on 1 degree of freedom"));

    // 24 / 0.8136 with limits 24 / 0.9287 and 24 / 0.6367.
    typeStreetCount("24");
    const auto* population = details().findChild<QLabel*>("population");
    QVERIFY2(population->text().startsWith("About 29.5 dogs (95% limits 25.8 to 37.7)"),
             qPrintable(population->text()));
    typeStreetCount("-3");
    QVERIFY(population->text().contains(QStringLiteral("must not be negative")));

    // S held fixed: no profile for S, and the fit check has a degree of freedom more.
    estimate({10, 20, 5, 7}, false);
    QVERIFY(cell("estimates", 1, 1).startsWith(QStringLiteral("held at")));
    QVERIFY(details().findChild<QLabel*>("fitCheck")->text().contains("on 2 degrees of freedom"));
}

void Form1AnalysisTest::detailsLayOutCleanlyAndCopy()
{
    // Every warning there is and no standard errors; then Wald limits beyond 1.
    for (const QList<int>& counts : {QList<int>{1, 0, 0, 0}, QList<int>{10, 9, 2, 2}}) {
        estimate(counts);
        QDialog& dialog = details();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QList<QWidget*> parts;
        for (auto* label : dialog.findChildren<QLabel*>())
            if (label->isVisible() && label->wordWrap())
                parts << label;
        for (auto* table : dialog.findChildren<QTableWidget*>()) {
            parts << table;
            QVERIFY2(table->horizontalHeader()->length() <= table->viewport()->width(),
                     "a column runs off the table");
        }
        for (QWidget* part : parts) {
            const auto* label = qobject_cast<QLabel*>(part);
            QVERIFY2(!label || label->height() >= label->heightForWidth(label->width()),
                     qPrintable(part->objectName()));
            const QRect at(part->mapTo(&dialog, QPoint(0, 0)), part->size());
            for (QWidget* other : parts) {
                const QRect there(other->mapTo(&dialog, QPoint(0, 0)), other->size());
                QVERIFY2(other == part || !at.intersects(there),
                         qPrintable(part->objectName() + " overlaps " + other->objectName()));
            }
        }
    }
    QCOMPARE(cell("estimates", 0, 3), QStringLiteral("0.6148 to 1.0542*"));
    QVERIFY(details().findChild<QLabel*>("estimateNotes")->text().contains("outside 0 to 1"));

    // Ctrl+C copies the whole table, or the cells selected, with the headings.
    auto* table = details().findChild<QTableWidget*>("estimates");
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    const QStringList rows = QApplication::clipboard()->text().split('\n');
    QCOMPARE(rows.size(), 4);
    QVERIFY(rows[0].startsWith(QStringLiteral("parameter\testimate\tstandard error\t")));
    QVERIFY(rows[1].startsWith(QStringLiteral("P\t") + cell("estimates", 0, 1) + "\t"));
    table->setRangeSelected(QTableWidgetSelectionRange(1, 1, 1, 2), true);
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("estimate\tstandard error\n%1\t%2\n")
                 .arg(cell("estimates", 1, 1), cell("estimates", 1, 2)));
}

void Form1AnalysisTest::plotIsSavedWhole()
{
    estimate({10, 20, 5, 7});
    const QString png = workDir.filePath(QStringLiteral("plot.png"));
    {
        ModalAnswer answer(png);
        get<QAction>("actionSavePlot").trigger();
    }
    QCOMPARE(QImage(png).convertToFormat(QImage::Format_RGB32), form->plotImage());

    const QString pdf = workDir.filePath(QStringLiteral("plot.pdf"));
    QCOMPARE(form->savePlot(pdf), QString());
    const QList<QImage> shown = pages(pdf);
    QCOMPARE(shown.size(), 1);
    QVERIFY(std::abs(shown[0].width() - 949) <= 1 && std::abs(shown[0].height() - 381) <= 1);
    verifyWholePlot(shown[0]);
    QVERIFY2(QFileInfo(pdf).size() < 40000, "a picture, not a drawing");
}

void Form1AnalysisTest::reportIsOnePageWithEverything()
{
    type("txtHist0", "30.0");
    estimate({10, 20, 5, 7});
    typeStreetCount("24");
    const QString html = workDir.filePath(QStringLiteral("report.html"));
    QCOMPARE(form->saveReport(html), QString());
    const QString pdf = workDir.filePath(QStringLiteral("report.pdf"));
    {
        ModalAnswer answer(pdf);
        QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
    }
    const QList<QImage> shown = pages(pdf);
    QCOMPARE(shown.size(), 1);
    verifyWholePlot(shown[0]);

    QFile page(html);
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QString saved[] = {QString::fromUtf8(page.readAll()),
                             run(QStringLiteral("pdftotext"), {"-layout", pdf, "-"})};
    for (const QString& text : saved) {
        for (const QString& expected :
             {QDate::currentDate().toString(Qt::ISODate), QStringLiteral("Kestrum 1.00"),
              QStringLiteral("P and S estimated; profile of P; plotting range 30%"),
              QStringLiteral("1,0,1"), QStringLiteral("19.49"), QStringLiteral("0.8136"),
              QStringLiteral("0.0757"), QStringLiteral("0.6367 to 0.9287"),
              QStringLiteral("G² = "), QStringLiteral("About 29.5 dogs")}) {
            QVERIFY2(text.contains(expected), qPrintable(expected + "\n" + text.right(3000)));
        }
    }
}

void Form1AnalysisTest::resultsAndPlotGoToTheClipboard()
{
    QCOMPARE(form->copyResults(), QString());
    type("txtHist1", "10.2");
    estimate({10, 20, 5, 7});
    type("txtHist1", "10.2");
    QCOMPARE(click("Command1"), QString());
    get<QAction>("actionCopyResults").trigger();
    const QString text = QApplication::clipboard()->text();
    for (const char* expected : {"capture history\tobserved\texpected\n1,0,0\t10\t",
                                 "\nP\t0.8136\t0.0757\t", "\nS\t0.8372\t", "0.6367 to 0.9287",
                                 "G² = ", "10.2 of 1,0,0 as 10"}) {
        QVERIFY2(text.contains(QString::fromUtf8(expected)), qPrintable(text));
    }
    get<QAction>("actionCopyImage").trigger();
    QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
             form->plotImage());
}

QTEST_MAIN(Form1AnalysisTest)
#include "Form1Analysis_test.moc"
