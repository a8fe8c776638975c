// A Canvas that keeps everything drawn on it, in order, for tests to examine: each line with its
// colour and dash style, each printed text with its position and colour, and each clear. Its size
// and line height are set by the test.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "Canvas.h"

namespace kestrum {

struct RecordedLine {
    Point from;
    Point to;
    Colour colour;
    DrawStyle style;
    std::size_t order; // place among everything drawn and cleared on this canvas, from 0

    friend bool operator==(const RecordedLine&, const RecordedLine&) = default;
};

struct RecordedText {
    Point topLeft;
    std::string text;
    Colour colour;
    std::size_t order;

    friend bool operator==(const RecordedText&, const RecordedText&) = default;
};

class RecordingCanvas final : public Canvas {
public:
    explicit RecordingCanvas(double width = 949.0, double height = 381.0, double lineHeight = 13.0)
        : width_(width), height_(height), lineHeight_(lineHeight)
    {}

    double ScaleWidth() const override { return width_; }
    double ScaleHeight() const override { return height_; }
    void setSize(double width, double height)
    {
        width_ = width;
        height_ = height;
    }
    void setLineHeight(double lineHeight) { lineHeight_ = lineHeight; }
    // Every character takes this much room to the right.
    void setCharacterWidth(double width) { characterWidth_ = width; }
    // How numbers are written on it: with a decimal point unless told otherwise.
    void setNumberLocale(text::NumberLocale locale) { locale_ = std::move(locale); }
    text::NumberLocale numberLocale() const override { return locale_; }

    const std::vector<RecordedLine>& lines() const { return lines_; }
    const std::vector<RecordedText>& texts() const { return texts_; }
    // The order of each clear.
    const std::vector<std::size_t>& clears() const { return clears_; }
    // Forgets what was recorded; the canvas state (colour, style, text position) stays.
    void forget();

protected:
    void clear() override;
    void drawLine(Point from, Point to, Colour colour) override;
    void drawText(Point topLeft, const std::string& text) override;
    double lineHeight() const override { return lineHeight_; }
    // Characters, not bytes: an ellipsis is one.
    double textWidth(const std::string& text) const override;

private:
    double width_;
    double height_;
    double lineHeight_;
    double characterWidth_ = 7.0;
    text::NumberLocale locale_;
    std::size_t next_ = 0;
    std::vector<RecordedLine> lines_;
    std::vector<RecordedText> texts_;
    std::vector<std::size_t> clears_;
};

} // namespace kestrum
