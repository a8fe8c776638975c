// The survey's forest plot in the survey window: as many rows as the view holds, drawn on the
// widget's own painter through the plot's canvas, and a scroll bar for the rest, so a survey of any
// size scrolls without delay. Every part keeps the scale of the whole plot.
#pragma once

#include <QAbstractScrollArea>

#include <cstddef>
#include <optional>

#include "ForestPlot.h"

namespace kestrum {

class ForestView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ForestView(QWidget* parent = nullptr);

    void setPlot(ForestPlot plot);
    const ForestPlot& plot() const { return plot_; }
    // The row at the top of the view, and how many rows it shows.
    std::size_t firstRow() const;
    std::size_t rowsShown() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void fitScrollBar();

    ForestPlot plot_;
    std::optional<ForestScale> scale_; // made again when the width changes
};

} // namespace kestrum
