#include "PainterCanvas.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>

#include <cmath>

#include "ImageCanvas.h"
#include "LineClip.h"
#include "NumberText.h"

namespace kestrum {

namespace {

constexpr double kScreenDpi = 96.0;

bool finite(QPointF point)
{
    return std::isfinite(point.x()) && std::isfinite(point.y());
}

} // namespace

PainterCanvas::PainterCanvas(QPainter& painter, QSizeF size, const QFont& font)
    : painter_(painter), size_(size), font_(font)
{
    // The painter sizes a font in points by the device's resolution and then applies its own
    // scaling on top; text must come out as many canvas units tall as on a 96 dpi screen.
    const int dpi = painter.device() != nullptr ? painter.device()->logicalDpiY() : 0;
    if (dpi > 0 && font_.pointSizeF() > 0.0) {
        font_.setPointSizeF(font_.pointSizeF() * kScreenDpi / dpi);
    }
}

void PainterCanvas::clear()
{
    painter_.fillRect(QRectF(QPointF(0.0, 0.0), size_), Qt::white);
}

void PainterCanvas::drawLine(Point start, Point end, Colour colour)
{
    QPointF from(start.x(), start.y());
    QPointF to(end.x(), end.y());
    if (!finite(from) || !finite(to) ||
        !clipLine(from, to, 0.0, 0.0, size_.width(), size_.height())) {
        return;
    }
    QPen pen(toQColor(colour));
    pen.setWidthF(1.0);
    pen.setCapStyle(Qt::FlatCap);
    if (drawStyle() == DrawStyle::Dash) {
        pen.setDashPattern({6.0, 4.0});
    }
    painter_.save();
    painter_.setPen(pen);
    painter_.drawLine(from, to);
    painter_.restore();
}

void PainterCanvas::drawText(Point position, const std::string& utf8)
{
    const QPointF topLeft(position.x(), position.y());
    const QString text = QString::fromStdString(utf8);
    if (!finite(topLeft) || text.isEmpty()) {
        return;
    }
    const QFontMetricsF metrics(font_, painter_.device());
    const QRectF box(topLeft, QSizeF(metrics.horizontalAdvance(text), metrics.height()));
    if (!box.intersects(QRectF(QPointF(0.0, 0.0), size_))) {
        return;
    }
    painter_.save();
    painter_.setClipRect(QRectF(QPointF(0.0, 0.0), size_), Qt::IntersectClip);
    painter_.setFont(font_);
    painter_.setPen(toQColor(ForeColor()));
    painter_.drawText(QPointF(topLeft.x(), topLeft.y() + metrics.ascent()), text);
    painter_.restore();
}

text::NumberLocale PainterCanvas::numberLocale() const
{
    return text::numberLocaleOf(QLocale());
}

double PainterCanvas::lineHeight() const
{
    return QFontMetricsF(font_, painter_.device()).lineSpacing();
}

double PainterCanvas::textWidth(const std::string& text) const
{
    return QFontMetricsF(font_, painter_.device())
        .horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace kestrum
