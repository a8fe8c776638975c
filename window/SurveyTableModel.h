// Every row of a survey for a QTableView: what each cell says comes from SurveyText as the rows
// are shown, so a survey of any size opens at once and scrolls without delay, and sorting orders
// an index of the rows, never the rows themselves.
#pragma once

#include <QAbstractTableModel>

#include <memory>
#include <vector>

#include "SurveyLoad.h"
#include "SurveyText.h"

namespace kestrum {

class SurveyTableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit SurveyTableModel(QObject* parent = nullptr);

    // Shows the survey's rows in input order; nothing with nullptr.
    void setSurvey(std::shared_ptr<const LoadedSurvey> loaded);
    // The row shown at position row, after sorting.
    const survey::RowSummary& summary(int row) const;
    // What the column at this position shows.
    BlockColumn column(int column) const { return columns_[static_cast<std::size_t>(column)]; }
    // The position of a column; -1 when it is not shown.
    int position(BlockColumn column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // A stable sort: rows that tie keep their order, so a second sort refines the first. Rows
    // without a value go last either way.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    std::shared_ptr<const LoadedSurvey> loaded_;
    std::vector<BlockColumn> columns_;
    std::vector<std::size_t> order_; // the row shown at each position
};

} // namespace kestrum
