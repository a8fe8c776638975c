// The drawing surface the plot draws on, with the picture box's model: pixel scale, origin at the
// top-left of the inner area, a current colour and dash style, a text position that Print moves to
// x = 0 one line lower. Implementations: ImageCanvas (QPainter into a QImage, shown by PictureBox),
// PainterCanvas (any QPainter) and RecordingCanvas (keeps what was drawn: for tests, and for the
// page in a browser, which replays it). The interface and the drawing code need no Qt; text is
// UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "NumberCore.h"

namespace kestrum {

// A position in canvas units, with the accessors of Qt's QPointF.
class Point {
public:
    constexpr Point() = default;
    constexpr Point(double x, double y) : x_(x), y_(y) {}
    constexpr double x() const { return x_; }
    constexpr double y() const { return y_; }
    friend constexpr bool operator==(const Point&, const Point&) = default;

private:
    double x_ = 0.0;
    double y_ = 0.0;
};

// 0x00BBGGRR, as the window's colours are given.
using Colour = std::uint32_t;
constexpr Colour kBlack = 0x000000;
constexpr Colour kPureRed = 0x0000FF;

enum class DrawStyle { Solid = 0, Dash = 1 };

class Canvas {
public:
    virtual ~Canvas() = default;

    virtual double ScaleWidth() const = 0;
    virtual double ScaleHeight() const = 0;

    Colour ForeColor() const { return foreColor_; }
    void setForeColor(Colour colour) { foreColor_ = colour; }
    DrawStyle drawStyle() const { return drawStyle_; }
    void setDrawStyle(DrawStyle style) { drawStyle_ = style; }
    double CurrentX() const { return currentX_; }
    double CurrentY() const { return currentY_; }
    void setCurrentX(double x) { currentX_ = x; }
    void setCurrentY(double y) { currentY_ = y; }
    // The height of one text line in the canvas's font: how far Print moves down.
    double TextHeight() const { return lineHeight(); }
    // How far Print of this text reaches to the right, for drawings that lay text out in columns.
    double TextWidth(const std::string& text) const { return textWidth(text); }
    // How numbers printed on the canvas are written: the decimal point of the user's locale.
    virtual text::NumberLocale numberLocale() const { return {}; }

    // Clears to the background and puts the text position back at the origin.
    void Cls()
    {
        clear();
        currentX_ = 0.0;
        currentY_ = 0.0;
    }
    // A line in the current ForeColor, or in the colour given, in the current DrawStyle.
    void Line(Point from, Point to) { drawLine(from, to, foreColor_); }
    void Line(Point from, Point to, Colour colour) { drawLine(from, to, colour); }
    // One item with its top-left at the text position, in ForeColor; then the line ends.
    void Print(const std::string& text)
    {
        drawText(Point(currentX_, currentY_), text);
        currentX_ = 0.0;
        currentY_ += lineHeight();
    }

protected:
    virtual void clear() = 0;
    virtual void drawLine(Point from, Point to, Colour colour) = 0;
    virtual void drawText(Point topLeft, const std::string& text) = 0;
    virtual double lineHeight() const = 0;
    virtual double textWidth(const std::string& text) const = 0;

private:
    Colour foreColor_ = kBlack;
    DrawStyle drawStyle_ = DrawStyle::Solid;
    double currentX_ = 0.0;
    double currentY_ = 0.0;
};

} // namespace kestrum
