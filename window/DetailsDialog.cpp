#include "DetailsDialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QVBoxLayout>

#include "InferenceText.h"
#include "Population.h"
#include "NumberText.h"

namespace kestrum {

namespace {

using inference::Parameter;

QString fromView(std::string_view view)
{
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

void setCell(QTableWidget& table, int row, int column, const QString& value)
{
    auto item = std::make_unique<QTableWidgetItem>(value);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (column > 0) {
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    table.setItem(row, column, item.release());
}

void prepare(QTableWidget& table, const QStringList& columns)
{
    table.setColumnCount(static_cast<int>(columns.size()));
    table.setHorizontalHeaderLabels(columns);
    table.verticalHeader()->setVisible(false);
    table.setEditTriggers(QAbstractItemView::NoEditTriggers);
    table.horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table.horizontalHeader()->setStretchLastSection(true);
}

void fill(QTableWidget& table, const QList<QStringList>& rows)
{
    table.setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < rows[row].size(); ++column) {
            setCell(table, row, column, rows[row][column]);
        }
    }
    // As tall as its rows, no taller: the tables are short and fixed.
    int height = table.horizontalHeader()->height() + 2 * table.frameWidth();
    for (int row = 0; row < table.rowCount(); ++row) {
        height += table.rowHeight(row);
    }
    table.setFixedHeight(height);
}

} // namespace

DetailsDialog::DetailsDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("details"));
    setWindowTitle(QStringLiteral("Kestrum: details"));
    summary_.setObjectName(QStringLiteral("summary"));
    estimates_.setObjectName(QStringLiteral("estimates"));
    frequencies_.setObjectName(QStringLiteral("frequencies"));
    fitCheck_.setObjectName(QStringLiteral("fitCheck"));
    warnings_.setObjectName(QStringLiteral("warnings"));
    streetCount_.setObjectName(QStringLiteral("streetCount"));
    population_.setObjectName(QStringLiteral("population"));
    for (QLabel* label : {&summary_, &fitCheck_, &warnings_, &population_}) {
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }

    prepare(estimates_, estimateColumns());
    prepare(frequencies_, frequencyColumns());
    for (QTableWidget* table : {&estimates_, &frequencies_}) {
        table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
        table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

    streetCount_.setPlaceholderText(QStringLiteral("dogs counted on the street"));
    connect(&streetCount_, &QLineEdit::textChanged, this, &DetailsDialog::showPopulation);

    auto* layout = new QVBoxLayout(this); // owned by the dialog
    layout->addWidget(&summary_);
    auto* estimatesBox = new QGroupBox(QStringLiteral("Estimates"), this);
    (new QVBoxLayout(estimatesBox))->addWidget(&estimates_);
    layout->addWidget(estimatesBox);
    auto* fitBox = new QGroupBox(QStringLiteral("Fit check"), this);
    auto* fitLayout = new QVBoxLayout(fitBox);
    fitLayout->addWidget(&frequencies_);
    fitLayout->addWidget(&fitCheck_);
    layout->addWidget(fitBox);
    auto* warningsBox = new QGroupBox(QStringLiteral("Warnings"), this);
    (new QVBoxLayout(warningsBox))->addWidget(&warnings_);
    layout->addWidget(warningsBox);
    auto* populationBox = new QGroupBox(QStringLiteral("Dogs in the block"), this);
    auto* populationLayout = new QFormLayout(populationBox);
    populationLayout->addRow(QStringLiteral("Street count:"), &streetCount_);
    populationLayout->addRow(&population_);
    layout->addWidget(populationBox);
    layout->addStretch();
    resize(640, 600);
}

void DetailsDialog::show(const std::optional<BlockAnalysis>& block)
{
    block_ = block;
    if (!block_) {
        summary_.setText(QStringLiteral("Press \"estimate\" first: the details describe the last "
                                        "estimate."));
        estimates_.setRowCount(0);
        frequencies_.setRowCount(0);
        fitCheck_.clear();
        warnings_.clear();
        showPopulation();
        QDialog::show();
        return;
    }
    summary_.setText(summarySentence(*block_));
    fill(estimates_, estimateRows(*block_));
    fill(frequencies_, frequencyRows(*block_));
    fitCheck_.setText(fitCheckSentence(*block_));

    const QStringList sentences = warningSentences(*block_);
    warnings_.setText(sentences.isEmpty()
                          ? QStringLiteral("None.")
                          : QStringLiteral("• ") + sentences.join(QStringLiteral("\n• ")));
    showPopulation();
    QDialog::show();
    raise();
}

void DetailsDialog::showPopulation()
{
    const QString typed = streetCount_.text().trimmed();
    if (typed.isEmpty()) {
        population_.setText(QStringLiteral("Type the number of dogs seen on a street count of the "
                                           "block: the block holds about that many divided by P."));
        return;
    }
    const auto count = text::toDouble(typed);
    if (!count || *count.value < 0.0) {
        population_.setText(
            QStringLiteral("The street count %1.")
                .arg(count ? QStringLiteral("must not be negative") : count.reason));
        return;
    }
    if (!block_) {
        population_.setText(QStringLiteral("Press \"estimate\" first."));
        return;
    }
    const inference::PopulationEstimate estimate =
        inference::population(*count.value, block_->analysis.fit, block_->analysis.limitsP);
    if (!estimate.given()) {
        population_.setText(fromView(estimate.reason));
        return;
    }
    population_.setText(
        QStringLiteral("About %1 dogs (95% limits %2 to %3). %4")
            .arg(text::format(estimate.estimate, QStringLiteral("0.0")),
                 limitCaption(estimate.lower, QStringLiteral("0.0"), QStringLiteral("0.0")),
                 limitCaption(estimate.upper, QStringLiteral("0.0"), QStringLiteral("0.0")),
                 fromView(inference::populationCaveat())));
}

} // namespace kestrum
