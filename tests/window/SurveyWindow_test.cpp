// The survey window driven as a person drives it: opened from the main window with Ctrl+O, its
// frame found beside the survey, its table sorted by a click and a block taken to the main window
// by a double-click, a large survey cancelled and read again while the window answers; and what a
// person takes away: the export (against kestrum-estimate's own output), the city report (its
// pages as pdftotext and pdftoppm read them) and the description kept beside the survey.
#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

#include "DetailsDialog.h"
#include "ForestView.h"
#include "SurveyDescription.h"
#include "SurveyWindow.h"
#include "WindowDriver.h"

using kestrum::SurveyWindow;
using kestrum::testing::ModalAnswer;

namespace {

// The README's survey: two strata, a block holding S, one whose S lies on its bound, a row that
// cannot be read.
const QByteArray kSurvey = "block,stratum,n100,n111,n101,n110,s_fixed,count\n"
                           "market,centre,10,20,5,7,,30\n"
                           "station,centre,30,40,10,12,,45\n"
                           "temple,centre,12,8,6,9,0.8,25\n"
                           "river,edge,3,4,5,6,,20\n"
                           "farm,edge,20,25,8,10,,18\n"
                           "mill,edge,15,30,6,9,,22\n"
                           "school,edge,7,x,2,1,,\n";
const QByteArray kFrame = "stratum,blocks\ncentre,12\nedge,30\n";

// The field sheet itself: each dog seen, with its mark, in blocks of two strata.
const QByteArray kSightings = "block,dog,visit,marked,stratum,count\n"
                              "market,brownie,1,yes,centre,30\n"
                              "market,patch,1,no,,\n"
                              "market,tripod,1,no,,\n"
                              "market,brownie,2,,,\n"
                              "market,patch,2,,,\n"
                              "market,brownie,3,,,\n"
                              "market,tripod,3,,,\n"
                              "station,sandy,1,yes,centre,12\n"
                              "station,ears,1,yes,,\n"
                              "station,sandy,2,,,\n"
                              "station,ears,3,,,\n"
                              "river,spot,1,no,edge,20\n"
                              "river,lady,1,yes,,\n"
                              "river,spot,2,,,\n"
                              "river,lady,2,,,\n"
                              "river,spot,3,,,\n"
                              "farm,rex,1,yes,edge,9\n"
                              "farm,rex,3,,,\n"
                              "farm,bolt,1,no,,\n"
                              "farm,rex,4,,,\n";

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        qFatal("%s did not finish", qPrintable(program));
    return process.readAllStandardOutput();
}

// One page of a PDF as text, its lines' blanks made single.
QString pageText(const QString& pdf, int page)
{
    return QString::fromUtf8(
               run(QStringLiteral("pdftotext"),
                   {"-layout", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"}))
        .replace(QRegularExpression("\\s+"), " ");
}

int pageCount(const QString& pdf)
{
    const QString info = QString::fromUtf8(run(QStringLiteral("pdfinfo"), {pdf}));
    return QRegularExpression("Pages:\\s+(\\d+)").match(info).captured(1).toInt();
}

// A survey of many blocks in two strata, every 50th row unreadable.
QByteArray largeSurvey(int blocks)
{
    QByteArray csv = "block,stratum,n100,n111,n101,n110,s_fixed,count\n";
    for (int b = 0; b < blocks; ++b) {
        csv += "b" + QByteArray::number(b) + (b % 2 == 0 ? ",north," : ",south,") +
               (b % 50 == 7 ? QByteArray("x") : QByteArray::number(4 + b % 9)) + "," +
               QByteArray::number(3 + b % 13) + "," + QByteArray::number(b % 4) + "," +
               QByteArray::number(1 + b % 6) + ",," + QByteArray::number(12 + b % 19) + "\n";
    }
    return csv;
}

// The stratum blue of the forest's diamonds somewhere in the picture.
bool showsDiamonds(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == QColor(0, 0, 192))
                return true;
    return false;
}

} // namespace

class SurveyWindowTest : public QObject, kestrum::testing::Driver {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(workDir.isValid());
        QVERIFY(QDir::setCurrent(workDir.path()));
    }
    void init()
    {
        form = std::make_unique<kestrum::Form1>(QStringLiteral(KESTRUM_LIBRARY_PATH));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() { form.reset(); }

    void opensFromTheMainWindowWithItsFrame()
    {
        const QString survey = folderWith(kSurvey, "survey.frame.csv");
        {
            ModalAnswer answer(survey);
            QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
        }
        SurveyWindow& window = shown(survey);
        QVERIFY(window.windowTitle().startsWith("Kestrum survey") &&
                window.windowTitle().contains("survey.csv"));
        for (const QWidget* each :
             {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(&window)})
            QVERIFY(!each->windowIcon().pixmap(48).isNull());
        QCOMPARE(window.findChild<QLabel*>("citySentence")->text(),
                 QStringLiteral("About 1269 dogs live in the city's 42 blocks, between 1096 and "
                                "1517 (95% limits), from the street counts of 6 blocks."));

        // Every row, the unreadable one with its reason; the strata and the city.
        const QAbstractItemModel& rows = *window.findChild<QTableView*>("blocks")->model();
        QCOMPARE(rows.rowCount(), 7);
        QCOMPARE(rows.index(0, 1).data().toString() + rows.index(0, 10).data().toString() + " " +
                     rows.index(0, 11).data().toString() + " " +
                     rows.index(0, 13).data().toString(),
                 QStringLiteral("market36.9 32.3 0.818"));
        QCOMPARE(rows.index(6, 15).data().toString(),
                 QStringLiteral("Not read: n111 is not a number: \"x\"."));
        QVERIFY(rows.index(3, 15).data().toString().contains("upper bound 0.99"));
        const QTableWidget& strata = *window.findChild<QTableWidget*>("strata");
        QCOMPARE(strata.rowCount(), 3);
        QCOMPARE(strata.item(0, 4)->text() + " " + strata.item(0, 5)->text() + " " +
                     strata.item(2, 2)->text(),
                 QStringLiteral("489 355 to 681 7"));
        QVERIFY(window.findChild<QWidget*>("surveyStatus")
                    ->property("text")
                    .toString()
                    .contains("7 rows, 6 fitted, 1 not read; frame survey.frame.csv"));

        // The forest: blocks under their strata, each stratum's dogs per block beneath, the city
        // last; drawn in the window.
        QStringList labels;
        for (const kestrum::ForestRow& row : window.findChild<kestrum::ForestView*>()->plot().rows)
            labels << QString::fromStdString(row.label);
        QCOMPARE(labels, (QStringList{"centre", "market", "station", "temple",
                                      "centre: dogs per block", "edge", "river", "farm", "mill",
                                      "edge: dogs per block", "city: dogs per block"}));
        QVERIFY(showsDiamonds(window.findChild<kestrum::ForestView*>()->grab().toImage()));
    }

    void exportIsWhatTheSurveyToolWrites_data()
    {
        QTest::addColumn<QString>("frameName"); // beside the survey; empty: none
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("pBy"); // the menu's choice, and --p-by
        QTest::addColumn<bool>("frameUsed");
        QTest::newRow("NAME.frame.csv, P by stratum")
            << "survey.frame.csv" << kFrame << "Stratum" << true;
        QTest::newRow("frame.csv, P by survey") << "frame.csv" << kFrame << "Survey" << true;
        QTest::newRow("P by block") << "survey.frame.csv" << kFrame << "Block" << true;
        QTest::newRow("no frame") << "" << QByteArray() << "Stratum" << false;
        QTest::newRow("a frame without a stratum of the survey")
            << "frame.csv" << QByteArray("stratum,blocks\ncentre,12\n") << "Stratum" << false;
    }
    void exportIsWhatTheSurveyToolWrites()
    {
        QFETCH(QString, frameName);
        QFETCH(QByteArray, frame);
        QFETCH(QString, pBy);
        QFETCH(bool, frameUsed);
        const QString survey = folderWith(kSurvey, frameName, frame);
        SurveyWindow& window = *form->openSurvey(survey);
        waitFor(window);
        window.findChild<QAction*>("actionPBy" + pBy)->trigger();
        waitFor(window);
        const QString exported = QFileInfo(survey).dir().filePath("exported.csv");
        {
            ModalAnswer answer(exported);
            window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
            QCOMPARE(answer.text(), QString());
        }
        QStringList arguments;
        if (frameUsed)
            arguments << "--frame" << QFileInfo(survey).dir().filePath(frameName) << "--p-by"
                      << pBy.toLower();
        const QByteArray expected = run(QStringLiteral(KESTRUM_ESTIMATE_PATH), arguments << survey);
        QVERIFY(expected.size() > 1000);
        QCOMPARE(readFile(exported), expected);
        // A frame that does not fit is left out, and said why.
        const QString notes =
            window.findChild<QWidget*>("surveyNotes")->property("plainText").toString();
        QVERIFY2(notes.contains("The sampling frame was not used: survey.csv: line 5: stratum "
                                "\"edge\" is not in the frame frame.csv") ==
                     (!frameUsed && !frameName.isEmpty()),
                 qPrintable(notes));
    }

    void opensASheetOfSightingsWithItsCoverage()
    {
        const QString sheet = folderWith(kSightings, "survey.frame.csv");
        SurveyWindow& window = *form->openSurvey(sheet);
        waitFor(window);
        // Blocks tallied from their dogs, the row that is not a sighting said why; coverage
        // columns, and the coverage beside the dogs.
        const auto& model = *window.findChild<QTableView*>("blocks")->model();
        QStringList headers;
        for (int c = 0; c < model.columnCount(); ++c)
            headers << model.headerData(c, Qt::Horizontal).toString();
        QVERIFY(headers.contains("coverage") && headers.contains("marked"));
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.index(0, 1).data().toString() + model.index(0, 3).data().toString() +
                     model.index(0, 4).data().toString() + model.index(0, 5).data().toString() +
                     model.index(0, 6).data().toString(),
                 QStringLiteral(
                     "market0111")); // brownie on all three, patch and tripod on one more each
        QVERIFY(model.index(4, int(headers.indexOf("warnings")))
                    .data()
                    .toString()
                    .startsWith("Not read"));
        QVERIFY2(window.findChild<QLabel*>("citySentence")
                     ->text()
                     .contains("of the city's dogs carry the mark"),
                 qPrintable(window.findChild<QLabel*>("citySentence")->text()));

        // Another target, through the window's form: the rows are those of --coverage-target.
        QTimer::singleShot(0, [&window] {
            auto* dialog = window.findChild<QInputDialog*>("coverageTarget");
            dialog->setDoubleValue(85.0);
            dialog->accept();
        });
        window.findChild<QAction*>("actionCoverageTarget")->trigger();
        waitFor(window);
        const QString exported = QFileInfo(sheet).dir().filePath("exported.csv");
        QCOMPARE(window.exportResults(exported), QString());
        QCOMPARE(readFile(exported),
                 run(QStringLiteral(KESTRUM_ESTIMATE_PATH),
                     {"--frame", QFileInfo(sheet).dir().filePath("survey.frame.csv"),
                      "--coverage-target", "0.85", sheet}));
        const QString report = QFileInfo(sheet).dir().filePath("report.pdf");
        QCOMPARE(window.saveReport(report), QString());
        const QString first = pageText(report, 1);
        QVERIFY2(first.contains("Vaccination coverage") && first.contains("85%") &&
                     first.contains("dogs still to vaccinate"),
                 qPrintable(first));
    }

    void sortsAndTakesABlockToTheMainWindow()
    {
        SurveyWindow& window = *form->openSurvey(folderWith(kSurvey, "survey.frame.csv"));
        waitFor(window);
        auto& table = *window.findChild<QTableView*>("blocks");
        const auto column = [&table](int c) {
            QStringList texts;
            for (int r = 0; r < table.model()->rowCount(); ++r)
                texts << table.model()->index(r, c).data().toString();
            return texts;
        };
        // By N, up and down: the row without an N stays last either way.
        const int N = 10;
        const auto header = table.horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(N) + 5, 5));
        QCOMPARE(column(1),
                 (QStringList{"farm", "mill", "market", "river", "temple", "station", "school"}));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(N) + 5, 5));
        QCOMPARE(column(1),
                 (QStringList{"station", "temple", "river", "market", "mill", "farm", "school"}));

        // A double-click on temple (S held at 0.8) estimates it in the main window.
        const auto doubleClick = [&table](int row) {
            const QPoint at = table.visualRect(table.model()->index(row, 1)).center();
            QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, at);
        };
        doubleClick(1);
        QCOMPARE(box("txtHist1").text() + box("txtHist2").text() + box("txtHist3").text() +
                     box("txtHist4").text(),
                 QStringLiteral("12869"));
        QVERIFY(!get<QCheckBox>("chkS").isChecked());
        QCOMPARE(box("txtS").text(), QStringLiteral("0.8"));
        QCOMPARE(get<QLabel>("Label9").text(), QStringLiteral("maximum log likelihood = -47.521"));
        get<QAction>("actionDetails").trigger();
        auto& details = get<QDialog>("details");
        QCOMPARE(details.findChild<QLineEdit*>("blockName")->text(), QStringLiteral("temple"));
        QCOMPARE(details.findChild<QLineEdit*>("streetCount")->text(), QStringLiteral("25"));
        QVERIFY(details.findChild<QPlainTextEdit*>("notes")->toPlainText().contains(
            "survey.csv, line 4"));
        QVERIFY(form->copyResults().contains("About 41 dogs live in block temple"));

        // The row that was not read stays where it was, said why.
        doubleClick(6);
        QCOMPARE(box("txtHist1").text(), QStringLiteral("12"));
        QVERIFY(window.findChild<QLabel*>("surveyStatus")->text().contains("line 8 was not read"));
    }

    void blocksTheMainWindowCannotTakeAreSaidSo_data()
    {
        QTest::addColumn<QByteArray>("row");
        QTest::addColumn<QString>("said");
        QTest::newRow("no dog identified")
            << QByteArray("empty,0,0,0,0,,") << "no dog was identified";
        QTest::newRow("S held at 1") << QByteArray("closed,5,10,2,3,1,") << "holds S at 1";
        QTest::newRow("not read") << QByteArray("broken,5,x,2,3,,") << "was not read";
    }
    void blocksTheMainWindowCannotTakeAreSaidSo()
    {
        QFETCH(QByteArray, row);
        QFETCH(QString, said);
        SurveyWindow& window = *form->openSurvey(
            folderWith("block,n100,n111,n101,n110,s_fixed,count\n" + row + "\n", ""));
        waitFor(window);
        box("txtHist1").setText("10");
        window.chooseRow(0);
        QVERIFY2(window.findChild<QLabel*>("surveyStatus")->text().contains(said),
                 qPrintable(window.findChild<QLabel*>("surveyStatus")->text()));
        QCOMPARE(box("txtHist1").text(), QStringLiteral("10"));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void aLargeSurveyOpensWhileTheWindowAnswersAndCancels()
    {
        constexpr int kBlocks = 100000;
        const QString survey = folderWith(largeSurvey(kBlocks), "survey.frame.csv",
                                          "stratum,blocks\nnorth,200000\nsouth,200000\n");
        SurveyWindow& window = *form->openSurvey(survey);
        auto& progress = *window.findChild<QProgressBar*>("surveyProgress");
        // The bar moves: the window's own thread handles events while the run goes on.
        QTRY_VERIFY_WITH_TIMEOUT(progress.value() > 0 || !window.busy(), 20000);
        QVERIFY2(window.busy(), "still reading when the bar first moved");
        QTest::mouseClick(window.findChild<QPushButton*>("surveyCancel"), Qt::LeftButton);
        QTRY_VERIFY(!window.busy());
        QVERIFY(window.survey() == nullptr);
        QVERIFY(window.findChild<QLabel*>("surveyStatus")->text().startsWith("Cancelled"));
        QVERIFY(!window.findChild<QAction*>("actionExport")->isEnabled());

        window.findChild<QAction*>("actionReload")->trigger();
        waitFor(window);
        QCOMPARE(window.survey()->results.rows().size(), std::size_t{kBlocks});
        auto& table = *window.findChild<QTableView*>("blocks");
        table.scrollToBottom();
        QCOMPARE(table.rowAt(table.viewport()->height() - 2) > kBlocks - 100, true);
        auto& forest = *window.findChild<kestrum::ForestView*>();
        forest.verticalScrollBar()->setValue(forest.verticalScrollBar()->maximum());
        QCOMPARE(forest.firstRow() + forest.rowsShown(), forest.plot().rows.size());
        QVERIFY(window.findChild<QAction*>("actionExport")->isEnabled());
    }

    void theReportIsForAProgrammeManager()
    {
        const QString survey = folderWith(kSurvey, "survey.frame.csv");
        SurveyWindow& window = *form->openSurvey(survey);
        waitFor(window);
        // The description, typed in the survey window's form and kept beside the survey.
        QTimer::singleShot(0, [&window] {
            auto* dialog = window.findChild<kestrum::DescriptionDialog*>("description");
            for (const auto& [box, text] :
                 {std::pair{"surveyName", "Dog survey of Pune, spring 2026"},
                  {"surveyPlace", "Pune, wards 3 and 4"},
                  {"surveyDates", "12 to 14 March 2026"},
                  {"surveyTeam", "Asha Rao, Vikram Shah"}})
                kestrum::testing::typeInto(*dialog->findChild<QLineEdit*>(box), text);
            dialog->accept();
        });
        window.findChild<QAction*>("actionDescription")->trigger();
        const QJsonObject kept =
            QJsonDocument::fromJson(readFile(kestrum::descriptionFile(survey))).object();
        QCOMPARE(kept.value("team").toString(), QStringLiteral("Asha Rao, Vikram Shah"));
        window.close();
        SurveyWindow& again = *form->openSurvey(survey);
        waitFor(again);
        QCOMPARE(again.description().place, QStringLiteral("Pune, wards 3 and 4"));

        const QString pdf = QFileInfo(survey).dir().filePath("report.pdf");
        const QString printed = QFileInfo(survey).dir().filePath("printed.pdf");
        const QString html = QFileInfo(survey).dir().filePath("report.html");
        for (const auto& [keys, path] : {std::pair{Qt::Key_S, pdf}, {Qt::Key_P, printed}}) {
            again.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&again));
            ModalAnswer answer(path);
            QTest::keyClick(&again, keys, Qt::ControlModifier);
            QCOMPARE(answer.text(), QString());
        }
        QCOMPARE(again.saveReport(html), QString());

        // The first page: what the survey is, the city in a sentence, what P and S mean, the
        // strata, the forest, the method and every warning; then the blocks.
        QCOMPARE(pageCount(pdf), 2);
        QCOMPARE(pageCount(printed), 2);
        const QString first = pageText(pdf, 1);
        for (const QString& expected :
             {QStringLiteral("Dog survey of Pune, spring 2026"),
              QStringLiteral("Place: Pune, wards 3 and 4 Dates: 12 to 14 March 2026 Team: Asha "
                             "Rao, Vikram Shah"),
              QStringLiteral("Report made ") + QDate::currentDate().toString(Qt::ISODate),
              QStringLiteral("by Kestrum " KESTRUM_VERSION " from survey.csv, with the frame "
                             "survey.frame.csv, P for the totals by stratum."),
              QStringLiteral("About 1269 dogs live in the city's 42 blocks, between 1096 and 1517 "
                             "(95% limits)"),
              QStringLiteral("P, the proportion seen: "),
              QStringLiteral("S, the proportion staying: "),
              QStringLiteral("centre 12 3 3 489 355 to 681 40.7 0.818 0.722 to 0.892 stratum"),
              QStringLiteral("city: dogs per block 30.2 (26.1 to 36.1)"),
              QStringLiteral(
                  "They assume that the blocks were chosen at random within each stratum"),
              QStringLiteral("Line 8 (school) was not read: n111 is not a number"),
              QStringLiteral("1 block has warnings of its own")})
            QVERIFY2(first.contains(expected), qPrintable(expected + "\n" + first));
        const QString second = pageText(pdf, 2);
        QVERIFY2(second.contains("block stratum 1,0,0 1,1,1 1,0,1 1,1,0 S P count N (95% limits) "
                                 "warnings market centre 10 20 5 7 0.837 0.814 30 36.9 (32.3 to "
                                 "47.1)"),
                 qPrintable(second));
        QVERIFY(showsDiamonds(pages(pdf).value(0)));

        // The HTML page holds the same, the plot as drawing.
        const QString page = QString::fromUtf8(readFile(html));
        for (const QString& expected :
             {QStringLiteral("<svg"), QStringLiteral("Dog survey of Pune, spring 2026"),
              QStringLiteral("About 1269 dogs live in the city"), QStringLiteral("<thead>"),
              QStringLiteral("Not read: n111 is not a number")})
            QVERIFY2(page.contains(expected), qPrintable(expected));
    }

    void longTablesRunOverPagesWithTheirHeader()
    {
        const QString survey = folderWith(largeSurvey(300), "survey.frame.csv",
                                          "stratum,blocks\nnorth,2000\nsouth,2000\n");
        SurveyWindow& window = *form->openSurvey(survey);
        waitFor(window);
        const QString pdf = QFileInfo(survey).dir().filePath("report.pdf");
        QCOMPARE(window.saveReport(pdf), QString());
        const int pages = pageCount(pdf);
        QVERIFY2(pages >= 8, qPrintable(QString::number(pages)));
        // The forest runs on from the first page with its header; the table starts on a page of
        // its own, its header on each of its pages, and the last block on the last.
        int tablePages = 0;
        QMap<QString, int> firstOn; // the page each of these is first seen on
        for (int page = 1; page <= pages; ++page) {
            const QString text = pageText(pdf, page);
            QVERIFY2(text.contains(QStringLiteral(", page %1").arg(page)), qPrintable(text));
            if (text.contains("N (95% limits)")) {
                ++tablePages;
                QVERIFY2(text.contains("block stratum 1,0,0"), qPrintable(text));
            } else {
                QVERIFY2(text.contains("dogs (95% limits)"), qPrintable(text));
            }
            for (const char* seen : {"Strata and the city", "north: dogs per block",
                                     "city: dogs per block", "Warnings", "N (95% limits)"})
                if (!firstOn.contains(seen) && text.contains(seen))
                    firstOn[seen] = page;
        }
        QVERIFY(tablePages >= 4);
        QVERIFY(pageText(pdf, pages).contains("b299 south"));
        QCOMPARE(firstOn.value("Strata and the city"), 1);
        QVERIFY(firstOn.value("north: dogs per block") > 1);
        QVERIFY(firstOn.value("city: dogs per block") > firstOn.value("north: dogs per block"));
        QCOMPARE(firstOn.value("N (95% limits)"), firstOn.value("Warnings") + 1);
    }

    void aFullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("room");
        QTest::newRow("export") << "exported.csv" << 1000;
        QTest::newRow("report as PDF") << "report.pdf" << 10000;
        QTest::newRow("report as HTML") << "report.html" << 4000;
        QTest::newRow("description") << "survey.description.json" << 10;
    }
    void aFullDiskKeepsTheOldFile()
    {
        QFETCH(QString, file);
        QFETCH(int, room);
        const QString survey = folderWith(kSurvey, "survey.frame.csv");
        SurveyWindow& window = *form->openSurvey(survey);
        waitFor(window);
        const QString path = QFileInfo(survey).dir().filePath(file);
        writeFile(path, "the file there before\n");
        QString told;
        {
            kestrum::testing::FullDisk full(static_cast<rlim_t>(room));
            told = file.startsWith("exported") ? window.exportResults(path)
                   : file.startsWith("report") ? window.saveReport(path)
                                               : window.setDescription({"name", "", "", ""});
        }
        QVERIFY2(told.contains("File too large, and the file already there was left as it was"),
                 qPrintable(told));
        QCOMPARE(readFile(path), QByteArray("the file there before\n"));
        QCOMPARE(QFileInfo(path).dir().entryList({file + "*"}, QDir::Files), QStringList{file});
    }

private:
    // A folder of its own holding the survey and, under the name given, a frame.
    QString folderWith(const QByteArray& survey, const QString& frameName,
                       const QByteArray& frame = kFrame)
    {
        const QString folder = workDir.filePath(QString::number(++folders));
        QDir().mkpath(folder);
        writeFile(folder + "/survey.csv", survey);
        if (!frameName.isEmpty())
            writeFile(folder + "/" + frameName, frame);
        return folder + "/survey.csv";
    }
    SurveyWindow& shown(const QString& survey)
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<SurveyWindow*>(widget);
                window && window->isVisible() && window->settings().survey == survey) {
                waitFor(*window);
                return *window;
            }
        qFatal("no survey window for %s", qPrintable(survey));
    }
    void waitFor(SurveyWindow& window)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!window.busy(), 60000);
        QVERIFY(window.survey() != nullptr);
    }
    QList<QImage> pages(const QString& pdf)
    {
        run(QStringLiteral("pdftoppm"), {"-r", "60", "-png", pdf, pdf});
        QList<QImage> images;
        const QFileInfo file(pdf);
        for (const QFileInfo& page :
             QDir(file.path()).entryInfoList({file.fileName() + "-*.png"}, QDir::Files, QDir::Name))
            images << QImage(page.filePath()).convertToFormat(QImage::Format_RGB32);
        return images;
    }

    QTemporaryDir workDir;
    int folders = 0;
};

QTEST_MAIN(SurveyWindowTest)
#include "SurveyWindow_test.moc"
