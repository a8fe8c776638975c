#include "DetailsDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <utility>

#include "InferenceText.h"
#include "NumberText.h"

namespace kestrum {

namespace {

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
    table.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void fill(QTableWidget& table, const QList<QStringList>& rows)
{
    table.clearSelection();
    table.setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < rows[row].size(); ++column) {
            setCell(table, row, column, rows[row][column]);
        }
    }
    table.resizeColumnsToContents();
    table.resizeRowsToContents();
    // As tall as its rows and as wide as its columns, at least: the tables are short and fixed,
    // and the dialog scrolls rather than cut one.
    table.setFixedHeight(table.horizontalHeader()->sizeHint().height() +
                         table.verticalHeader()->length() + 2 * table.frameWidth());
    table.setMinimumWidth(table.horizontalHeader()->length() + 2 * table.frameWidth());
}

// A layout or widget handed to the parent named in its arguments, which owns it from then on.
template <class T, class... Args> T* child(Args&&... args)
{
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}

QLabel& wrapping(QLabel& label)
{
    label.setWordWrap(true);
    label.setTextFormat(Qt::PlainText);
    label.setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

QString tableText(const QTableWidget& table)
{
    QList<QTableWidgetSelectionRange> ranges = table.selectedRanges();
    if (ranges.isEmpty()) {
        ranges << QTableWidgetSelectionRange(0, 0, table.rowCount() - 1, table.columnCount() - 1);
    }
    int left = table.columnCount();
    int right = -1;
    for (const auto& range : ranges) {
        left = std::min(left, range.leftColumn());
        right = std::max(right, range.rightColumn());
    }
    const auto selected = [&ranges](int row, int column) {
        return std::any_of(ranges.begin(), ranges.end(), [row, column](const auto& range) {
            return row >= range.topRow() && row <= range.bottomRow() &&
                   column >= range.leftColumn() && column <= range.rightColumn();
        });
    };
    QString text;
    for (int row = -1; row < table.rowCount(); ++row) {
        QStringList cells;
        bool any = row < 0;
        for (int column = left; column <= right; ++column) {
            if (row < 0) {
                cells << table.horizontalHeaderItem(column)->text();
            } else if (selected(row, column)) {
                any = true;
                cells << (table.item(row, column) ? table.item(row, column)->text() : QString());
            } else {
                cells << QString();
            }
        }
        if (any) {
            text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
        }
    }
    return text;
}

DetailsDialog::DetailsDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("details"));
    setWindowTitle(QStringLiteral("Kestrum: details"));
    blockName_.setObjectName(QStringLiteral("blockName"));
    place_.setObjectName(QStringLiteral("place"));
    countDate_.setObjectName(QStringLiteral("countDate"));
    observer_.setObjectName(QStringLiteral("observer"));
    notes_.setObjectName(QStringLiteral("notes"));
    blockName_.setPlaceholderText(QStringLiteral("market"));
    place_.setPlaceholderText(QStringLiteral("town, district"));
    countDate_.setPlaceholderText(QStringLiteral("12 to 14 March 2026"));
    notes_.setTabChangesFocus(true);
    notes_.setFixedHeight(notes_.fontMetrics().lineSpacing() * 3 + 12);
    summary_.setObjectName(QStringLiteral("summary"));
    estimates_.setObjectName(QStringLiteral("estimates"));
    estimateNotes_.setObjectName(QStringLiteral("estimateNotes"));
    frequencies_.setObjectName(QStringLiteral("frequencies"));
    fitCheck_.setObjectName(QStringLiteral("fitCheck"));
    warnings_.setObjectName(QStringLiteral("warnings"));
    streetCount_.setObjectName(QStringLiteral("streetCount"));
    population_.setObjectName(QStringLiteral("population"));
    prepare(estimates_, estimateColumns());
    prepare(frequencies_, frequencyColumns());
    // Ctrl+C copies the selection, not the current cell alone as the table would.
    estimates_.installEventFilter(this);
    frequencies_.installEventFilter(this);

    streetCount_.setPlaceholderText(QStringLiteral("dogs counted on the street"));
    connect(&streetCount_, &QLineEdit::textChanged, this, &DetailsDialog::showPopulation);

    // Layouts and boxes belong to the widget they are made in; the content to the scroll area.
    auto contentOwner = std::make_unique<QWidget>();
    QWidget* content = contentOwner.get();
    auto* layout = child<QVBoxLayout>(content);
    auto* blockBox = child<QGroupBox>(QStringLiteral("The block, for the report"), content);
    auto* blockLayout = child<QFormLayout>(blockBox);
    blockLayout->addRow(QStringLiteral("Block:"), &blockName_);
    blockLayout->addRow(QStringLiteral("Place:"), &place_);
    blockLayout->addRow(QStringLiteral("Date of the counts:"), &countDate_);
    blockLayout->addRow(QStringLiteral("Observer:"), &observer_);
    blockLayout->addRow(QStringLiteral("Notes:"), &notes_);
    layout->addWidget(blockBox);
    layout->addWidget(&wrapping(summary_));
    auto* estimatesBox = child<QGroupBox>(QStringLiteral("Estimates"), content);
    auto* estimatesLayout = child<QVBoxLayout>(estimatesBox);
    estimatesLayout->addWidget(&estimates_);
    estimatesLayout->addWidget(&wrapping(estimateNotes_));
    layout->addWidget(estimatesBox);
    auto* fitBox = child<QGroupBox>(QStringLiteral("Fit check"), content);
    auto* fitLayout = child<QVBoxLayout>(fitBox);
    fitLayout->addWidget(&frequencies_);
    fitLayout->addWidget(&wrapping(fitCheck_));
    layout->addWidget(fitBox);
    auto* warningsBox = child<QGroupBox>(QStringLiteral("Warnings"), content);
    (child<QVBoxLayout>(warningsBox))->addWidget(&wrapping(warnings_));
    layout->addWidget(warningsBox);
    auto* populationBox = child<QGroupBox>(QStringLiteral("Dogs in the block"), content);
    auto* populationLayout = child<QFormLayout>(populationBox);
    populationLayout->addRow(QStringLiteral("Street count:"), &streetCount_);
    populationLayout->addRow(&wrapping(population_));
    layout->addWidget(populationBox);
    layout->addStretch();
    // The boxes take the height of what they hold; the stretch below takes the rest.
    for (auto* box : content->findChildren<QGroupBox*>()) {
        box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    }

    auto* scroll = child<QScrollArea>(this);
    scroll->setObjectName(QStringLiteral("detailsScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(contentOwner.release());
    (child<QVBoxLayout>(this))->addWidget(scroll);
    layout->setContentsMargins(0, 0, 0, 0);
    resize(680, 660);
}

void DetailsDialog::show(const std::optional<BlockAnalysis>& block)
{
    block_ = block;
    if (!block_) {
        summary_.setText(QStringLiteral("Press \"estimate\" first: the details describe the last "
                                        "estimate."));
        estimates_.setRowCount(0);
        frequencies_.setRowCount(0);
        for (QLabel* label : {&estimateNotes_, &fitCheck_, &warnings_}) {
            label->clear();
        }
        showPopulation();
        QDialog::show();
        return;
    }
    summary_.setText(summarySentence(*block_));
    fill(estimates_, estimateRows(*block_));
    const QStringList notes = estimateNotes(*block_);
    estimateNotes_.setText(notes.join(QLatin1Char('\n')));
    estimateNotes_.setVisible(!notes.isEmpty());
    fill(frequencies_, frequencyRows(*block_));
    fitCheck_.setText(fitCheckSentence(*block_));

    const QStringList sentences = warningSentences(*block_);
    warnings_.setText(sentences.isEmpty()
                          ? QStringLiteral("None.")
                          : QStringLiteral("• ") + sentences.join(QStringLiteral("\n• ")));
    showPopulation();
    if (!isVisible()) {
        // Tall enough for everything when the screen allows; a size the user chose is kept.
        const auto* scroll = findChild<QScrollArea*>();
        const int needed =
            scroll->widget()->sizeHint().height() + 2 * layout()->contentsMargins().top();
        const int room =
            screen() != nullptr ? screen()->availableGeometry().height() * 9 / 10 : needed;
        resize(width(), std::clamp(needed, 660, std::max(room, 660)));
    }
    QDialog::show();
    raise();
}

bool DetailsDialog::eventFilter(QObject* watched, QEvent* event)
{
    auto* table = qobject_cast<QTableWidget*>(watched);
    if (table != nullptr && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(tableText(*table));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<double> DetailsDialog::streetCount() const
{
    const auto count = text::toDouble(streetCount_.text().trimmed());
    if (!count || !(*count.value >= 0.0)) {
        return std::nullopt;
    }
    return *count.value;
}

BlockDetails DetailsDialog::blockDetails() const
{
    return {blockName_.text().trimmed(), place_.text().trimmed(), countDate_.text().trimmed(),
            observer_.text().trimmed(), notes_.toPlainText().trimmed()};
}

void DetailsDialog::setBlock(const BlockDetails& details, std::optional<double> streetCount)
{
    blockName_.setText(details.name);
    place_.setText(details.place);
    countDate_.setText(details.date);
    observer_.setText(details.observer);
    notes_.setPlainText(details.notes);
    streetCount_.setText(streetCount ? text::plain(*streetCount) : QString());
}

void DetailsDialog::clearBlock()
{
    streetCount_.clear();
    blockName_.clear();
    notes_.clear();
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
    // Refusals included: a count too large for N is said here, and is not in the report.
    population_.setText(populationSentence(*block_, *count.value));
}

} // namespace kestrum
