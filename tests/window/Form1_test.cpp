// The window driven as a person drives it: typing into the boxes, clicking the buttons, pressing
// Tab. Runs on the offscreen platform in a scratch working directory (the estimate writes
// "user.txt" there).
#include <QtTest>

#include <QCheckBox>
#include <QDir>
#include <QMenuBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>

#include "Form1.h"
#include "WindowDriver.h"

using kestrum::Form1;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QStringList kBoxes{"txtHist0", "txtHist1", "txtHist2", "txtHist3", "txtHist4", "txtP", "txtS"};

} // namespace

class Form1Test : public QObject, kestrum::testing::Driver {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QVERIFY(QDir::setCurrent(workDir.path()));
    }
    void init() { open(QStringLiteral(KESTRUM_LIBRARY_PATH)); }
    void cleanup() { form.reset(); }

    void startsAsLaidOut();
    void tabFollowsTheKeyboardOrder();
    void estimateWritesBackAndShowsTheMaximum_data();
    void estimateWritesBackAndShowsTheMaximum();
    void frequenciesAreRoundedToWholeDogsAndSaidSo();
    void dumpShowsTheRecordAsTheFitStarts();
    void badInputStopsThePressAndChangesNothing_data();
    void badInputStopsThePressAndChangesNothing();
    void messagesStayUntilTheNextPress_data();
    void messagesStayUntilTheNextPress();
    void libraryProblemsAreReported();
    void simulateFillsExpectedFrequencies_data();
    void simulateFillsExpectedFrequencies();
    void simulateLeavesEverythingElseAlone();

private:
    void open(const QString& library)
    {
        form = std::make_unique<Form1>(library);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    QStringList boxTexts()
    {
        QStringList texts;
        for (const QString& name : kBoxes)
            texts << box(name).text();
        return texts;
    }

    QTemporaryDir workDir;
};

void Form1Test::startsAsLaidOut()
{
    QCOMPARE(form->windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(boxTexts(), (QStringList{"30", "", "", "", "", "0.9", "0.9"}));
    QVERIFY(get<QCheckBox>("chkS").isChecked() && get<QRadioButton>("optP").isChecked());
    QVERIFY(!get<QLabel>("Label9").isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), &box("txtHist0"));

    // Twips / 15 at 96 dpi; the drawing area is 953 x 385 outside, 949 x 381 inside. The menu bar
    // and the status bar lie outside the client area.
    QCOMPARE(get<QWidget>("picLL").geometry(), QRect(16, 224, 953, 385));
    QCOMPARE(get<QWidget>("picLL").contentsRect().size(), QSize(949, 381));
    QCOMPARE(get<QWidget>("Label10").geometry(), QRect(472, 8, 497, 209));
    QCOMPARE(box("txtHist0").geometry(), QRect(320, 195, 25, 19));
    QCOMPARE(get<QWidget>("Command1").geometry(), QRect(16, 192, 73, 17));
    QCOMPARE(form->centralWidget()->size(), QSize(723, 597));
    QCOMPARE(form->centralWidget()->y(), form->menuBar()->height());

    // Captions fit their boxes in the window's font; the help text is in place before showing.
    for (auto* label : form->centralWidget()->findChildren<QLabel*>()) {
        const QRect needs = label->fontMetrics().boundingRect(
            QRect(0, 0, label->width(), 10000), label->wordWrap() ? Qt::TextWordWrap : 0,
            label->text());
        QVERIFY2(needs.width() <= label->width() && needs.height() <= label->height(),
                 qPrintable(label->objectName()));
    }
    Form1 fresh(QStringLiteral(KESTRUM_LIBRARY_PATH));
    const QString help = fresh.findChild<QLabel*>(QStringLiteral("Label10"))->text();
    QCOMPARE(help, Form1::helpText());
    QCOMPARE(help.size(), 920);
    QVERIFY(help.startsWith(QStringLiteral("This program can be used")));
}

void Form1Test::tabFollowsTheKeyboardOrder()
{
    // Only the selected option button is a stop.
    get<QRadioButton>("optS").setChecked(true);
    box("txtHist0").setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), &box("txtHist0"));
    for (const char* name : {"txtHist2", "txtHist3", "Command1", "txtHist4", "picLL", "txtP", "txtS",
                             "chkS", "txtHist1", "optS", "Command2", "txtHist0"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(name));
    }
}

void Form1Test::estimateWritesBackAndShowsTheMaximum_data()
{
    QTest::addColumn<QList<int>>("frequencies");
    QTest::addColumn<QString>("typedS"); // empty: S free
    QTest::addColumn<bool>("ofP");
    QTest::addColumn<QString>("S");
    QTest::addColumn<QString>("P");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("limits");
    const QList<int> block{10, 20, 5, 7};
    QTest::newRow("both free") << block << "" << true << "0.84" << "0.81"
                               << "maximum log likelihood = -52.741"
                               << "95% limits for P: 0.637 to 0.929";
    QTest::newRow("profile of S") << block << "" << false << "0.84" << "0.81"
                                  << "maximum log likelihood = -52.741"
                                  << "95% limits for S: 0.718 to 0.959";
    QTest::newRow("S fixed at 0.9") << block << "0.9" << false << "0.9" << "0.76"
                                    << "maximum log likelihood = -53.297"
                                    << "95% limits for S: none, S is held fixed";
    QTest::newRow("S fixed, rounded back") << block << "0.9123" << true << "0.91" << "0.74"
                                           << "maximum log likelihood = -53.527"
                                           << "95% limits for P: 0.608 to 0.866";
    QTest::newRow("S on its upper bound") << QList<int>{30, 30, 30, 30} << "" << false << "0.99"
                                          << "0.51" << "maximum log likelihood = -166.365"
                                          << "95% limits for S: 0.871 to above 0.99";
    QTest::newRow("another interior maximum") << QList<int>{50, 20, 10, 20} << "" << true << "0.65"
                                              << "0.66" << "maximum log likelihood = -122.641"
                                              << "95% limits for P: 0.477 to 0.813";
}

void Form1Test::estimateWritesBackAndShowsTheMaximum()
{
    QFETCH(QList<int>, frequencies);
    QFETCH(QString, typedS);
    QFETCH(bool, ofP);
    QFETCH(QString, S);
    QFETCH(QString, P);
    QFETCH(QString, result);
    QFETCH(QString, limits);
    QVERIFY(!get<QLabel>("lblLimits").isVisible());
    enter(frequencies);
    get<QCheckBox>("chkS").setChecked(typedS.isEmpty());
    get<QRadioButton>(ofP ? "optP" : "optS").setChecked(true);
    if (!typedS.isEmpty())
        type("txtS", typedS);
    // The estimates are the next press's start: pressing again gives the same estimates.
    for (int press = 0; press < 2; ++press) {
        QCOMPARE(click("Command1"), QString());
        QCOMPARE(box("txtS").text(), S);
        QCOMPARE(box("txtP").text(), P);
        QVERIFY(get<QLabel>("Label9").isVisible() && get<QLabel>("lblLimits").isVisible());
        if (press == 0) {
            QCOMPARE(get<QLabel>("Label9").text(), result);
            QCOMPARE(get<QLabel>("lblLimits").text(), limits);
        }
        QVERIFY2(!messages().contains(QStringLiteral("converge")), qPrintable(messages()));
    }
    // The scan of S leaves its own last value in the record.
    QVERIFY(!ofP || form->record().USER(1) == box("txtS").text().toDouble());
}

void Form1Test::frequenciesAreRoundedToWholeDogsAndSaidSo()
{
    // What "simulate" fills in for P 0.7, S 0.6, and a half on either side of even.
    const QStringList typed{"50.44", " 17.64 ", "2.5", "3.5"};
    for (int k = 0; k < 4; ++k)
        type(QStringLiteral("txtHist%1").arg(k + 1), typed[k]);
    QCOMPARE(click("Command1"), QString());
    const auto& IUSER = form->record().IUSER;
    QCOMPARE((QList<int>{IUSER(10), IUSER(11), IUSER(12), IUSER(13)}), (QList<int>{50, 18, 2, 4}));
    QVERIFY2(messages().contains(
                 QStringLiteral("50.44 of 1,0,0 as 50, 17.64 of 1,1,1 as 18, 2.5 of 1,0,1 as 2, "
                                "3.5 of 1,1,0 as 4")),
             qPrintable(messages()));
    enter({50, 18, 2, 4});
    QCOMPARE(click("Command1"), QString());
    QVERIFY(!messages().contains(QStringLiteral("nearest whole")));
}

void Form1Test::dumpShowsTheRecordAsTheFitStarts()
{
    enter({10, 20, 5, 7});
    QCOMPARE(click("Command1"), QString());
    QCOMPARE(readFile("user.txt"),
             " 14 \r\n 2 \r\n 1 \r\n 2 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 10 \r\n 20 \r\n"
             " 5 \r\n 7 \r\n 0 \r\n 8 \r\n .9 \r\n 1 \r\n .01 \r\n .99 \r\n .9 \r\n 1 \r\n .01 \r\n"
             " .99 \r\n");

    // The next press replaces the file, starting from the estimates; with S held after a press
    // with S free, the stale third entry of the free list is written as it stands.
    get<QCheckBox>("chkS").setChecked(false);
    QCOMPARE(click("Command1"), QString());
    const QList<QByteArray> lines = readFile("user.txt").split('\n');
    QCOMPARE(lines.size(), 25);
    QCOMPARE(lines.mid(1, 3), (QList<QByteArray>{" 1 \r", " 2 \r", " 2 \r"}));
    QCOMPARE(lines[16], QByteArray(" .84 \r"));
    QCOMPARE(lines[20], QByteArray(" .81 \r"));

    // A directory in the file's place cannot be replaced by a file, even by root: said, and the
    // estimate goes on.
    QVERIFY(QFile::remove("user.txt") && QDir().mkdir("user.txt"));
    QCOMPARE(click("Command1"), QString());
    QVERIFY(QDir().rmdir("user.txt"));
    QVERIFY2(messages().contains(QStringLiteral("user.txt could not be")), qPrintable(messages()));
    QVERIFY(get<QLabel>("Label9").text().startsWith(QStringLiteral("maximum log likelihood")));
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
    QTest::newRow("all frequencies 0") << "txtHist1" << "0 0 0 0" << "are all 0";
    QTest::newRow("range not a number") << "txtHist0" << "wide" << "plotting range";
    QTest::newRow("range 0") << "txtHist0" << "0" << "greater than 0";
    QTest::newRow("range negative") << "txtHist0" << "-30" << "greater than 0";
    QTest::newRow("range NaN") << "txtHist0" << "nan" << "plotting range";
    QTest::newRow("range infinite") << "txtHist0" << "inf" << "plotting range";
}

void Form1Test::badInputStopsThePressAndChangesNothing()
{
    QFETCH(QString, boxName);
    QFETCH(QString, text);
    QFETCH(QString, complaint);
    // A good press first, so there is a result, a plot, messages and a dump that must survive.
    enter({10, 20, 5, 7});
    type("txtHist1", "10.4");
    QCOMPARE(click("Command1"), QString());
    const QString result = get<QLabel>("Label9").text();
    const QString said = messages();
    const QImage plot = get<QWidget>("picLL").grab().toImage();
    const kestrum::ModelRecord before = form->record();
    const QByteArray dump = readFile("user.txt");

    QLineEdit& bad = box(boxName);
    if (text == QLatin1String("0 0 0 0")) {
        enter({0, 0, 0, 0});
        type("txtHist2", " -0 ");
    } else {
        type(boxName, text);
    }
    const QStringList typed = boxTexts();
    const QString message = click("Command1");
    QVERIFY2(message.contains(complaint), qPrintable(message));
    QTRY_COMPARE(form->focusWidget(), &bad);
    QCOMPARE(bad.selectedText(), bad.text());

    QCOMPARE(boxTexts(), typed);
    QCOMPARE(readFile("user.txt"), dump);
    QCOMPARE(get<QLabel>("Label9").text(), result);
    QCOMPARE(messages(), said);
    QVERIFY(form->record().IUSER == before.IUSER && form->record().USER == before.USER);
    QCOMPARE(get<QWidget>("picLL").grab().toImage(), plot);
}

void Form1Test::messagesStayUntilTheNextPress_data()
{
    QTest::addColumn<QList<int>>("frequencies");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("said");
    QTest::newRow("one point") << QList<int>{1, 0, 0, 0} << "30" << "has 1 point, and a curve needs two";
    QTest::newRow("estimate on a bound") << QList<int>{0, 30, 0, 0} << "30"
                                         << "The mark of the lower limit is not drawn";
    QTest::newRow("limits beyond the range") << QList<int>{10, 20, 5, 7} << "15"
                                             << "The mark of the lower limit is not drawn: outside the range";
}

void Form1Test::messagesStayUntilTheNextPress()
{
    QFETCH(QList<int>, frequencies);
    QFETCH(QString, range);
    QFETCH(QString, said);
    enter(frequencies);
    type("txtHist0", range);
    QCOMPARE(click("Command1"), QString());
    QVERIFY2(messages().contains(said), qPrintable(messages()));
    const QString full = messages();

    // Shown whole, wrapped inside the window, whatever a menu or a tip puts in the status bar.
    auto& label = get<QLabel>("messages");
    QVERIFY(label.isVisible() && label.wordWrap());
    QVERIFY(label.geometry().right() < form->width());
    QVERIFY2(label.height() >= label.heightForWidth(label.width()), "the messages are cut off");
    form->menuBar()->actions().constFirst()->menu()->popup(QPoint(0, 0));
    form->statusBar()->showMessage(QStringLiteral("a tip"));
    QApplication::processEvents();
    QCOMPARE(messages(), full);
    QVERIFY(label.isVisible());
    QApplication::activePopupWidget()->close();

    enter({10, 20, 5, 7});
    type("txtHist0", "30");
    QCOMPARE(click("Command1"), QString());
    QCOMPARE(messages(), QString());
}

void Form1Test::libraryProblemsAreReported()
{
    // Missing: said, nothing changes, and the next press finds it once it is in place.
    open(workDir.filePath(QStringLiteral("libNoSuchLibrary.so")));
    enter({10, 20, 5, 7});
    QVERIFY(click("Command1").contains(QStringLiteral("could not be loaded")));
    QVERIFY(!get<QLabel>("Label9").isVisible());
    QCOMPARE(box("txtS").text(), QStringLiteral("0.9"));
    QVERIFY(QFile::copy(QStringLiteral(KESTRUM_LIBRARY_PATH),
                        workDir.filePath(QStringLiteral("libNoSuchLibrary.so"))));
    QCOMPARE(click("Command1"), QString());
    QCOMPARE(get<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -52.741"));

    open(QStringLiteral(NO_ENTRY_POINT_LIBRARY_PATH));
    enter({10, 20, 5, 7});
    QVERIFY(click("Command1").contains(QStringLiteral("has no entry point N_E04JYF")));
    QVERIFY(!get<QLabel>("Label9").isVisible());

    // Searches that all stop at their evaluation limit, at the middle of the box.
    open(QStringLiteral(UNCONVERGED_LIBRARY_PATH));
    enter({10, 20, 5, 7});
    QCOMPARE(click("Command1"), QString());
    QCOMPARE(boxTexts().mid(5), (QStringList{"0.5", "0.5"}));
    QCOMPARE(get<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -1.250"));
    QVERIFY2(messages().contains(QStringLiteral("did not converge")), qPrintable(messages()));
}

void Form1Test::simulateFillsExpectedFrequencies_data()
{
    QTest::addColumn<QString>("P");
    QTest::addColumn<QString>("S");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("message");
    const QStringList typed{"typed", "2", "3", "4"};
    QTest::newRow("start-up values") << "0.9" << "0.9"
                                     << QStringList{"11.71", "65.61", "7.29", "15.39"} << "";
    QTest::newRow("0.3, 0.6") << "0.3" << "0.6" << QStringList{"74.44", "3.24", "7.56", "14.76"}
                              << "";
    QTest::newRow("last bits show")
        << "0.82" << "0.94" << QStringList{"9.87806400000001", "59.413264", "13.041936", "17.666736"}
        << "";
    QTest::newRow("ones") << "1" << "1" << QStringList{"0", "100", "0", "0"} << "";
    QTest::newRow("hundredths") << "0.01" << "0.01"
                                << QStringList{"99.989901", "1E-06", "9.9E-05", "0.009999"} << "";
    QTest::newRow("out of range") << "2" << "1" << QStringList{"100", "400", "-200", "-200"} << "";
    QTest::newRow("negative zero") << "2" << "0" << QStringList{"100", "0", "0", "0"} << "";
    QTest::newRow("underflow is no error") << "1E-200" << "1E-200"
                                           << QStringList{"100", "0", "0", "0"} << "";
    QTest::newRow("S not a number") << "0.5" << "abc" << typed << "S ";
    // 100 P^2 S^2 still fits a double; 100 S^2 (1 - P) P does not.
    QTest::newRow("overflow after a box") << "0.4" << "3E+153"
                                          << QStringList{"typed", "1.44E+308", "3", "4"}
                                          << "1,0,1 cannot be computed for P = 0.4 and S = "
                                             "3E+153 (floating-point overflow)";
}

void Form1Test::simulateFillsExpectedFrequencies()
{
    QFETCH(QString, P);
    QFETCH(QString, S);
    QFETCH(QStringList, boxes);
    QFETCH(QString, message);
    type("txtP", P);
    type("txtS", S);
    for (int k = 0; k < 4; ++k)
        type(QStringLiteral("txtHist%1").arg(k + 1), k == 0 ? QStringLiteral("typed")
                                                            : QString::number(k + 1));
    const QString said = click("Command2");
    QVERIFY2(message.isEmpty() ? said.isEmpty() : said.contains(message), qPrintable(said));
    QCOMPARE(boxTexts().mid(1, 4), boxes);
}

void Form1Test::simulateLeavesEverythingElseAlone()
{
    enter({10, 20, 5, 7});
    QCOMPARE(click("Command1"), QString());
    const QByteArray dump = readFile("user.txt");
    const QImage plot = get<QWidget>("picLL").grab().toImage();
    get<QCheckBox>("chkS").setChecked(false);
    get<QRadioButton>("optS").setChecked(true);
    type("txtHist0", "40");
    QCOMPARE(click("Command2"), QString());
    QCOMPARE(box("txtHist0").text(), QStringLiteral("40"));
    QVERIFY(!get<QCheckBox>("chkS").isChecked() && get<QRadioButton>("optS").isChecked());
    QCOMPARE(get<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -52.741"));
    QCOMPARE(readFile("user.txt"), dump);
    QCOMPARE(get<QWidget>("picLL").grab().toImage(), plot);
}

QTEST_MAIN(Form1Test)
#include "Form1_test.moc"
