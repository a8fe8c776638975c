// Everything the last estimate found, in tables: the estimates with their standard errors, Wald
// and profile limits; observed and expected frequencies with the fit check; the warnings; and the
// dogs in the block for a street count typed here.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

#include <optional>

#include "BlockAnalysis.h"

namespace kestrum {

class DetailsDialog : public QDialog {
    Q_OBJECT

public:
    explicit DetailsDialog(QWidget* parent = nullptr);

    void show(const std::optional<BlockAnalysis>& block);

private:
    void showPopulation();

    QLabel summary_;
    QTableWidget estimates_;
    QTableWidget frequencies_;
    QLabel fitCheck_;
    QLabel warnings_;
    QLineEdit streetCount_;
    QLabel population_;
    std::optional<BlockAnalysis> block_;
};

} // namespace kestrum
