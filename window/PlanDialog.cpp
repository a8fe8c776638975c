#include "PlanDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <cmath>
#include <memory>
#include <utility>

#include "NumberText.h"
#include "PlanOutput.h"

namespace kestrum {

namespace {

const QStringList kStrataColumns = {QStringLiteral("Stratum"),
                                    QStringLiteral("Blocks"),
                                    QStringLiteral("Dogs per block"),
                                    QStringLiteral("CV of dogs per block"),
                                    QStringLiteral("P"),
                                    QStringLiteral("S")};
const QStringList kResultColumns = {
    QStringLiteral("Stratum"),  QStringLiteral("Frame blocks"),
    QStringLiteral("To count"), QStringLiteral("Identified per block"),
    QStringLiteral("SE of P"),  QStringLiteral("Dogs"),
    QStringLiteral("SE"),       QStringLiteral("95% limits"),
    QStringLiteral("± %"),      QStringLiteral("Team-days")};
// The curve's drawing area: fixed, so that what is saved is what is shown.
constexpr QSize kCurveSize(800, 320);
// Larger than any plan file a person writes; a file without line breaks is refused at its
// first record anyway.
constexpr qint64 kMostPlanBytes = qint64{64} << 20;

// A widget or layout handed to the parent named in its arguments, which owns it from then on.
template <class T, class... Args> T* child(Args&&... args)
{
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}

QString whole(std::uint64_t value)
{
    return QString::number(value);
}

// Written whole or not at all: the old file stays until every byte is on disk.
QString saveBytes(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        file.cancelWriting();
        return file.errorString();
    }
    return {};
}

// A whole number of blocks, or nothing.
std::optional<std::uint64_t> blocksOf(double value)
{
    if (!(value >= 0.0) || value != std::floor(value) || value > 9.0e15) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

} // namespace

PlanDialog::PlanDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("planDialog"));
    setWindowTitle(QStringLiteral("Kestrum: plan a survey"));
    strata_.setObjectName(QStringLiteral("strata"));
    add_.setObjectName(QStringLiteral("addStratum"));
    remove_.setObjectName(QStringLiteral("removeStratum"));
    load_.setObjectName(QStringLiteral("loadPlan"));
    byTarget_.setObjectName(QStringLiteral("byTarget"));
    byBudget_.setObjectName(QStringLiteral("byBudget"));
    target_.setObjectName(QStringLiteral("target"));
    budget_.setObjectName(QStringLiteral("budget"));
    perDay_.setObjectName(QStringLiteral("blocksPerDay"));
    planButton_.setObjectName(QStringLiteral("plan"));
    message_.setObjectName(QStringLiteral("planMessage"));
    results_.setObjectName(QStringLiteral("planResults"));
    curve_.setObjectName(QStringLiteral("planCurve"));
    saveCurve_.setObjectName(QStringLiteral("saveCurve"));
    savePlan_.setObjectName(QStringLiteral("savePlan"));

    strata_.setColumnCount(static_cast<int>(kStrataColumns.size()));
    strata_.setHorizontalHeaderLabels(kStrataColumns);
    strata_.horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    strata_.setMinimumHeight(140);
    addStratum();
    add_.setText(QStringLiteral("Add stratum"));
    remove_.setText(QStringLiteral("Remove stratum"));
    load_.setText(QStringLiteral("Load plan file..."));
    connect(&add_, &QPushButton::clicked, this, [this] { addStratum(); });
    connect(&remove_, &QPushButton::clicked, this, [this] {
        strata_.removeRow(strata_.currentRow() >= 0 ? strata_.currentRow()
                                                    : strata_.rowCount() - 1);
    });
    connect(&load_, &QPushButton::clicked, this, [this] {
        ask(QStringLiteral("Load plan file"), QStringLiteral("Plan (*.csv *.txt);;All files (*)"),
            false, &PlanDialog::loadPlan);
    });

    byTarget_.setText(QStringLiteral("Half-width wanted, ± % of the city total:"));
    byBudget_.setText(QStringLiteral("Blocks the teams can count:"));
    byTarget_.setChecked(true);
    target_.setText(text::plain(20.0));
    connect(&target_, &QLineEdit::textEdited, this, [this] { byTarget_.setChecked(true); });
    connect(&budget_, &QLineEdit::textEdited, this, [this] { byBudget_.setChecked(true); });
    perDay_.setText(text::plain(1.0));
    planButton_.setText(QStringLiteral("Plan"));
    planButton_.setDefault(true);
    connect(&planButton_, &QPushButton::clicked, this, &PlanDialog::plan);
    message_.setWordWrap(true);
    message_.setTextFormat(Qt::PlainText);
    message_.setTextInteractionFlags(Qt::TextSelectableByMouse);

    results_.setColumnCount(static_cast<int>(kResultColumns.size()));
    results_.setHorizontalHeaderLabels(kResultColumns);
    results_.setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_.verticalHeader()->setVisible(false);
    results_.horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    results_.setMinimumHeight(140);
    curve_.setFixedSize(kCurveSize + QSize(2 * curve_.frameWidth(), 2 * curve_.frameWidth()));
    saveCurve_.setText(QStringLiteral("Save curve..."));
    savePlan_.setText(QStringLiteral("Save plan..."));
    connect(&saveCurve_, &QPushButton::clicked, this, [this] {
        ask(QStringLiteral("Save curve"), QStringLiteral("PNG image (*.png);;PDF document (*.pdf)"),
            true, &PlanDialog::saveCurve);
    });
    connect(&savePlan_, &QPushButton::clicked, this, [this] {
        ask(QStringLiteral("Save plan"), QStringLiteral("CSV file (*.csv)"), true,
            &PlanDialog::savePlan);
    });
    saveCurve_.setEnabled(false);
    savePlan_.setEnabled(false);

    auto contentOwner = std::make_unique<QWidget>();
    QWidget* content = contentOwner.get();
    auto* layout = child<QVBoxLayout>(content);
    auto* strataBox = child<QGroupBox>(QStringLiteral("Strata"), content);
    auto* strataLayout = child<QVBoxLayout>(strataBox);
    strataLayout->addWidget(&strata_);
    auto* strataButtons = child<QHBoxLayout>();
    strataLayout->addLayout(strataButtons);
    strataButtons->addWidget(&add_);
    strataButtons->addWidget(&remove_);
    strataButtons->addStretch();
    strataButtons->addWidget(&load_);
    layout->addWidget(strataBox);
    auto* goalBox = child<QGroupBox>(QStringLiteral("Goal"), content);
    auto* goalLayout = child<QFormLayout>(goalBox);
    goalLayout->addRow(&byTarget_, &target_);
    goalLayout->addRow(&byBudget_, &budget_);
    goalLayout->addRow(
        QStringLiteral("Blocks a team counts in a morning (three mornings a block):"), &perDay_);
    goalLayout->addRow(&planButton_);
    layout->addWidget(goalBox);
    layout->addWidget(&message_);
    auto* planBox = child<QGroupBox>(QStringLiteral("Plan"), content);
    auto* planLayout = child<QVBoxLayout>(planBox);
    planLayout->addWidget(&results_);
    planLayout->addWidget(&curve_);
    auto* saveButtons = child<QHBoxLayout>();
    planLayout->addLayout(saveButtons);
    saveButtons->addStretch();
    saveButtons->addWidget(&savePlan_);
    saveButtons->addWidget(&saveCurve_);
    layout->addWidget(planBox);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* scroll = child<QScrollArea>(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(contentOwner.release());
    (child<QVBoxLayout>(this))->addWidget(scroll);
    resize(kCurveSize.width() + 120, 900);
}

void PlanDialog::addStratum(const QStringList& cells)
{
    const int row = strata_.rowCount();
    strata_.insertRow(row);
    for (int column = 0; column < strata_.columnCount(); ++column) {
        auto item =
            std::make_unique<QTableWidgetItem>(column < cells.size() ? cells[column] : QString());
        if (column > 0) {
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        strata_.setItem(row, column, item.release());
    }
}

void PlanDialog::refuse(const QString& problem)
{
    plan_.reset();
    results_.setRowCount(0);
    curve_.canvas().Cls();
    saveCurve_.setEnabled(false);
    savePlan_.setEnabled(false);
    message_.setText(problem);
}

std::optional<std::vector<survey::PlanStratum>> PlanDialog::readStrata()
{
    std::vector<survey::PlanStratum> strata;
    for (int row = 0; row < strata_.rowCount(); ++row) {
        QStringList cells;
        bool any = false;
        for (int column = 0; column < strata_.columnCount(); ++column) {
            const QTableWidgetItem* item = strata_.item(row, column);
            cells << (item != nullptr ? item->text().trimmed() : QString());
            any = any || !cells.back().isEmpty();
        }
        if (!any) {
            continue; // a row left blank is no stratum
        }
        const QString where =
            QStringLiteral("Row %1%2")
                .arg(row + 1)
                .arg(cells[0].isEmpty() ? QString() : QStringLiteral(" (%1)").arg(cells[0]));
        if (cells[0].isEmpty()) {
            refuse(where + QStringLiteral(": the stratum needs a name."));
            return std::nullopt;
        }
        double values[5] = {};
        for (int column = 1; column < 6; ++column) {
            const text::Number<double> value = text::toDouble(cells[column]);
            if (!value) {
                refuse(
                    QStringLiteral("%1: %2 %3.").arg(where, kStrataColumns[column], value.reason));
                return std::nullopt;
            }
            values[column - 1] = *value.value;
        }
        const std::optional<std::uint64_t> blocks = blocksOf(values[0]);
        if (!blocks) {
            refuse(where + QStringLiteral(": Blocks must be a whole number, 0 or more."));
            return std::nullopt;
        }
        strata.push_back(
            {cells[0].toStdString(), *blocks, values[1], values[2], values[3], values[4]});
    }
    if (strata.empty()) {
        refuse(QStringLiteral("Type the strata into the table, or load a plan file."));
        return std::nullopt;
    }
    return strata;
}

std::optional<survey::PlanGoal> PlanDialog::readGoal()
{
    survey::PlanGoal goal;
    if (byTarget_.isChecked()) {
        const text::Number<double> target = text::toDouble(target_.text());
        if (!target) {
            refuse(QStringLiteral("The half-width wanted %1.").arg(target.reason));
            return std::nullopt;
        }
        goal.targetPct = *target.value;
    } else {
        const text::Number<double> budget = text::toDouble(budget_.text());
        const std::optional<std::uint64_t> blocks = budget ? blocksOf(*budget.value) : std::nullopt;
        if (!blocks) {
            refuse(QStringLiteral("The blocks the teams can count %1.")
                       .arg(budget ? QStringLiteral("must be a whole number") : budget.reason));
            return std::nullopt;
        }
        goal.blocks = *blocks;
    }
    const text::Number<double> perDay = text::toDouble(perDay_.text());
    if (!perDay) {
        refuse(QStringLiteral("The blocks a team counts in a morning %1.").arg(perDay.reason));
        return std::nullopt;
    }
    goal.blocksPerDay = *perDay.value;
    return goal;
}

void PlanDialog::plan()
{
    std::optional<std::vector<survey::PlanStratum>> strata = readStrata();
    if (!strata) {
        return;
    }
    const std::optional<survey::PlanGoal> goal = readGoal();
    if (!goal) {
        return;
    }
    try {
        plan_ = survey::planSurvey(std::move(*strata), *goal);
    } catch (const survey::PlanError& error) {
        refuse(QStringLiteral("Not planned: %1.").arg(QString::fromStdString(error.what())));
        return;
    }
    showPlan();
}

void PlanDialog::showPlan()
{
    const survey::SurveyPlan& plan = *plan_;
    const auto number = [](double value, const char* pattern) {
        return std::isfinite(value) ? text::format(value, QString::fromLatin1(pattern)) : QString();
    };
    const auto totalCells = [&](const inference::Total& t, QStringList& cells) {
        cells << number(t.total, "0") << number(t.se, "0")
              << QStringLiteral("%1 to %2").arg(number(t.lower, "0"), number(t.upper, "0"))
              << number(survey::halfWidthPct(t), "0.0");
    };
    QList<QStringList> rows;
    std::uint64_t frameBlocks = 0;
    double identified = 0.0;
    for (std::size_t h = 0; h < plan.strata.size(); ++h) {
        const survey::PlanStratum& s = plan.strata[h];
        const survey::StratumForecast& f = plan.forecast[h];
        frameBlocks += s.frameBlocks;
        identified += static_cast<double>(f.blocks) * f.identifiedPerBlock;
        QStringList cells = {QString::fromStdString(s.name), whole(s.frameBlocks), whole(f.blocks),
                             number(f.identifiedPerBlock, "0.0"), number(f.seP, "0.000")};
        totalCells(f.total, cells);
        cells << number(plan.teamDays(f.blocks), "0.#");
        rows << cells;
    }
    QStringList city = {QStringLiteral("City"), whole(frameBlocks), whole(plan.blocks()),
                        number(identified / static_cast<double>(plan.blocks()), "0.0"), QString()};
    totalCells(plan.city, city);
    city << number(plan.teamDays(plan.blocks()), "0.#");
    rows << city;

    results_.setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < rows[row].size(); ++column) {
            auto item = std::make_unique<QTableWidgetItem>(rows[row][column]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (column > 0) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            results_.setItem(row, column, item.release());
        }
    }
    results_.resizeRowsToContents();
    // As tall as its rows: the dialog scrolls rather than the table.
    results_.setFixedHeight(results_.horizontalHeader()->sizeHint().height() +
                            results_.verticalHeader()->length() + 2 * results_.frameWidth() +
                            results_.horizontalScrollBar()->sizeHint().height());

    drawn_ = PlanCurve{};
    for (const survey::CurvePoint& point : plan.curve) {
        drawn_.points.emplace_back(static_cast<double>(point.blocks), point.halfWidthPct);
    }
    drawn_.plan = Point(static_cast<double>(plan.blocks()), plan.halfWidthPct());
    drawn_.targetPct = plan.goal.targetPct;
    drawPlanCurve(curve_.canvas(), drawn_);

    QStringList lines = {
        QStringLiteral("Count %1 blocks in %2 team-days: the city's total is expected within "
                       "±%3% (95% limits).")
            .arg(whole(plan.blocks()), number(plan.teamDays(plan.blocks()), "0.#"),
                 number(plan.halfWidthPct(), "0.0"))};
    for (const std::string& note : plan.notes) {
        lines << QString::fromStdString(note);
    }
    message_.setText(lines.join(QLatin1Char('\n')));
    saveCurve_.setEnabled(true);
    savePlan_.setEnabled(true);
}

QString PlanDialog::loadPlan(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return file.errorString();
    }
    if (file.size() > kMostPlanBytes) {
        return QStringLiteral("the file is larger than a plan can be");
    }
    const QByteArray bytes = file.readAll();
    std::vector<survey::PlanStratum> strata;
    try {
        survey::StringSource source(bytes.toStdString());
        strata = survey::readPlan(source, QFileInfo(path).fileName().toStdString());
    } catch (const survey::InputError& error) {
        return QString::fromStdString(error.what());
    }
    strata_.setRowCount(0);
    for (const survey::PlanStratum& s : strata) {
        addStratum({QString::fromStdString(s.name), whole(s.frameBlocks), text::plain(s.dogs),
                    text::plain(s.dogsCv), text::plain(s.P), text::plain(s.S)});
    }
    message_.setText(QStringLiteral("Loaded %1 strata from %2.")
                         .arg(strata.size())
                         .arg(QFileInfo(path).fileName()));
    return {};
}

QString PlanDialog::savePlan(const QString& path)
{
    if (!plan_) {
        return QStringLiteral("there is no plan yet: press \"Plan\" first");
    }
    const std::string rows = survey::planRows(*plan_, nullptr, survey::Format::Csv, -1);
    return saveBytes(path, QByteArray(rows.data(), static_cast<qsizetype>(rows.size())));
}

QString PlanDialog::saveCurve(const QString& path)
{
    if (!plan_) {
        return QStringLiteral("there is no curve yet: press \"Plan\" first");
    }
    const bool pdf =
        QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    const QByteArray bytes = pdf ? planCurvePdf(drawn_, kCurveSize, curve_.font())
                                 : planCurvePng(drawn_, kCurveSize, curve_.font());
    if (bytes.isEmpty()) {
        return QStringLiteral("the curve could not be drawn");
    }
    return saveBytes(path, bytes);
}

void PlanDialog::ask(const QString& title, const QString& filters, bool save,
                     QString (PlanDialog::*command)(const QString&))
{
    // Qt's own dialog: the same on every desktop, and reachable from tests.
    QFileDialog dialog(this, title, QString(), filters);
    dialog.setObjectName(save ? QStringLiteral("saveDialog") : QStringLiteral("openDialog"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    QString path = dialog.selectedFiles().constFirst();
    if (save && QFileInfo(path).suffix().isEmpty()) {
        path += dialog.selectedNameFilter().contains(QLatin1String("*.pdf"))   ? ".pdf"
                : dialog.selectedNameFilter().contains(QLatin1String("*.png")) ? ".png"
                                                                               : ".csv";
    }
    if (const QString problem = (this->*command)(path); !problem.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Kestrum"),
                             QStringLiteral("%1 failed: %2.").arg(title, problem));
    }
}

} // namespace kestrum
