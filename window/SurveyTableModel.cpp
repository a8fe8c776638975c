#include "SurveyTableModel.h"

#include <QBrush>
#include <QCollator>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kestrum {

SurveyTableModel::SurveyTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void SurveyTableModel::setSurvey(std::shared_ptr<const LoadedSurvey> loaded)
{
    beginResetModel();
    loaded_ = std::move(loaded);
    columns_ = loaded_ ? blockColumns(*loaded_) : std::vector<BlockColumn>{};
    order_.resize(loaded_ ? loaded_->results.rows().size() : 0);
    std::iota(order_.begin(), order_.end(), std::size_t{0});
    endResetModel();
}

const survey::RowSummary& SurveyTableModel::summary(int row) const
{
    return loaded_->results.rows()[order_[static_cast<std::size_t>(row)]];
}

int SurveyTableModel::position(BlockColumn column) const
{
    const auto at = std::find(columns_.begin(), columns_.end(), column);
    return at == columns_.end() ? -1 : static_cast<int>(at - columns_.begin());
}

int SurveyTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int SurveyTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant SurveyTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const survey::RowSummary& row = summary(index.row());
    const BlockColumn column = this->column(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return blockCell(row, column);
    case Qt::ToolTipRole:
        return column == BlockColumn::Warnings || column == BlockColumn::Block
                   ? QVariant(blockCell(row, column))
                   : QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(isTextColumn(column) ? Qt::AlignLeft | Qt::AlignVCenter
                                                        : Qt::AlignRight | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        // A row that is not a block, and warnings, in the dark red of a message that needs care.
        if (row.failed || (column == BlockColumn::Warnings && !row.warnings.empty())) {
            return QBrush(QColor(160, 0, 0));
        }
        return {};
    default:
        return {};
    }
}

QVariant SurveyTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return blockColumnTitle(column(section));
    }
    return {};
}

void SurveyTableModel::sort(int column, Qt::SortOrder order)
{
    if (!loaded_ || column < 0 || column >= columnCount()) {
        return;
    }
    const auto& rows = loaded_->results.rows();
    const BlockColumn by = this->column(column);
    const bool down = order == Qt::DescendingOrder;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> was = order_;
    // The rows in input order first, so that ties keep it whatever sorted before.
    std::sort(order_.begin(), order_.end());
    if (isTextColumn(by)) {
        // Names as people read them: "block 9" before "block 10".
        QCollator collator;
        collator.setNumericMode(true);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::vector<QString> texts(rows.size());
        for (std::size_t k = 0; k < rows.size(); ++k) {
            texts[k] = blockCell(rows[k], by);
        }
        std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
            if (texts[a].isEmpty() != texts[b].isEmpty()) {
                return texts[b].isEmpty();
            }
            const int compared = collator.compare(texts[a], texts[b]);
            return down ? compared > 0 : compared < 0;
        });
    } else {
        std::vector<double> values(rows.size());
        for (std::size_t k = 0; k < rows.size(); ++k) {
            values[k] = blockSortValue(rows[k], by);
        }
        std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
            if (std::isnan(values[a]) || std::isnan(values[b])) {
                return !std::isnan(values[a]) && std::isnan(values[b]);
            }
            return down ? values[a] > values[b] : values[a] < values[b];
        });
    }
    // Selections and the current row follow their rows.
    std::vector<int> position(order_.size());
    for (std::size_t k = 0; k < order_.size(); ++k) {
        position[order_[k]] = static_cast<int>(k);
    }
    QModelIndexList after;
    for (const QModelIndex& index : before) {
        after << this->index(position[was[static_cast<std::size_t>(index.row())]], index.column());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace kestrum
