// The menu bar: saving the plot and a report, printing it, copying the results, the details of
// the last estimate, and About. It sits above the client area, so every control keeps its place.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrinter>

#include "DetailsDialog.h"
#include "Form1.h"
#include "InferenceText.h"
#include "NumberText.h"
#include "PlanDialog.h"
#include "Report.h"
#include "SurveyWindow.h"
#include "WholeFile.h"

namespace kestrum {

namespace {

// LICENSE, built into the program so that the licence shown is the one it is released under.
QString licenceText()
{
    QFile file(QStringLiteral(":/kestrum/LICENSE"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

Form1::~Form1() = default;

void Form1::showAbout()
{
    const QString licence = licenceText();
    const qsizetype copyright = licence.indexOf(QLatin1String("Copyright"));
    QMessageBox about(
        QMessageBox::NoIcon, QStringLiteral("About Kestrum"),
        QStringLiteral("Kestrum %1\n\nMaximum-likelihood estimates of the proportion "
                       "of free-roaming dogs seen on a count (P) and of the "
                       "proportion staying in the block between counts (S), from "
                       "three counts of a city block.\n\n%2\nReleased under the "
                       "MIT licence: free to use, copy, change and pass on, "
                       "without warranty. Its full text is under \"Show "
                       "Details\".")
            .arg(programVersion(),
                 licence.mid(copyright, licence.indexOf(QLatin1Char('\n'), copyright) - copyright)),
        QMessageBox::Ok, this);
    about.setObjectName(QStringLiteral("about"));
    about.setIconPixmap(windowIcon().pixmap(64));
    about.setDetailedText(licence);
    about.exec();
}

void Form1::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* openSurvey = file->addAction(QStringLiteral("Open survey..."), this, [this] {
        const QString path =
            askForOpenName(this, QStringLiteral("Open survey"),
                           QStringLiteral("Surveys (*.csv *.txt *.tsv);;All files (*)"));
        if (!path.isEmpty()) {
            this->openSurvey(path);
        }
    });
    openSurvey->setObjectName(QStringLiteral("actionOpenSurvey"));
    openSurvey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    file->addSeparator();
    QAction* savePlot = file->addAction(QStringLiteral("Save plot..."), this, [this] {
        saveAs(QStringLiteral("plot"), QStringLiteral("PNG image (*.png);;PDF document (*.pdf)"),
               &Form1::savePlot);
    });
    savePlot->setObjectName(QStringLiteral("actionSavePlot"));
    QAction* saveReport = file->addAction(QStringLiteral("Save report..."), this, [this] {
        saveAs(QStringLiteral("report"), QStringLiteral("HTML page (*.html);;PDF document (*.pdf)"),
               &Form1::saveReport);
    });
    saveReport->setObjectName(QStringLiteral("actionSaveReport"));
    saveReport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* print = file->addAction(QStringLiteral("Print..."), this, &Form1::printReport);
    print->setObjectName(QStringLiteral("actionPrint"));
    print->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("Exit"), this, &QWidget::close);
    exit->setObjectName(QStringLiteral("actionExit"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    QAction* copy = edit->addAction(QStringLiteral("Copy results"), this, &Form1::copyResults);
    copy->setObjectName(QStringLiteral("actionCopyResults"));

    QMenu* analysis = menuBar()->addMenu(QStringLiteral("&Analysis"));
    QAction* details = analysis->addAction(QStringLiteral("Details..."), this, &Form1::showDetails);
    details->setObjectName(QStringLiteral("actionDetails"));
    QAction* planSurvey = analysis->addAction(QStringLiteral("Plan a survey..."), this, [this] {
        // Made at the first use and kept, with what was typed, as a child of the window.
        auto* dialog = findChild<PlanDialog*>();
        if (dialog == nullptr) {
            dialog = std::make_unique<PlanDialog>(this).release();
        }
        dialog->show();
        dialog->raise();
    });
    planSurvey->setObjectName(QStringLiteral("actionPlanSurvey"));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("About Kestrum"), this, &Form1::showAbout);
    about->setObjectName(QStringLiteral("actionAbout"));
    about->setShortcut(QKeySequence(Qt::Key_F1));
}

std::optional<ReportContent> Form1::reportContent() const
{
    if (!lastAnalysis_) {
        return std::nullopt;
    }
    ReportContent content;
    content.block = *lastAnalysis_;
    content.rangePct = lastRangePct_;
    content.messages = lastMessages_;
    content.streetCount = details_ ? details_->streetCount() : std::nullopt;
    if (details_) {
        content.details = details_->blockDetails();
    }
    // A count refused in the details (no finite number of dogs) is not reported either.
    if (content.streetCount && !streetCountProblem(content.block, *content.streetCount).isEmpty()) {
        content.streetCount.reset();
    }
    content.plot = lastPlot_;
    content.plotSize = picLL.image().size();
    content.plotFont = picLL.font();
    content.when = lastWhen_;
    return content;
}

QString Form1::copyResults()
{
    const std::optional<ReportContent> content = reportContent();
    if (!content) {
        return {};
    }
    const QString text = resultsText(*content);
    QApplication::clipboard()->setText(text);
    return text;
}

void Form1::printReport()
{
    const std::optional<ReportContent> content = reportContent();
    if (!content) {
        QMessageBox::warning(this, QStringLiteral("Kestrum"),
                             QStringLiteral("There is nothing to print yet: press \"estimate\" "
                                            "first."));
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    if (!choosePrinter(printer, this)) {
        return;
    }
    // Printed to a file, the page is made in memory and written whole, as Save report does: a
    // full disk leaves the file that was there, and says so, rather than a cut-off PDF.
    QString problem;
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        problem = writeReportPdf(printer.outputFileName(), *content, printer.pageLayout());
    } else if (!paintReport(printer, *content)) {
        problem = QStringLiteral("the printer could not be reached");
    }
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Kestrum"),
                             QStringLiteral("The report was not printed: %1.").arg(problem));
    }
}

QString Form1::savePlot(const QString& path)
{
    const std::optional<ReportContent> content = reportContent();
    if (!content) {
        return QStringLiteral("there is no plot yet: press \"estimate\" first");
    }
    return writePlot(path, *content, picLL.image());
}

QString Form1::saveReport(const QString& path)
{
    const std::optional<ReportContent> content = reportContent();
    if (!content) {
        return QStringLiteral("there is nothing to report yet: press \"estimate\" first");
    }
    return writeReport(path, *content, picLL.image());
}

void Form1::saveAs(const QString& what, const QString& filters,
                   QString (Form1::*save)(const QString&))
{
    const QString path = askForSaveName(this, QStringLiteral("Save ") + what, filters);
    if (path.isEmpty()) {
        return;
    }
    if (const QString problem = (this->*save)(path); !problem.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Kestrum"),
                             QStringLiteral("The %1 was not saved: %2.").arg(what, problem));
    }
}

SurveyWindow* Form1::openSurvey(const QString& path)
{
    // Windows closed since are let go; one that shows this survey already is brought up.
    std::erase_if(surveys_, [](const auto& window) { return !window->isVisible(); });
    for (const auto& window : surveys_) {
        if (QFileInfo(window->settings().survey) == QFileInfo(path)) {
            window->raise();
            window->activateWindow();
            return window.get();
        }
    }
    SurveyWindow& window = *surveys_.emplace_back(std::make_unique<SurveyWindow>());
    connect(&window, &SurveyWindow::blockChosen, this, &Form1::estimateSurveyBlock);
    window.show();
    window.openSurvey(path);
    return &window;
}

void Form1::estimateSurveyBlock(const SurveyBlockChoice& choice)
{
    const std::array<std::int32_t, 4> counts{choice.counts.n100, choice.counts.n111,
                                             choice.counts.n101, choice.counts.n110};
    for (std::size_t k = 0; k < counts.size(); ++k) {
        txtHist[k + 1].setText(QString::number(counts[k]));
    }
    chkS.setChecked(!choice.sFixed);
    txtS.setText(text::plain(choice.sFixed.value_or(0.9)));
    txtP.setText(text::plain(0.9));
    Command1_Click();
    // The press may have been refused (no dog identified): then the block is not the one shown.
    if (!lastAnalysis_ || !(lastAnalysis_->analysis.problem.counts.n100 == choice.counts.n100 &&
                            lastAnalysis_->analysis.problem.counts.n111 == choice.counts.n111 &&
                            lastAnalysis_->analysis.problem.counts.n101 == choice.counts.n101 &&
                            lastAnalysis_->analysis.problem.counts.n110 == choice.counts.n110)) {
        return;
    }
    if (!details_) {
        details_ = std::make_unique<DetailsDialog>(this);
        details_->show(lastAnalysis_);
        details_->hide();
    }
    details_->setBlock(
        {choice.block, choice.survey.place, choice.survey.dates, choice.survey.team,
         QStringLiteral("From %1%2.")
             .arg(choice.source, choice.survey.name.isEmpty()
                                     ? QString()
                                     : QStringLiteral(" (%1)").arg(choice.survey.name))},
        choice.count);
    if (details_->isVisible()) {
        details_->show(lastAnalysis_);
    }
    activateWindow();
    raise();
}

void Form1::showDetails()
{
    if (!details_) {
        details_ = std::make_unique<DetailsDialog>(this);
    }
    details_->show(lastAnalysis_);
}

} // namespace kestrum
