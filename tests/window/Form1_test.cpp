// The window driven as a person drives it: typing into the boxes, clicking the buttons, pressing
// Tab, using the menus; and what a person takes away from it: the saved plot and report (rendered
// to pixels and text with poppler's tools, as a reader sees them) and the clipboard. Runs on the
// offscreen platform in a scratch working directory (the estimate writes "user.txt" there).
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QHeaderView>
#include <QMenuBar>
#include <QProcess>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "WindowDriver.h"

using kestrum::Form1;
using kestrum::testing::ModalAnswer;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QStringList kBoxes{"txtHist0", "txtHist1", "txtHist2", "txtHist3",
                         "txtHist4", "txtP",     "txtS"};

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
    for (const QFileInfo& page :
         QDir(file.path()).entryInfoList({file.fileName() + "-*.png"}, QDir::Files, QDir::Name))
        images << QImage(page.filePath()).convertToFormat(QImage::Format_RGB32);
    return images;
}

// The plot of P for (10, 20, 5, 7), whole: the curve ends inside the page, and the upper limit's
// mark (0.9287, at point 18.935 of 21) stands where it does on screen, 0.8967 of the curve's width.
void verifyWholePlot(const QImage& page)
{
    int left = -1, right = -1, mark = -1; // the curve's ends, the rightmost mark
    for (int x = 0; x < page.width(); ++x) {
        for (int y = 0, red = 0; y < page.height(); ++y) {
            const QColor c = page.pixelColor(x, y);
            if (c.blue() > 120 && c.red() < 100 && c.green() < 100) {
                left = left < 0 ? x : left;
                right = x;
            }
            red = c.red() > 180 && c.green() < 100 && c.blue() < 100 ? red + 1 : 0;
            mark = red >= 7 ? x : mark;
        }
    }
    QVERIFY(left > 0 && right < page.width() - 5 && mark > 0);
    const double share = double(mark - left) / (right - left);
    QVERIFY2(std::abs(share - 0.8967) < 0.01, qPrintable(QString::number(share)));
}

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

    void startsAsLaidOut()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("Form1"));
        QCOMPARE(boxTexts(), (QStringList{"30", "", "", "", "", "0.9", "0.9"}));
        QVERIFY(get<QCheckBox>("chkS").isChecked() && get<QRadioButton>("optP").isChecked());
        QVERIFY(!get<QLabel>("Label9").isVisible() && !get<QLabel>("lblLimits").isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), &box("txtHist0"));

        // Twips / 15 at 96 dpi; the drawing area is 953 x 385 outside, 949 x 381 inside. The menu
        // bar and the status bar lie outside the client area.
        QCOMPARE(get<QWidget>("picLL").geometry(), QRect(16, 224, 953, 385));
        QCOMPARE(get<QWidget>("picLL").contentsRect().size(), QSize(949, 381));
        QCOMPARE(box("txtHist0").geometry(), QRect(320, 195, 25, 19));
        QCOMPARE(form->centralWidget()->geometry(), QRect(0, form->menuBar()->height(), 723, 597));

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
        QVERIFY(help == Form1::helpText() && help.size() == 920);
    }
    void tabFollowsTheKeyboardOrder()
    {
        // Only the selected option button is a stop.
        get<QRadioButton>("optS").setChecked(true);
        box("txtHist0").setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), &box("txtHist0"));
        for (const char* name : {"txtHist2", "txtHist3", "Command1", "txtHist4", "picLL", "txtP",
                                 "txtS", "chkS", "txtHist1", "optS", "Command2", "txtHist0"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(name));
        }
    }
    void estimateWritesBackAndShowsTheMaximum_data()
    {
        QTest::addColumn<QList<int>>("frequencies");
        QTest::addColumn<QString>("typedS"); // empty: S free
        QTest::addColumn<bool>("ofP");
        QTest::addColumn<QStringList>("shown"); // S, P, result line, limits line
        const QList<int> block{10, 20, 5, 7};
        QTest::newRow("both free")
            << block << "" << true << QStringList{"0.84", "0.81", "-52.741", "P: 0.637 to 0.929"};
        QTest::newRow("profile of S")
            << block << "" << false << QStringList{"0.84", "0.81", "-52.741", "S: 0.718 to 0.959"};
        QTest::newRow("S fixed at 0.9") << block << "0.9" << false
                                        << QStringList{"0.9", "0.76", "-53.297",
                                                       "S: none, S is held fixed"};
        QTest::newRow("S fixed, rounded back")
            << block << "0.9123" << true
            << QStringList{"0.91", "0.74", "-53.527", "P: 0.608 to 0.866"};
        QTest::newRow("S on its upper bound")
            << QList<int>{30, 30, 30, 30} << "" << false
            << QStringList{"0.99", "0.51", "-166.365", "S: 0.871 to above 0.99"};
        QTest::newRow("another interior maximum")
            << QList<int>{50, 20, 10, 20} << "" << true
            << QStringList{"0.65", "0.66", "-122.641", "P: 0.477 to 0.813"};
    }
    void estimateWritesBackAndShowsTheMaximum()
    {
        QFETCH(QList<int>, frequencies);
        QFETCH(QString, typedS);
        QFETCH(bool, ofP);
        QFETCH(QStringList, shown);
        enter(frequencies);
        get<QCheckBox>("chkS").setChecked(typedS.isEmpty());
        get<QRadioButton>(ofP ? "optP" : "optS").setChecked(true);
        if (!typedS.isEmpty())
            type("txtS", typedS);
        // The estimates are the next press's start: pressing again gives the same estimates.
        for (int press = 0; press < 2; ++press) {
            QCOMPARE(click("Command1"), QString());
            QCOMPARE(boxTexts().mid(5), (QStringList{shown[1], shown[0]}));
            QVERIFY(get<QLabel>("Label9").isVisible() && get<QLabel>("lblLimits").isVisible());
            if (press == 0) {
                QCOMPARE(get<QLabel>("Label9").text(), "maximum log likelihood = " + shown[2]);
                QCOMPARE(get<QLabel>("lblLimits").text(), "95% limits for " + shown[3]);
            }
            QVERIFY2(!messages().contains(QStringLiteral("converge")), qPrintable(messages()));
        }
        // The scan of S leaves its own last value in the record.
        QVERIFY(!ofP || form->record().USER(1) == box("txtS").text().toDouble());
    }
    void frequenciesAreRoundedToWholeDogsAndSaidSo()
    {
        // What "simulate" fills in for P 0.7, S 0.6, and a half on either side of even.
        const QStringList typed{"50.44", " 17.64 ", "2.5", "3.5"};
        for (int k = 0; k < 4; ++k)
            type(QStringLiteral("txtHist%1").arg(k + 1), typed[k]);
        QCOMPARE(click("Command1"), QString());
        const auto& IUSER = form->record().IUSER;
        QCOMPARE((QList<int>{IUSER(10), IUSER(11), IUSER(12), IUSER(13)}),
                 (QList<int>{50, 18, 2, 4}));
        QVERIFY2(messages().contains(QStringLiteral(
                     "50.44 of 1,0,0 as 50, 17.64 of 1,1,1 as 18, 2.5 of 1,0,1 as 2, "
                     "3.5 of 1,1,0 as 4")),
                 qPrintable(messages()));
        estimate({50, 18, 2, 4});
        QVERIFY(!messages().contains(QStringLiteral("nearest whole")));
    }
    void dumpShowsTheRecordAsTheFitStarts()
    {
        estimate({10, 20, 5, 7});
        QCOMPARE(readFile("user.txt"),
                 " 14 \r\n 2 \r\n 1 \r\n 2 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n"
                 " 10 \r\n 20 \r\n 5 \r\n 7 \r\n 0 \r\n 8 \r\n .9 \r\n 1 \r\n .01 \r\n"
                 " .99 \r\n .9 \r\n 1 \r\n .01 \r\n .99 \r\n");

        // The next press replaces the file, starting from the estimates; with S held after a press
        // with S free, the stale third entry of the free list is written as it stands.
        get<QCheckBox>("chkS").setChecked(false);
        QCOMPARE(click("Command1"), QString());
        const QList<QByteArray> lines = readFile("user.txt").split('\n');
        QCOMPARE(lines.mid(1, 3), (QList<QByteArray>{" 1 \r", " 2 \r", " 2 \r"}));
        QCOMPARE(lines[16] + lines[20], QByteArray(" .84 \r .81 \r"));

        // A directory in the file's place stops even root: said, and the estimate goes on.
        QVERIFY(QFile::remove("user.txt") && QDir().mkdir("user.txt"));
        QCOMPARE(click("Command1"), QString());
        QVERIFY(QDir().rmdir("user.txt"));
        QVERIFY2(messages().contains(QStringLiteral("user.txt could not be")),
                 qPrintable(messages()));
    }
    void badInputStopsThePressAndChangesNothing_data()
    {
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("S not a number") << "txtS" << "abc" << "S";
        QTest::newRow("S of 1") << "txtS" << "1" << "strictly between 0 and 1";
        QTest::newRow("S of 0") << "txtS" << "0" << "strictly between 0 and 1";
        QTest::newRow("P above 1") << "txtP" << "1.5" << "strictly between 0 and 1";
        QTest::newRow("frequency empty") << "txtHist3" << "" << "1,0,1";
        QTest::newRow("frequency negative") << "txtHist2" << "-3" << "must not be negative";
        QTest::newRow("frequency beyond 32 bits") << "txtHist4" << "3000000000" << "1,1,0";
        QTest::newRow("all frequencies 0") << "txtHist1" << "0 0 0 0" << "are all 0";
        QTest::newRow("range not a number") << "txtHist0" << "wide" << "plotting range";
        QTest::newRow("range 0") << "txtHist0" << "0" << "greater than 0";
        QTest::newRow("range negative") << "txtHist0" << "-30" << "greater than 0";
        QTest::newRow("range infinite") << "txtHist0" << "inf" << "plotting range";
    }
    void badInputStopsThePressAndChangesNothing()
    {
        QFETCH(QString, boxName);
        QFETCH(QString, text);
        QFETCH(QString, complaint);
        // A good press first, so there is a result, a plot, messages and a dump that must survive.
        enter({10, 20, 5, 7});
        type("txtHist1", "10.4");
        QCOMPARE(click("Command1"), QString());
        const QStringList shown{get<QLabel>("Label9").text(), messages(), readFile("user.txt")};
        const QImage plot = get<QWidget>("picLL").grab().toImage();
        const kestrum::ModelRecord before = form->record();

        QLineEdit& bad = box(boxName);
        const bool allZero = text == QLatin1String("0 0 0 0");
        if (allZero)
            enter({0, 0, 0, 0});
        type(boxName, allZero ? QStringLiteral(" -0 ") : text);
        const QStringList typed = boxTexts();
        const QString message = click("Command1");
        QVERIFY2(message.contains(complaint), qPrintable(message));
        QTRY_COMPARE(form->focusWidget(), &bad);
        QCOMPARE(bad.selectedText(), bad.text());

        QCOMPARE(boxTexts(), typed);
        QCOMPARE((QStringList{get<QLabel>("Label9").text(), messages(), readFile("user.txt")}),
                 shown);
        QVERIFY(form->record().IUSER == before.IUSER && form->record().USER == before.USER);
        QCOMPARE(get<QWidget>("picLL").grab().toImage(), plot);
    }
    void messagesStayUntilTheNextPress_data()
    {
        QTest::addColumn<QList<int>>("frequencies");
        QTest::addColumn<QString>("range");
        QTest::addColumn<QStringList>("startSP"); // S held at the first when there are two
        QTest::addColumn<QString>("said");
        QTest::newRow("one point") << QList<int>{1, 0, 0, 0} << "30" << QStringList{"0.9"}
                                   << "has 1 point, and a curve needs two";
        QTest::newRow("estimate on a bound") << QList<int>{0, 30, 0, 0} << "30"
            << QStringList{"0.9"} << "The mark of the lower limit is not drawn";
        QTest::newRow("limit beyond the range") << QList<int>{10, 20, 5, 7} << "15"
            << QStringList{"0.9"}
            << "The mark of the lower limit is not drawn: outside the range plotted. A % plotting "
               "range of 22 plots it.";
        // The scan stays below 0.99; around this estimate its last point is 0.98 at any range.
        QTest::newRow("limit beyond every range") << QList<int>{3, 2, 1, 0} << "100"
            << QStringList{"0.9"}
            << "The mark of the upper limit is not drawn: the limit, 0.9803, lies above 0.98, the "
               "highest value the profile is plotted at with any % plotting range";
        // With S held here the likelihood in P has two peaks; from 0.5 the search climbs the lower.
        QTest::newRow("lower peak") << QList<int>{82, 47, 1, 2} << "30"
            << QStringList{"0.7586", "0.5"}
            << "lower peak of the likelihood; the highest lies at P = 0.940";
    }
    void messagesStayUntilTheNextPress()
    {
        QFETCH(QList<int>, frequencies);
        QFETCH(QString, range);
        QFETCH(QStringList, startSP);
        QFETCH(QString, said);
        type("txtHist0", range);
        type("txtS", startSP.first());
        type("txtP", startSP.last());
        estimate(frequencies, startSP.size() == 1);
        QVERIFY2(messages().contains(said), qPrintable(messages()));
        const QString full = messages();

        // Shown whole, wrapped inside the window, whatever a menu or a tip puts in the status bar.
        auto& label = get<QLabel>("messages");
        QVERIFY2(label.wordWrap() && label.height() >= label.heightForWidth(label.width()), "cut");
        form->menuBar()->actions().constFirst()->menu()->popup(QPoint(0, 0));
        form->statusBar()->showMessage(QStringLiteral("a tip"));
        QApplication::processEvents();
        QVERIFY(messages() == full && label.isVisible());
        QApplication::activePopupWidget()->close();

        // A range advised for a mark draws it.
        const auto advice = QRegularExpression("(lower|upper) limit is not drawn: .* range of "
                                               "(\\d+) plots it")
                                .match(full);
        if (advice.hasMatch()) {
            type("txtHist0", advice.captured(2));
            estimate(frequencies, startSP.size() == 1);
            QVERIFY2(!messages().contains(advice.captured(1) + " limit is not drawn"),
                     qPrintable(messages()));
        }
        type("txtHist0", "30");
        estimate({10, 20, 5, 7});
        QCOMPARE(messages(), QString());
    }
    void libraryProblemsAreReported()
    {
        // Missing: said, nothing changes, and the next press finds it once it is in place.
        open(workDir.filePath(QStringLiteral("libNoSuchLibrary.so")));
        enter({10, 20, 5, 7});
        const QString missing = click("Command1");
        QVERIFY2(missing.contains(QStringLiteral("could not be loaded")) &&
                     missing.contains(QStringLiteral("There is no file ")) &&
                     !missing.contains(QStringLiteral("liblib")),
                 qPrintable(missing));
        QVERIFY(!get<QLabel>("Label9").isVisible() && box("txtS").text() == "0.9");
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
        estimate({10, 20, 5, 7});
        QCOMPARE(boxTexts().mid(5), (QStringList{"0.5", "0.5"}));
        QCOMPARE(get<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -1.250"));
        QVERIFY2(messages().contains(QStringLiteral("did not converge")), qPrintable(messages()));
    }
    void simulateFillsExpectedFrequencies_data()
    {
        QTest::addColumn<QString>("P");
        QTest::addColumn<QString>("S");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("message");
        const QStringList typed{"typed", "20", "5", "7"};
        QTest::newRow("start-up values") << "0.9"
            << "0.9" << QStringList{"11.71", "65.61", "7.29", "15.39"} << "";
        QTest::newRow("last bits show") << "0.82"
            << "0.94" << QStringList{"9.87806400000001", "59.413264", "13.041936", "17.666736"}
            << "";
        QTest::newRow("hundredths") << "0.01"
            << "0.01" << QStringList{"99.989901", "1E-06", "9.9E-05", "0.009999"} << "";
        QTest::newRow("out of range") << "2"
                                      << "1" << QStringList{"100", "400", "-200", "-200"} << "";
        QTest::newRow("negative zero") << "2" << "0" << QStringList{"100", "0", "0", "0"} << "";
        QTest::newRow("underflow is no error") << "1E-200"
            << "1E-200" << QStringList{"100", "0", "0", "0"} << "";
        QTest::newRow("S not a number") << "0.5" << "abc" << typed << "S ";
        // 100 P^2 S^2 still fits a double; 100 S^2 (1 - P) P does not.
        QTest::newRow("overflow after a box") << "0.4"
            << "3E+153" << QStringList{"typed", "1.44E+308", "5", "7"}
            << "1,0,1 cannot be computed for P = 0.4 and S = "
               "3E+153 (floating-point overflow)";
    }
    void simulateFillsExpectedFrequencies()
    {
        QFETCH(QString, P);
        QFETCH(QString, S);
        QFETCH(QStringList, boxes);
        QFETCH(QString, message);
        // Result, plot, dump, range, check box and option buttons stay as they are.
        estimate({10, 20, 5, 7});
        const QByteArray dump = readFile("user.txt");
        const QImage plot = get<QWidget>("picLL").grab().toImage();
        get<QRadioButton>("optS").setChecked(true);
        type("txtHist0", "40");
        type("txtP", P);
        type("txtS", S);
        type("txtHist1", "typed");
        const QString said = click("Command2");
        QVERIFY2(message.isEmpty() ? said.isEmpty() : said.contains(message), qPrintable(said));
        QCOMPARE(boxTexts().mid(1, 4), boxes);
        QVERIFY(get<QCheckBox>("chkS").isChecked() && get<QRadioButton>("optS").isChecked());
        QCOMPARE(get<QLabel>("Label9").text() + box("txtHist0").text(),
                 QStringLiteral("maximum log likelihood = -52.74140"));
        QVERIFY(readFile("user.txt") == dump && get<QWidget>("picLL").grab().toImage() == plot);
    }
    void menusHaveTheirShortcuts()
    {
        for (const auto& [action, keys] : {std::pair{"actionSaveReport", Qt::CTRL | Qt::Key_S},
                                           {"actionPrint", Qt::CTRL | Qt::Key_P},
                                           {"actionExit", Qt::CTRL | Qt::Key_Q},
                                           {"actionAbout", QKeyCombination(Qt::Key_F1)}})
            QCOMPARE(get<QAction>(action).shortcut(), QKeySequence(keys));
        // About; and nothing to save or print yet: said, and no file made.
        const QString png = workDir.filePath(QStringLiteral("early.png"));
        ModalAnswer answer(png);
        QTest::keyClick(form.get(), Qt::Key_F1);
        get<QAction>("actionSavePlot").trigger();
        get<QAction>("actionPrint").trigger();
        // The version the package and kestrum-estimate give, and the licence, whole.
        for (const QString& said :
             {QStringLiteral("Kestrum " KESTRUM_VERSION "\n"),
              QStringLiteral("Copyright (c) 2026 The Kestrum authors\nReleased under the MIT "),
              QStringLiteral("Permission is hereby granted"), QStringLiteral("NONINFRINGEMENT")})
            QVERIFY2(answer.text().contains(said), qPrintable(answer.text()));
        QCOMPARE(answer.text().count(QStringLiteral("estimate\" first")), 2);
        QVERIFY(!QFile::exists(png));
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!form->isVisible());
    }
    void whatIsTakenAwayHoldsTheResults()
    {
        QVERIFY(details().findChild<QLabel*>("summary")->text().contains("estimate\" first"));
        QCOMPARE(form->copyResults(), QString());
        // An open dialog follows each estimate.
        enter({10, 20, 5, 7});
        type("txtHist1", "10.2");
        QCOMPARE(click("Command1"), QString());
        QCOMPARE(cell("estimates", 0, 1) + cell("estimates", 1, 1) + cell("estimates", 0, 4) + " " +
                     cell("frequencies", 1, 2),
                 QStringLiteral("0.81360.83720.6367 to 0.9287 19.49"));
        // 24 / 0.8136 with limits 24 / 0.9287 and 24 / 0.6367; with the count's own variation
        // joined on the log scale, as the totals join it, 23.7 to 39.8.
        typeStreetCount("24");
        QCOMPARE(
            details().findChild<QLabel*>("population")->text(),
            QStringLiteral("About 29.5 dogs.\n95% limits for the uncertainty in P only: 25.8 to "
                           "37.7.\n95% limits with the street count's own variation too, as "
                           "the city's totals have them: 23.7 to 39.8."));

        // The plot as PNG at its size on screen, and as a PDF drawing, whole.
        const QString png = workDir.filePath(QStringLiteral("plot.png"));
        const QString pdf = workDir.filePath(QStringLiteral("plot.pdf"));
        const QString report = workDir.filePath(QStringLiteral("report.pdf"));
        {
            ModalAnswer answer(png);
            get<QAction>("actionSavePlot").trigger();
        }
        QCOMPARE(QImage(png).convertToFormat(QImage::Format_RGB32), form->plotImage());
        QCOMPARE(form->savePlot(pdf), QString());
        QList<QImage> shown = pages(pdf);
        QVERIFY(shown.size() == 1 && std::abs(shown[0].width() - 949) <= 1);
        verifyWholePlot(shown[0]);
        QVERIFY2(QFileInfo(pdf).size() < 40000, "a drawing, not a picture");

        // The report on one page with the whole plot; it, the HTML and the clipboard hold it all.
        QCOMPARE(form->saveReport(workDir.filePath(QStringLiteral("report.html"))), QString());
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        {
            ModalAnswer answer(report);
            QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
        }
        shown = pages(report);
        QCOMPARE(shown.size(), 1);
        verifyWholePlot(shown[0]);
        get<QAction>("actionCopyResults").trigger();
        const QString saved[] = {QString::fromUtf8(readFile("report.html")),
                                 run(QStringLiteral("pdftotext"), {"-layout", report, "-"}),
                                 QApplication::clipboard()->text()};
        for (const QString& text : saved) {
            for (const QString& expected :
                 {QDate::currentDate().toString(Qt::ISODate),
                  QStringLiteral("Kestrum " KESTRUM_VERSION),
                  QStringLiteral("P and S estimated; profile of P; plotting range 30%"),
                  QStringLiteral("1,0,1"), QStringLiteral("19.49"), QStringLiteral("0.8136"),
                  QStringLiteral("0.0757"), QStringLiteral("0.6367"), QStringLiteral("0.9287"),
                  QStringLiteral("G² = "), QStringLiteral("23.7"), QStringLiteral("39.8"),
                  QStringLiteral("About 29 dogs live in the block, between 24 and 40"),
                  QStringLiteral("P, the proportion seen: "),
                  QStringLiteral("S, the proportion staying: "),
                  QStringLiteral("10.2 of 1,0,0 as 10")}) {
                QVERIFY2(text.contains(expected), qPrintable(expected + "\n" + text.right(2000)));
            }
        }
        QVERIFY(saved[2].contains("history\tobserved\texpected\n1,0,0\t10\t8.93\n"));
        // Every limit in a cell of its own, so that a spreadsheet reads it as a number.
        QVERIFY(saved[2].contains("\nP\t0.8136\t0.0757\t0.6652\t0.9621\t0.6367\t0.9287\t\n"));
        QVERIFY(saved[2].contains("\tN\tlower\tupper\tnote\nthe uncertainty in P only\t29.5\t25.8"
                                  "\t37.7\t\nthe street count's own variation too\t29.5\t23.7\t39.8"
                                  "\t\n"));
        get<QAction>("actionCopyImage").trigger();
        QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
                 form->plotImage());

        // S held fixed: no profile for S, and the fit check has a degree of freedom more.
        estimate({10, 20, 5, 7}, false);
        QVERIFY(cell("estimates", 1, 1).startsWith(QStringLiteral("held at")));
        QVERIFY(
            details().findChild<QLabel*>("fitCheck")->text().contains("on 2 degrees of freedom"));
    }
    void streetCountBelongsToItsBlock_data()
    {
        QTest::addColumn<QString>("count");
        QTest::addColumn<QList<int>>("next");  // a later estimate, with the details closed
        QTest::addColumn<QString>("shown");    // in the details
        QTest::addColumn<QString>("reported"); // in the report; empty: no street count there
        QTest::newRow("the same block again keeps it")
            << "30" << QList<int>{10, 20, 5, 7}
            << "About 36.9 dogs.\n95% limits for the uncertainty in P only: 32.3 to 47.1.\n95% "
               "limits with the street count's own variation too, as the city's totals have "
               "them: 30.1 to 49.3."
            << "Street count 30\n";
        QTest::newRow("another block clears it")
            << "30" << QList<int>{3, 2, 1, 0} << "Type the number of dogs"
            << "";
        QTest::newRow("no finite number of dogs")
            << "1.7E+308" << QList<int>{} << "The street count is too large: count / P"
            << "";
        // Beside so many dogs the count's own variation is nothing.
        QTest::newRow("a large number written to fit")
            << "1E+308" << QList<int>{}
            << "About 1.229E+308 dogs.\n95% limits for the uncertainty in P only: 1.077E+308 to "
               "1.57E+308.\n95% limits with the street count's own variation too, as the city's "
               "totals have them: 1.077E+308 to 1.57E+308."
            << "Street count 1E+308\n";
    }
    void streetCountBelongsToItsBlock()
    {
        QFETCH(QString, count);
        QFETCH(QList<int>, next);
        QFETCH(QString, shown);
        QFETCH(QString, reported);
        estimate({10, 20, 5, 7});
        typeStreetCount(count);
        for (const auto& [box, typed] : {std::pair{"blockName", "market"},
                                         {"place", "Pune"},
                                         {"countDate", "3 May"},
                                         {"observer", "Asha"}})
            kestrum::testing::typeInto(*details().findChild<QLineEdit*>(box), typed);
        if (!next.isEmpty()) {
            details().close();
            estimate(next);
            details();
        }
        // The block's name goes with its count; where, when and who stay for the next block.
        const bool cleared = shown.startsWith("Type");
        QCOMPARE(details().findChild<QLineEdit*>("blockName")->text().isEmpty(), cleared);
        QCOMPARE(details().findChild<QLineEdit*>("observer")->text(), QStringLiteral("Asha"));
        auto* population = details().findChild<QLabel*>("population");
        QVERIFY2(population->text().startsWith(shown), qPrintable(population->text()));
        QVERIFY2(!population->text().contains("Infinity"), qPrintable(population->text()));
        // Every word fits the line, so the dialog keeps its width.
        QVERIFY(population->minimumSizeHint().width() <= population->width());
        const QString report = form->copyResults();
        QVERIFY2(reported.isEmpty() ? !report.contains("Street count") : report.contains(reported),
                 qPrintable(report));
    }
    void reportOpensWithWhatAManagerReads_data()
    {
        QTest::addColumn<QList<int>>("counts");
        QTest::addColumn<bool>("sFree");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("sentence"); // the report's first, in every form taken away
        QTest::newRow("a named block with its count")
            << QList<int>{10, 20, 5, 7} << true << "market"
            << "30"
            << "About 37 dogs live in block market, between 30 and 49; on a count about 81% of "
               "them are seen (P, between 64% and 93%), and about 84% stay in the block from one "
               "count to the next (S, between 72% and 96%).";
        QTest::newRow("no street count, no name")
            << QList<int>{10, 20, 5, 7} << true << ""
            << ""
            << "On a count about 81% of the dogs in the block are seen (P, between 64% and 93%), "
               "and about 84% stay in the block from one count to the next (S, between 72% and "
               "96%).";
        QTest::newRow("S held") << QList<int>{10, 20, 5, 7} << false << "temple"
                                << ""
                                << "On a count about 76% of the dogs in block temple are seen (P, "
                                   "between 62% and 88%), and S was held at 90%.";
        QTest::newRow("an estimate on a bound")
            << QList<int>{3, 4, 5, 6} << true << "river"
            << "20"
            << "About 37 dogs live in block river, between 24 and 60; on a count about 53% of them "
               "are seen (P, between 37% and 75%), and about 99% stay in the block from one count "
               "to the next (S, between 77% and above 99%). Read the warnings before using these "
               "numbers.";
    }
    void reportOpensWithWhatAManagerReads()
    {
        QFETCH(QList<int>, counts);
        QFETCH(bool, sFree);
        QFETCH(QString, name);
        QFETCH(QString, count);
        QFETCH(QString, sentence);
        estimate(counts, sFree);
        typeStreetCount(count);
        for (const auto& [box, typed] : {std::pair{"blockName", name},
                                         {"place", "Pune, ward 4"},
                                         {"countDate", "3 to 5 May"},
                                         {"observer", "Asha"}})
            kestrum::testing::typeInto(*details().findChild<QLineEdit*>(box), typed);
        details().findChild<QPlainTextEdit*>("notes")->setPlainText("Market day on the 4th.");
        const QString html = workDir.filePath(QStringLiteral("block.html"));
        const QString pdf = workDir.filePath(QStringLiteral("block.pdf"));
        QCOMPARE(form->saveReport(html), QString());
        QCOMPARE(form->saveReport(pdf), QString());
        const auto flat = [](QString text) {
            return text.replace(QRegularExpression("\\s+"), " ").toHtmlEscaped();
        };
        const QString taken[] = {QString::fromUtf8(readFile(html)),
                                 flat(run(QStringLiteral("pdftotext"), {pdf, "-"})),
                                 form->copyResults().toHtmlEscaped()};
        for (const QString& text : taken) {
            for (const QString& expected :
                 {sentence.toHtmlEscaped(),
                  QStringLiteral("Place: Pune, ward 4; Date of the counts: 3 to 5 May; Observer: "
                                 "Asha."),
                  QStringLiteral("Notes: Market day on the 4th."),
                  name.isEmpty() ? QStringLiteral("Kestrum report")
                                 : QStringLiteral("Kestrum report: block ") + name,
                  QStringLiteral("P, the proportion seen: of the dogs in a block at the time of a "
                                 "count, the share that the counters see.")})
                QVERIFY2(text.contains(expected), qPrintable(expected + "\n" + text.left(3000)));
        }
        // One page, unless the warnings leave the plot no room on it.
        QCOMPARE(pages(pdf).size(), sentence.contains("warnings") ? 2 : 1);
    }
    void aFullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("command"); // an action, or Command1 for user.txt
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("room"); // bytes the disk takes
        QTest::addColumn<QString>("said");
        // The plots and the HTML report lie under 16 KiB, where QSaveFile's commit reported a
        // failed write as saved; the report as PDF above (20 KB, of which 20000 bytes fit).
        QTest::newRow("plot as PNG, disk full") << "actionSavePlot" << "plot.png" << 0
                                                << "The plot was not saved: File too large";
        QTest::newRow("plot as PNG, room for part") << "actionSavePlot" << "plot.png" << 1000
                                                    << "The plot was not saved: File too large";
        QTest::newRow("plot as PDF") << "actionSavePlot" << "plot.pdf" << 4000
                                     << "The plot was not saved: File too large";
        QTest::newRow("report as HTML") << "actionSaveReport" << "report.html" << 0
                                        << "The report was not saved: File too large";
        QTest::newRow("report as PDF") << "actionSaveReport" << "report.pdf" << 20000
                                       << "The report was not saved: File too large";
        QTest::newRow("report printed to a PDF file") << "actionPrint" << "printed.pdf" << 0
            << "The report was not printed: File too large";
        QTest::newRow("user.txt") << "Command1" << "user.txt" << 100
                                  << "user.txt could not be written: File too large";
    }
    void aFullDiskKeepsTheOldFile()
    {
        QFETCH(QString, command);
        QFETCH(QString, file);
        QFETCH(int, room);
        QFETCH(QString, said);
        estimate({10, 20, 5, 7});
        QTemporaryDir folder(workDir.filePath(QStringLiteral("disk-XXXXXX")));
        const QString path = command == "Command1" ? file : folder.filePath(file);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("the file there before\n") > 0);
        old.close();
        const auto run = [&] {
            if (command == "Command1") {
                const QString boxes = click(command);
                return boxes + messages();
            }
            ModalAnswer answer(path);
            get<QAction>(command).trigger();
            return answer.text();
        };
        {
            kestrum::testing::FullDisk full(static_cast<rlim_t>(room));
            const QString told = run();
            QVERIFY2(told.contains(said + ", and the file already there was left as it was"),
                     qPrintable(told));
        }
        QCOMPARE(readFile(path), QByteArray("the file there before\n"));
        const QDir where = QFileInfo(path).dir();
        QCOMPARE(where.entryList({file + "*"}, QDir::Files), QStringList{file});
        // With room, the same command replaces it (asking first where it asks for a name).
        const QString told = run();
        QVERIFY2(!told.contains(said.section(':', 0, 0)), qPrintable(told));
        QVERIFY(readFile(path).size() > 100);
    }
    void detailsLayOutCleanlyAndCopy()
    {
        // Every warning there is and no standard errors; then Wald limits beyond 1.
        for (const QList<int>& counts : {QList<int>{1, 0, 0, 0}, QList<int>{10, 9, 2, 2}}) {
            estimate(counts);
            QDialog& dialog = details();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            // Wrapped texts whole, tables with every column, and nothing over anything else.
            QList<QRect> taken;
            for (auto* part : dialog.findChildren<QWidget*>()) {
                const auto* label = qobject_cast<QLabel*>(part);
                const auto* table = qobject_cast<QTableWidget*>(part);
                if (!part->isVisible() || !(table || (label && label->wordWrap())))
                    continue;
                QVERIFY(!label || label->height() >= label->heightForWidth(label->width()));
                const QSize needs = table ? QSize(table->horizontalHeader()->length(),
                                                  table->verticalHeader()->length())
                                          : QSize();
                QVERIFY(!table || needs.boundedTo(table->viewport()->size()) == needs);
                const QRect at(part->mapTo(&dialog, QPoint(0, 0)), part->size());
                for (const QRect& other : taken)
                    QVERIFY2(!at.intersects(other), qPrintable(part->objectName()));
                taken << at;
            }
        }
        QCOMPARE(cell("estimates", 0, 3), QStringLiteral("0.6148 to 1.0542*"));
        QVERIFY(details().findChild<QLabel*>("estimateNotes")->text().contains("outside 0 to 1"));

        // Ctrl+C copies the whole table, or the cells selected, with the headings.
        auto* table = details().findChild<QTableWidget*>("estimates");
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        const QStringList rows = QApplication::clipboard()->text().split('\n');
        QVERIFY(rows.size() == 4 && rows[0].startsWith("parameter\testimate\tstandard error\t"));
        QVERIFY(rows[1].startsWith(QStringLiteral("P\t") + cell("estimates", 0, 1) + "\t"));
        table->setRangeSelected(QTableWidgetSelectionRange(1, 1, 1, 2), true);
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("estimate\tstandard error\n%1\t%2\n")
                     .arg(cell("estimates", 1, 1), cell("estimates", 1, 2)));
    }

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

QTEST_MAIN(Form1Test)
#include "Form1_test.moc"
