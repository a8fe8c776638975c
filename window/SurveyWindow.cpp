#include "SurveyWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrinter>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "InferenceText.h"
#include "NumberText.h"
#include "Report.h"
#include "SurveyText.h"
#include "WholeFile.h"
#include "WindowIcon.h"

namespace kestrum {

namespace {

// A layout or widget handed to the parent named in its arguments, which owns it from then on.
template <class T, class... Args> T* child(Args&&... args)
{
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}

QString fromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

} // namespace

SurveyWindow::SurveyWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("surveyWindow"));
    setWindowTitle(QStringLiteral("Kestrum survey"));
    setWindowIcon(kestrumIcon());
    layOut();
    buildMenus();
    setBusy(false);
    resize(1200, 760);
}

SurveyWindow::~SurveyWindow() = default;

void SurveyWindow::layOut()
{
    summary_.setObjectName(QStringLiteral("citySentence"));
    summary_.setWordWrap(true);
    summary_.setTextFormat(Qt::PlainText);
    summary_.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont larger = summary_.font();
    larger.setPointSizeF(larger.pointSizeF() * 1.15);
    larger.setBold(true);
    summary_.setFont(larger);

    blocks_.setObjectName(QStringLiteral("blocks"));
    blocks_.setModel(&model_);
    blocks_.setSelectionBehavior(QAbstractItemView::SelectRows);
    blocks_.setEditTriggers(QAbstractItemView::NoEditTriggers);
    blocks_.setWordWrap(false);
    blocks_.setAlternatingRowColors(true);
    // Rows of one height, never measured one by one: a survey of any size scrolls at once.
    blocks_.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    blocks_.verticalHeader()->setDefaultSectionSize(blocks_.fontMetrics().height() + 6);
    blocks_.verticalHeader()->setVisible(false);
    blocks_.horizontalHeader()->setStretchLastSection(true);
    blocks_.horizontalHeader()->setSortIndicator(static_cast<int>(BlockColumn::Line),
                                                 Qt::AscendingOrder);
    blocks_.setSortingEnabled(true);
    connect(&blocks_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { chooseRow(index.row()); });

    strata_.setObjectName(QStringLiteral("strata"));
    strata_.setEditTriggers(QAbstractItemView::NoEditTriggers);
    strata_.verticalHeader()->setVisible(false);
    strata_.horizontalHeader()->setStretchLastSection(true);
    notes_.setObjectName(QStringLiteral("surveyNotes"));
    notes_.setOpenLinks(false);
    auto* panel = child<QVBoxLayout>(&strataPanel_);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(&strata_, 2);
    panel->addWidget(&notes_, 3);

    forest_.setToolTip(QStringLiteral("Each block's dogs with their 95% limits; a diamond: a "
                                      "stratum's dogs per block"));
    down_.addWidget(&blocks_);
    down_.addWidget(&strataPanel_);
    down_.setStretchFactor(0, 3);
    down_.setStretchFactor(1, 2);
    across_.addWidget(&down_);
    across_.addWidget(&forest_);
    across_.setStretchFactor(0, 3);
    across_.setStretchFactor(1, 2);
    auto* layout = child<QVBoxLayout>(&central_);
    layout->addWidget(&summary_);
    layout->addWidget(&across_, 1);
    setCentralWidget(&central_);

    status_.setObjectName(QStringLiteral("surveyStatus"));
    status_.setTextFormat(Qt::PlainText);
    progress_.setObjectName(QStringLiteral("surveyProgress"));
    progress_.setRange(0, 1000);
    progress_.setMaximumWidth(240);
    cancel_.setObjectName(QStringLiteral("surveyCancel"));
    cancel_.setText(QStringLiteral("Cancel"));
    connect(&cancel_, &QPushButton::clicked, this, [this] {
        if (job_) {
            job_->cancel();
        }
    });
    statusBar()->addWidget(&status_, 1);
    statusBar()->addPermanentWidget(&progress_);
    statusBar()->addPermanentWidget(&cancel_);
}

void SurveyWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    const auto add = [this](QMenu* menu, const char* name, const QString& text, auto slot,
                            QKeySequence keys = {}) {
        QAction* action = menu->addAction(text, this, slot);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(keys);
        return action;
    };
    add(file, "actionOpenSurvey", QStringLiteral("Open survey..."), &SurveyWindow::chooseSurvey,
        QKeySequence(Qt::CTRL | Qt::Key_O));
    add(file, "actionOpenFrame", QStringLiteral("Open frame..."), &SurveyWindow::chooseFrame);
    add(file, "actionNoFrame", QStringLiteral("Without a frame"),
        [this] { openFrame(std::nullopt); });
    add(
        file, "actionReload", QStringLiteral("Read again"), [this] { start(); },
        QKeySequence(Qt::Key_F5));
    file->addSeparator();
    needResults_ << add(
        file, "actionExport", QStringLiteral("Export results..."),
        [this] {
            saveAs(QStringLiteral("results"),
                   QStringLiteral("CSV, as kestrum-estimate writes it (*.csv)"),
                   QFileInfo(settings_.survey).completeBaseName() + QStringLiteral("-results.csv"),
                   &SurveyWindow::exportResults);
        },
        QKeySequence(Qt::CTRL | Qt::Key_E));
    needResults_ << add(
        file, "actionSaveReport", QStringLiteral("Save report..."),
        [this] {
            saveAs(QStringLiteral("report"),
                   QStringLiteral("PDF document (*.pdf);;HTML page (*.html)"),
                   QFileInfo(settings_.survey).completeBaseName() + QStringLiteral("-report.pdf"),
                   &SurveyWindow::saveReport);
        },
        QKeySequence(Qt::CTRL | Qt::Key_S));
    needResults_ << add(file, "actionPrint", QStringLiteral("Print..."), &SurveyWindow::printReport,
                        QKeySequence(Qt::CTRL | Qt::Key_P));
    file->addSeparator();
    add(file, "actionClose", QStringLiteral("Close"), &QWidget::close,
        QKeySequence(Qt::CTRL | Qt::Key_W));

    QMenu* survey = menuBar()->addMenu(QStringLiteral("&Survey"));
    add(survey, "actionDescription", QStringLiteral("About the survey..."),
        &SurveyWindow::editDescription);
    add(survey, "actionCoverageTarget", QStringLiteral("Coverage target..."),
        &SurveyWindow::chooseCoverageTarget);
    QMenu* pBy = survey->addMenu(QStringLiteral("P for the totals"));
    pBy_ = child<QActionGroup>(this);
    for (const auto& [by, name, text] :
         {std::tuple{survey::PBy::Stratum, "actionPByStratum",
                     QStringLiteral("Each stratum's, blocks drawn towards it")},
          std::tuple{survey::PBy::Survey, "actionPBySurvey",
                     QStringLiteral("The whole survey's, blocks drawn towards it")},
          std::tuple{survey::PBy::Block, "actionPByBlock",
                     QStringLiteral("Each block's own (for large blocks)")}}) {
        QAction* action = add(pBy, name, text, [this, way = by] { setPBy(way); });
        action->setCheckable(true);
        action->setChecked(by == settings_.pBy);
        pBy_->addAction(action);
    }
}

void SurveyWindow::chooseSurvey()
{
    const QString path =
        askForOpenName(this, QStringLiteral("Open survey"),
                       QStringLiteral("Surveys (*.csv *.txt *.tsv);;All files (*)"));
    if (!path.isEmpty()) {
        openSurvey(path);
    }
}

void SurveyWindow::chooseFrame()
{
    const QString path =
        askForOpenName(this, QStringLiteral("Open sampling frame"),
                       QStringLiteral("Sampling frames (*.csv *.txt *.tsv);;All files (*)"));
    if (!path.isEmpty()) {
        openFrame(path);
    }
}

void SurveyWindow::chooseCoverageTarget()
{
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("coverageTarget"));
    dialog.setWindowTitle(QStringLiteral("Kestrum: coverage target"));
    dialog.setLabelText(QStringLiteral("The share of dogs the campaign aims to mark, in percent:"));
    dialog.setInputMode(QInputDialog::DoubleInput);
    dialog.setDoubleRange(1.0, 100.0);
    dialog.setDoubleDecimals(1);
    dialog.setDoubleValue(100.0 * settings_.coverageTarget);
    if (dialog.exec() == QDialog::Accepted) {
        setCoverageTarget(dialog.doubleValue() / 100.0);
    }
}

void SurveyWindow::setCoverageTarget(double share)
{
    settings_.coverageTarget = share;
    if (!settings_.survey.isEmpty()) {
        start();
    }
}

void SurveyWindow::openSurvey(const QString& path)
{
    settings_.survey = path;
    settings_.frame = frameBeside(path);
    description_ = readDescription(path);
    loaded_.reset();
    setWindowTitle(QStringLiteral("Kestrum survey: %1").arg(fileName(path)));
    start();
}

void SurveyWindow::openFrame(const std::optional<QString>& path)
{
    settings_.frame = path;
    start();
}

void SurveyWindow::setPBy(survey::PBy by)
{
    settings_.pBy = by;
    for (QAction* action : pBy_->actions()) {
        action->setChecked(
            action->objectName().endsWith(by == survey::PBy::Stratum  ? QLatin1String("Stratum")
                                          : by == survey::PBy::Survey ? QLatin1String("Survey")
                                                                      : QLatin1String("Block")));
    }
    if (!settings_.survey.isEmpty()) {
        start();
    }
}

void SurveyWindow::start()
{
    if (settings_.survey.isEmpty()) {
        return;
    }
    // A run still going is replaced: stopped, waited for, its signals told apart by number.
    job_.reset();
    job_ = std::make_unique<SurveyJob>(++runs_, settings_);
    connect(job_.get(), &SurveyJob::progressed, this, &SurveyWindow::progressed);
    connect(job_.get(), &SurveyJob::finished, this, &SurveyWindow::finished);
    progress_.setValue(0);
    status_.setText(QStringLiteral("Reading %1...").arg(fileName(settings_.survey)));
    setBusy(true);
    job_->start();
}

void SurveyWindow::progressed(quint64 run, double share, quint64 blocks)
{
    if (!job_ || run != job_->run()) {
        return;
    }
    progress_.setValue(static_cast<int>(std::clamp(share, 0.0, 1.0) * 1000.0));
    status_.setText(
        QStringLiteral("Reading %1: %2 rows").arg(fileName(settings_.survey)).arg(blocks));
}

void SurveyWindow::finished(quint64 run)
{
    if (!job_ || run != job_->run()) {
        return;
    }
    std::shared_ptr<const LoadedSurvey> loaded = job_->take();
    job_.reset();
    if (loaded->cancelled) {
        setBusy(false);
        status_.setText(
            QStringLiteral("Cancelled: %1 was not read to its end%2. File > Read "
                           "again reads it.")
                .arg(fileName(settings_.survey),
                     loaded_ ? QStringLiteral(", and what was shown before stays") : QString()));
        emit runEnded();
        return;
    }
    present(std::move(loaded));
    setBusy(false);
    emit runEnded();
}

void SurveyWindow::present(std::shared_ptr<const LoadedSurvey> loaded)
{
    loaded_ = std::move(loaded);
    const LoadedSurvey& survey = *loaded_;
    model_.setSurvey(loaded_);
    const auto sorted = blocks_.horizontalHeader();
    model_.sort(sorted->sortIndicatorSection(), sorted->sortIndicatorOrder());
    // Widths from the rows first shown, not from every row.
    blocks_.resizeColumnsToContents();
    blocks_.setColumnWidth(model_.position(BlockColumn::Warnings), 400);

    // With marks, each stratum's coverage beside its dogs.
    // The method is in the status line and the notes; the table keeps the numbers.
    QStringList columns = strataColumns();
    QList<QStringList> rows = strataRows(survey);
    columns.removeLast();
    for (QStringList& row : rows) {
        row.removeLast();
    }
    const QList<QStringList> coverage = coverageRows(survey);
    if (survey.framed() && coverage.size() == rows.size()) {
        columns << QStringLiteral("coverage") << QStringLiteral("coverage's 95% limits")
                << QStringLiteral("dogs still to vaccinate");
        for (qsizetype r = 0; r < rows.size(); ++r) {
            rows[r] << coverage[r][1] << coverage[r][2] << coverage[r][4];
        }
    }
    strata_.setColumnCount(static_cast<int>(columns.size()));
    strata_.setHorizontalHeaderLabels(columns);
    strata_.setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c) {
            auto item = std::make_unique<QTableWidgetItem>(rows[r][c]);
            item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                          : Qt::AlignRight | Qt::AlignVCenter);
            if (r == rows.size() - 1) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            strata_.setItem(r, c, item.release());
        }
    }
    strata_.resizeColumnsToContents();

    summary_.setText(survey.problem.isEmpty()
                         ? QStringList{citySentence(survey), coverageSentence(survey)}
                               .join(QLatin1Char(' '))
                               .trimmed()
                         : QStringLiteral("%1 was not read to its end: %2.")
                               .arg(fileName(survey.settings.survey), survey.problem));
    QString notes = QStringLiteral("<p>%1<br>%2</p><p><b>Method.</b> %3</p>")
                        .arg(meaningOfP().toHtmlEscaped(), meaningOfS().toHtmlEscaped(),
                             methodParagraph(survey).toHtmlEscaped());
    const QStringList warnings = surveyWarnings(survey);
    notes += QStringLiteral("<p><b>Warnings.</b>%1</p>")
                 .arg(warnings.isEmpty() ? QStringLiteral(" None.") : QString());
    if (!warnings.isEmpty()) {
        notes += QStringLiteral("<ul>");
        for (const QString& warning : warnings) {
            notes += QStringLiteral("<li>%1</li>").arg(warning.toHtmlEscaped());
        }
        notes += QStringLiteral("</ul>");
    }
    notes_.setHtml(notes);
    forest_.setPlot(surveyForest(survey));

    const std::size_t read = survey.results.rows().size();
    const std::uint64_t failed = survey.summary.failedRows;
    status_.setText(QStringLiteral("%1: %2 rows, %3 fitted%4; %5; P for the totals by %6.")
                        .arg(fileName(survey.settings.survey))
                        .arg(read)
                        .arg(survey.summary.fitted)
                        .arg(failed > 0 ? QStringLiteral(", %1 not read").arg(failed) : QString(),
                             survey.framed()
                                 ? QStringLiteral("frame %1").arg(fileName(*survey.settings.frame))
                                 : QStringLiteral("no frame"),
                             QString::fromLatin1(survey::methodName(survey.settings.pBy))));
}

void SurveyWindow::setBusy(bool busy)
{
    progress_.setVisible(busy);
    cancel_.setVisible(busy);
    for (QAction* action : needResults_) {
        action->setEnabled(!busy && loaded_ != nullptr);
    }
}

void SurveyWindow::chooseRow(int row)
{
    if (row < 0 || row >= model_.rowCount()) {
        return;
    }
    const survey::RowSummary& summary = model_.summary(row);
    const QString where =
        QStringLiteral("%1, line %2").arg(fileName(settings_.survey)).arg(summary.line);
    if (summary.failed) {
        status_.setText(QStringLiteral("%1 was not read, so it cannot be estimated: %2.")
                            .arg(where, fromStd(summary.error)));
        return;
    }
    // What the main window would refuse with a message about its boxes is said here, of the block.
    if (summary.counts == std::array<std::int32_t, 4>{}) {
        status_.setText(QStringLiteral("%1: no dog was identified in this block, so there is "
                                       "nothing to estimate.")
                            .arg(where));
        return;
    }
    if (summary.sHeld() && !(summary.sFixed > 0.0 && summary.sFixed < 1.0)) {
        status_.setText(QStringLiteral("%1 holds S at %2, and the main window holds S only "
                                       "strictly between 0 and 1: its columns here are the "
                                       "estimate.")
                            .arg(where, text::plain(summary.sFixed)));
        return;
    }
    SurveyBlockChoice choice;
    choice.block = fromStd(summary.block);
    choice.counts = {summary.counts[0], summary.counts[1], summary.counts[2], summary.counts[3]};
    if (summary.sHeld()) {
        choice.sFixed = summary.sFixed;
    }
    if (!std::isnan(summary.count)) {
        choice.count = summary.count;
    }
    choice.source = where;
    choice.survey = description_;
    emit blockChosen(choice);
}

QString SurveyWindow::setDescription(const SurveyDescription& description)
{
    if (settings_.survey.isEmpty()) {
        return QStringLiteral("no survey is open");
    }
    if (const QString problem = writeDescription(settings_.survey, description);
        !problem.isEmpty()) {
        return problem;
    }
    description_ = description;
    return {};
}

void SurveyWindow::editDescription()
{
    DescriptionDialog dialog(description_, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    if (const QString problem = setDescription(dialog.description()); !problem.isEmpty()) {
        warn(QStringLiteral("The description was not kept: %1.").arg(problem));
    }
}

std::optional<CityReportContent> SurveyWindow::reportContent() const
{
    if (!loaded_) {
        return std::nullopt;
    }
    return CityReportContent{loaded_, description_, QDateTime::currentDateTime(),
                             surveyForest(*loaded_)};
}

QString SurveyWindow::exportResults(const QString& path)
{
    if (!loaded_) {
        return QStringLiteral("no survey has been read yet");
    }
    if (!loaded_->complete) {
        return QStringLiteral("the survey was not read to its end (%1), so its results are not "
                              "whole")
            .arg(loaded_->problem);
    }
    QString problem;
    const QByteArray bytes = loaded_->rows->bytes(problem);
    if (!problem.isEmpty()) {
        return QStringLiteral("the results could not be read back: ") + problem;
    }
    return writeWholeFile(path, bytes);
}

QString SurveyWindow::saveReport(const QString& path)
{
    const std::optional<CityReportContent> content = reportContent();
    if (!content) {
        return QStringLiteral("no survey has been read yet");
    }
    return writeCityReport(path, *content);
}

void SurveyWindow::saveAs(const QString& what, const QString& filters, const QString& suggested,
                          QString (SurveyWindow::*save)(const QString&))
{
    const QString folder = QFileInfo(settings_.survey).dir().filePath(suggested);
    const QString path = askForSaveName(this, QStringLiteral("Save ") + what, filters, folder);
    if (path.isEmpty()) {
        return;
    }
    if (const QString problem = (this->*save)(path); !problem.isEmpty()) {
        warn(QStringLiteral("The %1 was not saved: %2.").arg(what, problem));
    }
}

void SurveyWindow::printReport()
{
    const std::optional<CityReportContent> content = reportContent();
    if (!content) {
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    if (!choosePrinter(printer, this)) {
        return;
    }
    // Printed to a file, the pages are made in memory and written whole, as Save report does.
    QString problem;
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        problem = writeCityReportPdf(printer.outputFileName(), *content, printer.pageLayout());
    } else if (!paintCityReport(printer, *content)) {
        problem = QStringLiteral("the printer could not be reached");
    }
    if (!problem.isEmpty()) {
        warn(QStringLiteral("The report was not printed: %1.").arg(problem));
    }
}

void SurveyWindow::warn(const QString& text)
{
    QMessageBox message(QMessageBox::Warning, QStringLiteral("Kestrum"), text, QMessageBox::Ok,
                        this);
    message.setObjectName(QStringLiteral("surveyProblem"));
    message.exec();
}

void SurveyWindow::closeEvent(QCloseEvent* event)
{
    // A run has no one to show it to any more.
    job_.reset();
    setBusy(false);
    QMainWindow::closeEvent(event);
}

} // namespace kestrum
