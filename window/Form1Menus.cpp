// The menu bar: saving the plot and a report, printing it, copying the results, the details of
// the last estimate, and About. It sits above the client area, so every control keeps its place.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

#include "DetailsDialog.h"
#include "Form1.h"
#include "PlanDialog.h"
#include "Report.h"

namespace kestrum {

namespace {

// Qt's own dialog: the same on every desktop, and reachable from tests.
QString askForSaveName(QWidget* parent, const QString& title, const QString& filters)
{
    QFileDialog dialog(parent, title, QString(), filters);
    dialog.setObjectName(QStringLiteral("saveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDefaultSuffix(filters.startsWith(QLatin1String("PNG")) ? QStringLiteral("png")
                                                                     : QStringLiteral("html"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    QString path = dialog.selectedFiles().constFirst();
    // The filter chosen decides the kind when the name does not.
    if (QFileInfo(path).suffix().isEmpty()) {
        path += dialog.selectedNameFilter().contains(QLatin1String("*.pdf"))
                    ? QStringLiteral(".pdf")
                    : QStringLiteral(".") + dialog.defaultSuffix();
    }
    return path;
}

} // namespace

Form1::~Form1() = default;

void Form1::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
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
    QAction* about = help->addAction(QStringLiteral("About Kestrum"), this, [this] {
        QMessageBox::about(this, QStringLiteral("About Kestrum"),
                           QStringLiteral("Kestrum 1.00\n\nMaximum-likelihood estimates of the "
                                          "proportion of free-roaming dogs seen on a count (P) "
                                          "and of the proportion staying in the block between "
                                          "counts (S), from three counts of a city block."));
    });
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
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(15.0, 15.0, 15.0, 15.0), QPageLayout::Millimeter);
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("printDialog"));
    if (dialog.exec() == QDialog::Accepted) {
        paintReport(printer, *content);
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

void Form1::showDetails()
{
    if (!details_) {
        details_ = std::make_unique<DetailsDialog>(this);
    }
    details_->show(lastAnalysis_);
}

} // namespace kestrum
