#include "ForestView.h"

#include <QPainter>
#include <QScrollBar>

#include "PainterCanvas.h"
#include "RecordingCanvas.h"

namespace kestrum {

ForestView::ForestView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName(QStringLiteral("forest"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setMinimumSize(320, 200);
}

void ForestView::setPlot(ForestPlot plot)
{
    plot_ = std::move(plot);
    scale_.reset();
    verticalScrollBar()->setValue(0);
    fitScrollBar();
    viewport()->update();
}

std::size_t ForestView::firstRow() const
{
    return static_cast<std::size_t>(verticalScrollBar()->value());
}

std::size_t ForestView::rowsShown() const
{
    const QFontMetricsF metrics(font());
    RecordingCanvas canvas(viewport()->width(), viewport()->height(), metrics.lineSpacing());
    return forestRowsThatFit(canvas);
}

void ForestView::fitScrollBar()
{
    const std::size_t fit = std::max<std::size_t>(1, rowsShown());
    const std::size_t rows = plot_.rows.size();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, rows > fit ? static_cast<int>(rows - fit) : 0);
    bar->setPageStep(static_cast<int>(fit));
    bar->setSingleStep(1);
}

void ForestView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    // The axis right under the last row when the rows do not fill the view.
    PainterCanvas measure(painter, viewport()->size(), font());
    const std::size_t rows = plot_.rows.size() - std::min(firstRow(), plot_.rows.size());
    const double height = std::min<double>(viewport()->height(),
                                           forestHeight(measure, std::max<std::size_t>(rows, 1)));
    PainterCanvas canvas(painter, QSizeF(viewport()->width(), height), font());
    if (!scale_) {
        scale_ = forestScale(canvas, plot_);
    }
    drawForest(canvas, plot_, *scale_, firstRow(), rows);
}

void ForestView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    scale_.reset();
    fitScrollBar();
}

void ForestView::scrollContentsBy(int, int)
{
    viewport()->update();
}

} // namespace kestrum
