// A Canvas that draws with a QPainter on any device (a PDF page, a printer) in units of the size
// given; the painter's transformation places and scales them on the device. It draws what
// ImageCanvas draws, as vectors: lines one unit wide, dashed 6 on and 4 off, cut to the canvas;
// text in the canvas's font, sized as on a 96 dpi screen, so the plot lays out as it does in the
// window.
#pragma once

#include <QFont>
#include <QSizeF>

#include "Canvas.h"

class QPainter;

namespace kestrum {

class PainterCanvas final : public Canvas {
public:
    PainterCanvas(QPainter& painter, QSizeF size, const QFont& font);

    double ScaleWidth() const override { return size_.width(); }
    double ScaleHeight() const override { return size_.height(); }

protected:
    void clear() override;
    void drawLine(Point from, Point to, Colour colour) override;
    void drawText(Point topLeft, const std::string& text) override;
    text::NumberLocale numberLocale() const override;
    double lineHeight() const override;
    double textWidth(const std::string& text) const override;

private:
    QPainter& painter_;
    QSizeF size_;
    QFont font_;
};

} // namespace kestrum
