// Everything the last estimate found, in tables: the estimates with their standard errors, Wald
// and profile limits; observed and expected frequencies with the fit check; the warnings; and the
// dogs in the block for a street count typed here. Above them, what the user says of the block for
// the report: its name, place, the date of the counts, the observer and notes. Long sentences
// stand below the tables, where they wrap; the whole scrolls rather than squeeze anything.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>

#include <optional>

#include "BlockAnalysis.h"
#include "Report.h"

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
    BlockDetails blockDetails() const;
    // A block taken up from a survey: its details and street count in place of those typed.
    void setBlock(const BlockDetails& details, std::optional<double> streetCount);
    // The street count, the block's name and the notes belong to the block they were typed for:
    // an estimate of another block clears them. The place, date and observer stay, being often
    // those of the next block too.
    void clearBlock();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPopulation();

    QLineEdit blockName_;
    QLineEdit place_;
    QLineEdit countDate_;
    QLineEdit observer_;
    QPlainTextEdit notes_;
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
