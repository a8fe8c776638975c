#include "ImageCanvas.h"

#include <QFontMetricsF>
#include <QLine>
#include <QPainter>
#include <QPen>
#include <QRectF>

#include <cmath>

#include "LineClip.h"
#include "NumberText.h"

namespace kestrum {

namespace {

constexpr QImage::Format kFormat = QImage::Format_RGB32;

bool finite(QPointF point)
{
    return std::isfinite(point.x()) && std::isfinite(point.y());
}

// The pixel that holds the point: pixel (i, j) covers [i, i + 1) x [j, j + 1).
QPoint pixelOf(QPointF point)
{
    return QPoint(static_cast<int>(std::floor(point.x())), static_cast<int>(std::floor(point.y())));
}

} // namespace

QColor toQColor(Colour colour)
{
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

ImageCanvas::ImageCanvas(QSize size, const QFont& font, const QColor& background)
    : image_(size.expandedTo(QSize(0, 0)), kFormat), font_(font), background_(background)
{
    image_.fill(background_);
}

void ImageCanvas::resize(QSize size)
{
    size = size.expandedTo(QSize(0, 0));
    if (size == image_.size())
        return;
    QImage next(size, kFormat);
    next.fill(background_);
    if (!next.isNull() && !image_.isNull()) {
        QPainter painter(&next);
        painter.drawImage(0, 0, image_);
    }
    image_ = std::move(next);
    notify();
}

void ImageCanvas::clear()
{
    image_.fill(background_);
    notify();
}

void ImageCanvas::drawLine(Point start, Point end, Colour colour)
{
    QPointF from(start.x(), start.y());
    QPointF to(end.x(), end.y());
    if (image_.isNull() || !finite(from) || !finite(to))
        return;
    // One pixel of margin, so that an end just outside still shapes the visible part.
    if (!clipLine(from, to, -1.0, -1.0, image_.width() + 1.0, image_.height() + 1.0))
        return;

    QPen pen(toQColor(colour));
    pen.setWidth(0); // cosmetic: one pixel whatever the transformation
    if (drawStyle() == DrawStyle::Dash)
        pen.setDashPattern({6.0, 4.0});
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(pen);
    painter.drawLine(QLine(pixelOf(from), pixelOf(to)));
    painter.end();
    notify();
}

void ImageCanvas::drawText(Point position, const std::string& utf8)
{
    const QPointF topLeft(position.x(), position.y());
    const QString text = QString::fromStdString(utf8);
    if (image_.isNull() || !finite(topLeft) || text.isEmpty())
        return;
    const QFontMetricsF metrics(font_, &image_);
    const QRectF box(topLeft, QSizeF(metrics.horizontalAdvance(text), metrics.height()));
    if (!box.intersects(QRectF(image_.rect())))
        return;

    QPainter painter(&image_);
    painter.setFont(font_);
    painter.setPen(toQColor(ForeColor()));
    painter.drawText(QPointF(topLeft.x(), topLeft.y() + metrics.ascent()), text);
    painter.end();
    notify();
}

text::NumberLocale ImageCanvas::numberLocale() const
{
    return text::numberLocaleOf(QLocale());
}

double ImageCanvas::lineHeight() const
{
    return image_.isNull() ? QFontMetricsF(font_).lineSpacing()
                           : QFontMetricsF(font_, &image_).lineSpacing();
}

double ImageCanvas::textWidth(const std::string& text) const
{
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return image_.isNull() ? QFontMetricsF(font_).horizontalAdvance(shown)
                           : QFontMetricsF(font_, &image_).horizontalAdvance(shown);
}

void ImageCanvas::notify() const
{
    if (changed_)
        changed_();
}

} // namespace kestrum
