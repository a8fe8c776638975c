// The window driven as a person drives it: typing into the boxes, clicking the buttons, pressing
// Tab. Runs on the offscreen platform in a scratch working directory (the estimate writes
// "user.txt" there).
#include <QtTest>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>

#include <memory>

#include "Form1.h"
#include "PictureBox.h"
#include "RLOGLIK.h"
#include "WindowDriver.h"

using kestrum::Form1;
using kestrum::testing::ModalAnswer;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsAsLaidOut();
    void helpTextIsInPlaceBeforeShowing();
    void tabFollowsTheKeyboardOrder();
    void optionButtonsExcludeEachOther();

    void estimateWritesBackAndShowsTheMaximum_data();
    void estimateWritesBackAndShowsTheMaximum();
    void fixedSIsWrittenBackRoundedAndReused();
    void frequenciesRoundHalfToEven();
    void dumpShowsTheRecordAsTheFitStarts();
    void staleFreeListEntryReachesTheDump();
    void badInputStopsThePressAndChangesNothing_data();
    void badInputStopsThePressAndChangesNothing();
    void unwritableDumpIsReportedAndTheEstimateGoesOn();

    void missingLibraryIsReportedAndRetried();
    void libraryWithoutEntryPointIsReported();
    void searchThatDidNotConvergeIsToldQuietly();

    void plotShowsCurveRedLineAndTicks();

    void simulateFillsExpectedFrequencies_data();
    void simulateFillsExpectedFrequencies();
    void simulateRefusesTextThatIsNoNumber();
    void simulateStopsAtAnOverflowKeepingEarlierBoxes();
    void simulateLeavesEverythingElseAlone();

private:
    template <class T>
    T& control(const char* name)
    {
        return kestrum::testing::control<T>(*form, name);
    }
    QLineEdit& box(const char* name) { return control<QLineEdit>(name); }
    void type(QLineEdit& target, const QString& text);
    void enterFrequencies(int n100, int n111, int n101, int n110);
    QString estimate();
    QString simulate();

    QTemporaryDir workDir;
    QString startDir;
    std::unique_ptr<Form1> form;
};

void Form1Test::initTestCase()
{
    QVERIFY(workDir.isValid());
    startDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
}

void Form1Test::init()
{
    QFile::remove(QStringLiteral("user.txt"));
    form = std::make_unique<Form1>(QStringLiteral(KESTRUM_LIBRARY_PATH));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
}

void Form1Test::cleanup()
{
    form.reset();
}

void Form1Test::type(QLineEdit& target, const QString& text)
{
    kestrum::testing::typeInto(target, text);
}

void Form1Test::enterFrequencies(int n100, int n111, int n101, int n110)
{
    type(box("txtHist1"), QString::number(n100));
    type(box("txtHist2"), QString::number(n111));
    type(box("txtHist3"), QString::number(n101));
    type(box("txtHist4"), QString::number(n110));
}

QString Form1Test::estimate()
{
    ModalAnswer catcher;
    QTest::mouseClick(&control<QPushButton>("Command1"), Qt::LeftButton);
    return catcher.text();
}

QString Form1Test::simulate()
{
    ModalAnswer catcher;
    QTest::mouseClick(&control<QPushButton>("Command2"), Qt::LeftButton);
    return catcher.text();
}

void Form1Test::startsAsLaidOut()
{
    QCOMPARE(form->windowTitle(), QStringLiteral("Form1"));
    for (const char* name : {"txtHist1", "txtHist2", "txtHist3", "txtHist4"}) {
        QVERIFY2(box(name).text().isEmpty(), name);
    }
    QCOMPARE(box("txtHist0").text(), QStringLiteral("30"));
    QCOMPARE(box("txtP").text(), QStringLiteral("0.9"));
    QCOMPARE(box("txtS").text(), QStringLiteral("0.9"));
    QVERIFY(control<QCheckBox>("chkS").isChecked());
    QVERIFY(control<QRadioButton>("optP").isChecked());
    QVERIFY(!control<QRadioButton>("optS").isChecked());
    QVERIFY(!control<QLabel>("Label9").isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), &box("txtHist0"));

    // Twips / 15 at 96 dpi; the drawing area is 953 x 385 outside, 949 x 381 inside.
    QCOMPARE(control<QWidget>("picLL").geometry(), QRect(16, 224, 953, 385));
    QCOMPARE(control<QWidget>("picLL").contentsRect().size(), QSize(949, 381));
    QCOMPARE(control<QWidget>("Label10").geometry(), QRect(472, 8, 497, 209));
    QCOMPARE(box("txtHist0").geometry(), QRect(320, 195, 25, 19));
    QCOMPARE(control<QPushButton>("Command1").geometry(), QRect(16, 192, 73, 17));
    QCOMPARE(form->centralWidget()->size(), QSize(723, 597));

    // Captions fit their boxes in the window's font.
    for (auto* label : form->findChildren<QLabel*>()) {
        if (label->objectName() == QLatin1String("Label10") || label->text().isEmpty()) {
            continue;
        }
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        QVERIFY2(needed <= label->width(), qPrintable(label->objectName()));
    }
    const auto& help = control<QLabel>("Label10");
    const QRect helpNeeds = help.fontMetrics().boundingRect(
        QRect(0, 0, help.width(), 10000), Qt::TextWordWrap, help.text());
    QVERIFY2(helpNeeds.height() <= help.height(), "the help text is cut off");
}

void Form1Test::helpTextIsInPlaceBeforeShowing()
{
    Form1 fresh(QStringLiteral(KESTRUM_LIBRARY_PATH));
    const QString help = fresh.findChild<QLabel*>(QStringLiteral("Label10"))->text();
    QCOMPARE(help, Form1::helpText());
    QCOMPARE(help.size(), 920);
    QVERIFY(help.startsWith(QStringLiteral("This program can be used")));
    QVERIFY(help.endsWith(QStringLiteral("for P and S.")));
    QCOMPARE(help.count(QStringLiteral(".  ")), 6);
}

void Form1Test::tabFollowsTheKeyboardOrder()
{
    const QStringList expected{QStringLiteral("txtHist2"), QStringLiteral("txtHist3"),
                               QStringLiteral("Command1"), QStringLiteral("txtHist4"),
                               QStringLiteral("picLL"),    QStringLiteral("txtP"),
                               QStringLiteral("txtS"),     QStringLiteral("chkS"),
                               QStringLiteral("txtHist1"), QStringLiteral("optS"),
                               QStringLiteral("Command2"), QStringLiteral("txtHist0")};
    control<QRadioButton>("optS").setChecked(true);
    box("txtHist0").setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), &box("txtHist0"));
    for (const QString& name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
}

void Form1Test::optionButtonsExcludeEachOther()
{
    auto& optP = control<QRadioButton>("optP");
    auto& optS = control<QRadioButton>("optS");
    QTest::mouseClick(&optS, Qt::LeftButton);
    QVERIFY(optS.isChecked() && !optP.isChecked());
    QTest::mouseClick(&optP, Qt::LeftButton);
    QVERIFY(optP.isChecked() && !optS.isChecked());
    QTest::mouseClick(&optP, Qt::LeftButton);
    QVERIFY(optP.isChecked() && !optS.isChecked());
}

void Form1Test::estimateWritesBackAndShowsTheMaximum_data()
{
    QTest::addColumn<QList<int>>("frequencies");
    QTest::addColumn<bool>("sFree");
    QTest::addColumn<QString>("S");
    QTest::addColumn<QString>("P");
    QTest::addColumn<QString>("result");
    QTest::newRow("both free") << QList<int>{10, 20, 5, 7} << true << "0.84" << "0.81"
                               << "maximum log likelihood = -52.741";
    QTest::newRow("S fixed at 0.9") << QList<int>{10, 20, 5, 7} << false << "0.9" << "0.76"
                                    << "maximum log likelihood = -53.297";
    QTest::newRow("S on its upper bound") << QList<int>{30, 30, 30, 30} << true << "0.99"
                                          << "0.51" << "maximum log likelihood = -166.365";
    QTest::newRow("another interior maximum") << QList<int>{50, 20, 10, 20} << true << "0.65"
                                              << "0.66" << "maximum log likelihood = -122.641";
}

void Form1Test::estimateWritesBackAndShowsTheMaximum()
{
    QFETCH(QList<int>, frequencies);
    QFETCH(bool, sFree);
    QFETCH(QString, S);
    QFETCH(QString, P);
    QFETCH(QString, result);
    enterFrequencies(frequencies[0], frequencies[1], frequencies[2], frequencies[3]);
    control<QCheckBox>("chkS").setChecked(sFree);
    QCOMPARE(estimate(), QString());
    QCOMPARE(box("txtS").text(), S);
    QCOMPARE(box("txtP").text(), P);
    auto& label9 = control<QLabel>("Label9");
    QVERIFY(label9.isVisible());
    QCOMPARE(label9.text(), result);
    QVERIFY2(!form->statusBar()->currentMessage().contains(QStringLiteral("converge")),
             qPrintable(form->statusBar()->currentMessage()));
    QVERIFY(form->profilePoints() > 0);

    // The estimates are the next press's start: pressing again gives the same answer.
    QCOMPARE(estimate(), QString());
    QCOMPARE(box("txtS").text(), S);
    QCOMPARE(box("txtP").text(), P);
    QCOMPARE(label9.text(), result);
}

void Form1Test::fixedSIsWrittenBackRoundedAndReused()
{
    enterFrequencies(10, 20, 5, 7);
    control<QCheckBox>("chkS").setChecked(false);
    type(box("txtS"), QStringLiteral("0.9123"));
    QCOMPARE(estimate(), QString());
    QCOMPARE(box("txtS").text(), QStringLiteral("0.91"));
    QCOMPARE(estimate(), QString());
    QCOMPARE(form->record().USER(1), 0.91);
}

void Form1Test::frequenciesRoundHalfToEven()
{
    type(box("txtHist1"), QStringLiteral("2.5"));
    type(box("txtHist2"), QStringLiteral("3.5"));
    type(box("txtHist3"), QStringLiteral(" 11.71 "));
    type(box("txtHist4"), QStringLiteral("7.49"));
    QCOMPARE(estimate(), QString());
    const auto& IUSER = form->record().IUSER;
    QCOMPARE(IUSER(10), 2);
    QCOMPARE(IUSER(11), 4);
    QCOMPARE(IUSER(12), 12);
    QCOMPARE(IUSER(13), 7);
}

void Form1Test::dumpShowsTheRecordAsTheFitStarts()
{
    enterFrequencies(10, 20, 5, 7);
    QCOMPARE(estimate(), QString());
    const QByteArray expected = " 14 \r\n 2 \r\n 1 \r\n 2 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n"
                                " 10 \r\n 20 \r\n 5 \r\n 7 \r\n 0 \r\n 8 \r\n"
                                " .9 \r\n 1 \r\n .01 \r\n .99 \r\n .9 \r\n 1 \r\n .01 \r\n .99 \r\n";
    QCOMPARE(readFile(QStringLiteral("user.txt")), expected);
    QCOMPARE(form->record().NIUSER, 14);
    QCOMPARE(form->record().NUSER, 8);

    // The next press replaces the file; the estimates (0.84, 0.81) are its starting values now.
    QCOMPARE(estimate(), QString());
    const QList<QByteArray> lines = readFile(QStringLiteral("user.txt")).split('\n');
    QCOMPARE(lines.size(), 25); // 24 lines and what follows the last line end
    QCOMPARE(lines[16], QByteArray(" .84 \r"));
    QCOMPARE(lines[20], QByteArray(" .81 \r"));
}

void Form1Test::staleFreeListEntryReachesTheDump()
{
    enterFrequencies(10, 20, 5, 7);
    control<QCheckBox>("chkS").setChecked(false);
    QCOMPARE(estimate(), QString());
    QList<QByteArray> lines = readFile(QStringLiteral("user.txt")).split('\n');
    QCOMPARE(lines.mid(1, 3), (QList<QByteArray>{" 1 \r", " 2 \r", " 0 \r"}));

    control<QCheckBox>("chkS").setChecked(true);
    QCOMPARE(estimate(), QString());
    control<QCheckBox>("chkS").setChecked(false);
    type(box("txtHist1"), QStringLiteral("-0"));
    QCOMPARE(estimate(), QString());
    lines = readFile(QStringLiteral("user.txt")).split('\n');
    QCOMPARE(lines.mid(1, 3), (QList<QByteArray>{" 1 \r", " 2 \r", " 2 \r"}));
    QCOMPARE(lines[10], QByteArray(" 0 \r"));
}

void Form1Test::badInputStopsThePressAndChangesNothing_data()
{
    QTest::addColumn<QString>("boxName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("S not a number") << "txtS" << "abc" << "S";
    QTest::newRow("S of 1") << "txtS" << "1" << "strictly between 0 and 1";
    QTest::newRow("S of 0") << "txtS" << "0" << "strictly between 0 and 1";
    QTest::newRow("P above 1") << "txtP" << "1.5" << "strictly between 0 and 1";
    QTest::newRow("P empty") << "txtP" << "" << "P";
    QTest::newRow("frequency empty") << "txtHist3" << "" << "1,0,1";
    QTest::newRow("frequency negative") << "txtHist2" << "-3" << "must not be negative";
    QTest::newRow("frequency beyond 32 bits") << "txtHist4" << "3000000000" << "1,1,0";
    QTest::newRow("frequency garbage") << "txtHist1" << "12a" << "1,0,0";
    QTest::newRow("range not a number") << "txtHist0" << "wide" << "plotting range";
}

void Form1Test::badInputStopsThePressAndChangesNothing()
{
    QFETCH(QString, boxName);
    QFETCH(QString, text);
    QFETCH(QString, complaint);
    // A good press first, so there is a result, a plot and a dump that must survive.
    enterFrequencies(10, 20, 5, 7);
    QCOMPARE(estimate(), QString());
    const QString result = control<QLabel>("Label9").text();
    const QImage plot = control<QWidget>("picLL").grab().toImage();
    const kestrum::ModelRecord before = form->record();

    QLineEdit& bad = box(boxName.toLatin1().constData());
    type(bad, text);
    QFile::remove(QStringLiteral("user.txt"));
    const QString message = estimate();
    QVERIFY2(message.contains(complaint), qPrintable(message));
    QTRY_COMPARE(form->focusWidget(), &bad);
    QCOMPARE(bad.selectedText(), bad.text());

    QVERIFY2(!QFile::exists(QStringLiteral("user.txt")), "the dump was written");
    QCOMPARE(control<QLabel>("Label9").text(), result);
    QCOMPARE(box("txtS").text(), boxName == QLatin1String("txtS") ? text : QStringLiteral("0.84"));
    QCOMPARE(box("txtP").text(), boxName == QLatin1String("txtP") ? text : QStringLiteral("0.81"));
    QVERIFY(form->record().IUSER == before.IUSER);
    QVERIFY(form->record().USER == before.USER);
    QCOMPARE(control<QWidget>("picLL").grab().toImage(), plot);
}

void Form1Test::unwritableDumpIsReportedAndTheEstimateGoesOn()
{
    // A directory in the file's place cannot be replaced by a file, even by root.
    QVERIFY(QDir().mkdir(QStringLiteral("user.txt")));
    enterFrequencies(10, 20, 5, 7);
    QCOMPARE(estimate(), QString());
    QVERIFY(QDir().rmdir(QStringLiteral("user.txt")));
    QCOMPARE(control<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -52.741"));
    QVERIFY2(form->statusBar()->currentMessage().contains(QStringLiteral("user.txt could not be")),
             qPrintable(form->statusBar()->currentMessage()));
}

void Form1Test::missingLibraryIsReportedAndRetried()
{
    form = std::make_unique<Form1>(workDir.filePath(QStringLiteral("libNoSuchLibrary.so")));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    enterFrequencies(10, 20, 5, 7);
    QString message = estimate();
    QVERIFY2(message.contains(QStringLiteral("could not be loaded")), qPrintable(message));
    QVERIFY(!control<QLabel>("Label9").isVisible());
    QCOMPARE(box("txtS").text(), QStringLiteral("0.9"));

    // Once the library is in place, the next press finds it.
    QVERIFY(QFile::copy(QStringLiteral(KESTRUM_LIBRARY_PATH),
                        workDir.filePath(QStringLiteral("libNoSuchLibrary.so"))));
    message = estimate();
    QCOMPARE(message, QString());
    QCOMPARE(control<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -52.741"));
}

void Form1Test::libraryWithoutEntryPointIsReported()
{
    form = std::make_unique<Form1>(QStringLiteral(NO_ENTRY_POINT_LIBRARY_PATH));
    enterFrequencies(10, 20, 5, 7);
    const QString message = estimate();
    QVERIFY2(message.contains(QStringLiteral("has no entry point N_E04JYF")), qPrintable(message));
    QVERIFY(!control<QLabel>("Label9").isVisible());
}

void Form1Test::searchThatDidNotConvergeIsToldQuietly()
{
    // A stand-in library whose searches all stop at their evaluation limit.
    form = std::make_unique<Form1>(QStringLiteral(UNCONVERGED_LIBRARY_PATH));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    enterFrequencies(10, 20, 5, 7);
    QCOMPARE(estimate(), QString());
    QCOMPARE(box("txtS").text(), QStringLiteral("0.5"));
    QCOMPARE(box("txtP").text(), QStringLiteral("0.5"));
    QCOMPARE(control<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -1.250"));
    QVERIFY2(form->statusBar()->currentMessage().contains(QStringLiteral("did not converge")),
             qPrintable(form->statusBar()->currentMessage()));
}

// The profile of P for (10, 20, 5, 7), maximised over S by brute force, at the scanned percents.
static std::pair<double, double> profileRange()
{
    kestrum::Frequencies HIST;
    HIST(1) = 10;
    HIST(2) = 20;
    HIST(3) = 5;
    HIST(4) = 7;
    double top = -HUGE_VAL;
    double bottom = HUGE_VAL;
    for (int percent = 57; percent <= 97; percent += 2) {
        double best = -HUGE_VAL;
        for (double S = 0.01; S <= 0.99; S += 1e-5) {
            best = std::max(best, kestrum::rloglik(HIST, percent / 100.0, S));
        }
        top = std::max(top, best);
        bottom = std::min(bottom, best);
    }
    return {top, bottom};
}

void Form1Test::plotShowsCurveRedLineAndTicks()
{
    enterFrequencies(10, 20, 5, 7);
    QCOMPARE(estimate(), QString());
    QCOMPARE(form->profilePoints(), 21);
    const QImage image = control<kestrum::PictureBox>("picLL").image();
    QCOMPARE(image.size(), QSize(949, 381));

    const auto [top, bottom] = profileRange();
    const int redRow = static_cast<int>(0.125 * 381 + 1.44 * 381 / (top - bottom));
    // Pixels in rows from .. to that pass the test.
    const auto count = [&image](int from, int to, auto test) {
        int n = 0;
        for (int y = from; y <= to; ++y) {
            for (int x = 0; x < image.width(); ++x) {
                n += test(image.pixel(x, y)) ? 1 : 0;
            }
        }
        return n;
    };
    const auto is = [](QRgb colour) { return [colour](QRgb pixel) { return pixel == colour; }; };
    const QRgb red = qRgb(255, 0, 0);
    const QRgb black = qRgb(0, 0, 0);

    QVERIFY(count(0, 380, is(qRgb(0, 0, 192))) > 700);
    const int redOnRow = count(redRow, redRow, is(red));
    QVERIFY2(redOnRow > 300 && redOnRow < 700, "the confidence line is missing or not dashed");
    // Off the dashed line, only the two short marks at the exact limits.
    const int redElsewhere = count(0, 380, is(red)) - redOnRow;
    QVERIFY2(redElsewhere > 0 && redElsewhere <= 2 * 15, qPrintable(QString::number(redElsewhere)));
    // Twenty ticks of eleven pixels from y = 341 to 351 are all the pure black; labels lie below.
    QCOMPARE(count(341, 351, is(black)), count(0, 380, is(black)));
    QVERIFY(count(341, 351, is(black)) >= 20 * 11);
    QVERIFY2(count(356, 380, [](QRgb pixel) { return qGray(pixel) < 128; }) > 200,
             "no x labels under the ticks");
}

void Form1Test::simulateFillsExpectedFrequencies_data()
{
    QTest::addColumn<QString>("P");
    QTest::addColumn<QString>("S");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("start-up values") << "0.9" << "0.9"
                                     << QStringList{"11.71", "65.61", "7.29", "15.39"};
    QTest::newRow("halves") << "0.5" << "0.5" << QStringList{"68.75", "6.25", "6.25", "18.75"};
    QTest::newRow("0.8, 0.7") << "0.8" << "0.7" << QStringList{"36.16", "31.36", "7.84", "24.64"};
    QTest::newRow("0.3, 0.6") << "0.3" << "0.6" << QStringList{"74.44", "3.24", "7.56", "14.76"};
    QTest::newRow("last bits show") << "0.82" << "0.94"
                                    << QStringList{"9.87806400000001", "59.413264", "13.041936",
                                                   "17.666736"};
    QTest::newRow("ones") << "1" << "1" << QStringList{"0", "100", "0", "0"};
    QTest::newRow("P zero") << "0" << "0.4" << QStringList{"100", "0", "0", "0"};
    QTest::newRow("hundredths") << "0.01" << "0.01"
                                << QStringList{"99.989901", "1E-06", "9.9E-05", "0.009999"};
    QTest::newRow("out of range") << "2" << "1" << QStringList{"100", "400", "-200", "-200"};
    QTest::newRow("negative zero") << "2" << "0" << QStringList{"100", "0", "0", "0"};
    QTest::newRow("underflow is no error") << "1E-200" << "1E-200"
                                           << QStringList{"100", "0", "0", "0"};
}

void Form1Test::simulateFillsExpectedFrequencies()
{
    QFETCH(QString, P);
    QFETCH(QString, S);
    QFETCH(QStringList, boxes);
    type(box("txtP"), P);
    type(box("txtS"), S);
    type(box("txtHist1"), QStringLiteral("typed by the user"));
    QCOMPARE(simulate(), QString());
    QCOMPARE(box("txtHist1").text(), boxes[0]);
    QCOMPARE(box("txtHist2").text(), boxes[1]);
    QCOMPARE(box("txtHist3").text(), boxes[2]);
    QCOMPARE(box("txtHist4").text(), boxes[3]);
}

void Form1Test::simulateRefusesTextThatIsNoNumber()
{
    enterFrequencies(1, 2, 3, 4);
    type(box("txtS"), QStringLiteral("abc"));
    const QString message = simulate();
    QVERIFY2(message.startsWith(QStringLiteral("S ")), qPrintable(message));
    QCOMPARE(box("txtHist1").text(), QStringLiteral("1"));
    QCOMPARE(box("txtHist2").text(), QStringLiteral("2"));
    QCOMPARE(box("txtHist3").text(), QStringLiteral("3"));
    QCOMPARE(box("txtHist4").text(), QStringLiteral("4"));
    QTRY_COMPARE(form->focusWidget(), &box("txtS"));
}

void Form1Test::simulateStopsAtAnOverflowKeepingEarlierBoxes()
{
    enterFrequencies(1, 2, 3, 4);
    // 100 P^2 S^2 still fits a double; 100 S^2 (1 - P) P does not.
    type(box("txtP"), QStringLiteral("0.4"));
    type(box("txtS"), QStringLiteral("3E+153"));
    const QString message = simulate();
    QVERIFY2(message.contains(QStringLiteral("1,0,1")), qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("overflow")), qPrintable(message));
    QCOMPARE(box("txtHist2").text(), QStringLiteral("1.44E+308"));
    QCOMPARE(box("txtHist3").text(), QStringLiteral("3"));
    QCOMPARE(box("txtHist4").text(), QStringLiteral("4"));
    QCOMPARE(box("txtHist1").text(), QStringLiteral("1"));
}

void Form1Test::simulateLeavesEverythingElseAlone()
{
    enterFrequencies(10, 20, 5, 7);
    QCOMPARE(estimate(), QString());
    const QByteArray dump = readFile(QStringLiteral("user.txt"));
    const QImage plot = control<QWidget>("picLL").grab().toImage();
    control<QCheckBox>("chkS").setChecked(false);
    control<QRadioButton>("optS").setChecked(true);
    type(box("txtHist0"), QStringLiteral("40"));
    QCOMPARE(simulate(), QString());
    QCOMPARE(box("txtHist0").text(), QStringLiteral("40"));
    QVERIFY(!control<QCheckBox>("chkS").isChecked());
    QVERIFY(control<QRadioButton>("optS").isChecked());
    QCOMPARE(control<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -52.741"));
    QCOMPARE(readFile(QStringLiteral("user.txt")), dump);
    QCOMPARE(control<QWidget>("picLL").grab().toImage(), plot);
}

QTEST_MAIN(Form1Test)
#include "Form1_test.moc"
