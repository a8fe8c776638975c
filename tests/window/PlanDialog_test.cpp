// Analysis > Plan a survey... driven as a person drives it: strata typed into the table cell by
// cell or loaded from a plan file, the goal typed, "Plan" clicked, the results, the curve and the
// files saved checked against the survey planner they show.
#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include "PlanDialog.h"
#include "PlanOutput.h"
#include "WindowDriver.h"

using kestrum::Form1;
using kestrum::PlanDialog;
using kestrum::testing::ModalAnswer;
using kestrum::testing::typeInto;

namespace {

const QList<QStringList> kStrata = {{"centre", "40", "25", "0.4", "0.6", "0.8"},
                                    {"town", "120", "15", "0.5", "0.5", "0.85"},
                                    {"edge", "300", "8", "0.5", "0.45", "0.9"}};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool hasColour(const QImage& image, QColor colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour)
                return true;
    return false;
}

} // namespace

class PlanDialogTest : public QObject, kestrum::testing::Driver {
    Q_OBJECT

private slots:
    void init()
    {
        form = std::make_unique<Form1>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        get<QAction>("actionPlanSurvey").trigger();
        dialog = form->findChild<PlanDialog*>();
        QVERIFY(dialog != nullptr && dialog->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
    }
    void cleanup() { form.reset(); }

    void plansWhatIsTyped_data()
    {
        QTest::addColumn<bool>("byTarget");
        QTest::addColumn<QString>("goal");
        QTest::addColumn<QString>("perDay");
        QTest::addColumn<QString>("blocks");
        QTest::addColumn<QString>("teamDays");
        QTest::newRow("target 20%") << true << "20"
                                    << "1"
                                    << "80"
                                    << "240";
        QTest::newRow("30 blocks, two a morning") << false << "30"
                                                  << "2"
                                                  << "30"
                                                  << "45";
    }
    void plansWhatIsTyped()
    {
        QFETCH(bool, byTarget);
        QFETCH(QString, goal);
        QFETCH(QString, perDay);
        QFETCH(QString, blocks);
        QFETCH(QString, teamDays);
        typeStrata(kStrata);
        typeInto(*dialog->findChild<QLineEdit*>(byTarget ? "target" : "budget"), goal);
        typeInto(*dialog->findChild<QLineEdit*>("blocksPerDay"), perDay);
        QCOMPARE(dialogGet<QRadioButton>(byTarget ? "byTarget" : "byBudget").isChecked(), true);
        QTest::mouseClick(&dialogGet<QPushButton>("plan"), Qt::LeftButton);

        QVERIFY2(dialog->lastPlan(), qPrintable(message()));
        const kestrum::survey::SurveyPlan& plan = *dialog->lastPlan();
        const QTableWidget& results = dialogGet<QTableWidget>("planResults");
        QCOMPARE(results.rowCount(), 4);
        QCOMPARE(results.item(3, 0)->text(), QStringLiteral("City"));
        QCOMPARE(results.item(3, 2)->text(), blocks);
        QCOMPARE(results.item(3, 9)->text(), teamDays);
        QCOMPARE(results.item(3, 5)->text(), QStringLiteral("5200"));
        for (int h = 0; h < 3; ++h) {
            QCOMPARE(results.item(h, 0)->text(), kStrata[h][0]);
            QCOMPARE(results.item(h, 2)->text(), QString::number(plan.forecast[h].blocks));
        }
        QVERIFY2(message().startsWith("Count " + blocks + " blocks in " + teamDays + " team-days"),
                 qPrintable(message()));
        // The curve in blue, the target's line in red only with a target.
        const QImage curve = dialogGet<kestrum::PictureBox>("planCurve").image();
        QVERIFY(hasColour(curve, QColor(0, 0, 192)));
        QCOMPARE(hasColour(curve, QColor(255, 0, 0)), byTarget);
    }

    void refusalsSayWhatIsWrong_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("budget");
        QTest::addColumn<QString>("says");
        QTest::newRow("P of 1") << 4 << "1"
                                << ""
                                << "Not planned: stratum \"centre\": P is 1";
        QTest::newRow("P not a number") << 4 << "x"
                                        << ""
                                        << "Row 1 (centre): P is not a number.";
        QTest::newRow("no blocks") << 1 << "0"
                                   << ""
                                   << "stratum \"centre\": holds no blocks";
        QTest::newRow("no dogs") << 2 << "0"
                                 << ""
                                 << "dogs_per_block is 0";
        QTest::newRow("no name") << 0 << ""
                                 << ""
                                 << "Row 1: the stratum needs a name.";
        QTest::newRow("budget too small") << 1 << "40"
                                          << "5"
                                          << "a budget of 5 blocks is below";
        QTest::newRow("target beyond reach")
            << 1 << "40"
            << ""
            << "cannot be reached: counting every block (460 blocks";
    }
    void refusalsSayWhatIsWrong()
    {
        QFETCH(int, column);
        QFETCH(QString, cell);
        QFETCH(QString, budget);
        QFETCH(QString, says);
        typeStrata(kStrata);
        QTest::mouseClick(&dialogGet<QPushButton>("plan"), Qt::LeftButton);
        QVERIFY(dialog->lastPlan());
        typeCell(0, column, cell);
        typeInto(*dialog->findChild<QLineEdit*>(budget.isEmpty() ? "target" : "budget"),
                 budget.isEmpty() ? "1" : budget);
        QTest::mouseClick(&dialogGet<QPushButton>("plan"), Qt::LeftButton);
        QVERIFY2(message().contains(says), qPrintable(message()));
        // Nothing of the last plan stays to be mistaken for this one's.
        QVERIFY(!dialog->lastPlan());
        QCOMPARE(dialogGet<QTableWidget>("planResults").rowCount(), 0);
        QVERIFY(!dialogGet<QPushButton>("saveCurve").isEnabled());
    }

    void loadsAndSavesWhole()
    {
        const QString plan = dir.filePath("plan.csv");
        QFile file(plan);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("stratum;blocks;dogs_per_block;dogs_cv;P;S\nhill;60;12;0,4;0,5;0,9\n"
                   "valley;90;20;0,3;0,6;0,8\n");
        file.close();
        {
            ModalAnswer answer(plan);
            QTest::mouseClick(&dialogGet<QPushButton>("loadPlan"), Qt::LeftButton);
            QCOMPARE(answer.text(), QString());
        }
        const QTableWidget& strata = dialogGet<QTableWidget>("strata");
        QCOMPARE(strata.rowCount(), 2);
        QCOMPARE(strata.item(1, 0)->text() + strata.item(1, 3)->text(),
                 QStringLiteral("valley0.3"));
        QTest::mouseClick(&dialogGet<QPushButton>("plan"), Qt::LeftButton);
        QVERIFY2(dialog->lastPlan(), qPrintable(message()));

        // The plan as the program writes it; the curve as shown, pixel for pixel, and as a PDF.
        const QString csv = dir.filePath("saved.csv");
        const QString png = dir.filePath("curve.png");
        for (const QString& path : {csv, png}) {
            ModalAnswer answer(path);
            QTest::mouseClick(&dialogGet<QPushButton>(path == csv ? "savePlan" : "saveCurve"),
                              Qt::LeftButton);
            QCOMPARE(answer.text(), QString());
        }
        QCOMPARE(readFile(csv).toStdString(),
                 kestrum::survey::planRows(*dialog->lastPlan(), nullptr,
                                           kestrum::survey::Format::Csv, -1));
        QCOMPARE(QImage(png).convertToFormat(QImage::Format_RGB32),
                 dialogGet<kestrum::PictureBox>("planCurve").image());
        QCOMPARE(dialog->saveCurve(dir.filePath("curve.pdf")), QString());
        QVERIFY(readFile(dir.filePath("curve.pdf")).startsWith("%PDF-"));

        // A file that cannot be written leaves a message and no file; a bad plan file names its
        // line and keeps the strata typed.
        QVERIFY(!dialog->savePlan(dir.filePath("no/such/plan.csv")).isEmpty());
        file.open(QIODevice::WriteOnly);
        file.write("stratum,blocks,dogs_per_block,dogs_cv,P,S\nhill,60,12,0.4,1.5,0.9\n");
        file.close();
        QCOMPARE(dialog->loadPlan(plan), QStringLiteral("plan.csv:2: stratum \"hill\": P is 1.5: "
                                                        "it must lie strictly between 0 and 1"));
        QCOMPARE(strata.rowCount(), 2);
    }

private:
    template <class T> T& dialogGet(const char* name)
    {
        auto* found = dialog->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr)
            qFatal("no control %s", name);
        return *found;
    }
    QString message() { return dialogGet<QLabel>("planMessage").text(); }

    // As a person types into a cell: F2 opens its editor, the text replaces what was there, Enter
    // puts it in the cell.
    void typeCell(int row, int column, const QString& text)
    {
        auto& table = dialogGet<QTableWidget>("strata");
        table.setFocus();
        table.setCurrentCell(row, column);
        QTest::keyClick(&table, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor != nullptr);
        typeInto(*editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The delegate puts the text in the cell once the event loop runs.
        QTRY_COMPARE(table.item(row, column)->text(), text);
    }
    void typeStrata(const QList<QStringList>& rows)
    {
        auto& table = dialogGet<QTableWidget>("strata");
        while (table.rowCount() < rows.size())
            QTest::mouseClick(&dialogGet<QPushButton>("addStratum"), Qt::LeftButton);
        for (int row = 0; row < rows.size(); ++row)
            for (int column = 0; column < rows[row].size(); ++column)
                typeCell(row, column, rows[row][column]);
    }

    PlanDialog* dialog = nullptr;
    QTemporaryDir dir;
};

QTEST_MAIN(PlanDialogTest)
#include "PlanDialog_test.moc"
