// Everything the last estimate found, in tables: the estimates with their standard errors, Wald
// and profile limits; observed and expected frequencies with the fit check; the warnings; and the
// dogs in the block for a street count typed here. Long sentences stand below the tables, where
// they wrap; the whole scrolls rather than squeeze anything.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

#include <optional>

#include "BlockAnalysis.h"

namespace kestrum {

// The selected cells of a table (all of it when none are selected), with the column headings, tab
// between cells and a line end after each row: what pastes into a spreadsheet.
QString tableText(const QTableWidget& table);

class DetailsDialog : public QDialog {
    Q_OBJECT

public:
    explicit DetailsDialog(QWidget* parent = nullptr);

    void show(const std::optional<BlockAnalysis>& block);
    // The street count typed, when it is a number of 0 or more.
    std::optional<double> streetCount() const;
    // A street count belongs to the block it was typed for: an estimate of another block clears
    // it.
    void clearStreetCount();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPopulation();

    QLabel summary_;
    QTableWidget estimates_;
    QLabel estimateNotes_;
    QTableWidget frequencies_;
    QLabel fitCheck_;
    QLabel warnings_;
    QLineEdit streetCount_;
    QLabel population_;
    std::optional<BlockAnalysis> block_;
};

} // namespace kestrum
