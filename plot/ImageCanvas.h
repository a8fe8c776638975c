// A Canvas that paints into a QImage: one image pixel per canvas unit, origin at the image's
// top-left. Lines are drawn aliased and one pixel wide, from the pixel that holds each end point to
// the pixel that holds the other, both included; a dashed line runs 6 pixels on, 4 off. Text is
// drawn in the canvas's font with its top-left at the text position, and Print moves down by the
// font's line spacing.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>

#include <functional>
#include <utility>

#include "Canvas.h"

namespace kestrum {

QColor toQColor(Colour colour);

class ImageCanvas final : public Canvas {
public:
    explicit ImageCanvas(QSize size, const QFont& font = QFont(),
                         const QColor& background = QColor(Qt::white));

    double ScaleWidth() const override { return image_.width(); }
    double ScaleHeight() const override { return image_.height(); }

    const QImage& image() const { return image_; }
    const QColor& background() const { return background_; }
    const QFont& font() const { return font_; }
    // Applies to text printed from now on; what is drawn stays as it is.
    void setFont(const QFont& font) { font_ = font; }

    // The picture keeps its place at the top-left: growing adds background, shrinking crops.
    void resize(QSize size);

    // Called after anything changes the image, so that a view can schedule a repaint.
    void setChanged(std::function<void()> changed) { changed_ = std::move(changed); }

protected:
    void clear() override;
    void drawLine(Point from, Point to, Colour colour) override;
    void drawText(Point topLeft, const std::string& text) override;
    text::NumberLocale numberLocale() const override;
    double lineHeight() const override;
    double textWidth(const std::string& text) const override;

private:
    void notify() const;

    QImage image_;
    QFont font_;
    QColor background_;
    std::function<void()> changed_;
};

} // namespace kestrum
