#include "RecordingCanvas.h"

namespace kestrum {

void RecordingCanvas::forget()
{
    next_ = 0;
    lines_.clear();
    texts_.clear();
    clears_.clear();
}

void RecordingCanvas::clear()
{
    clears_.push_back(next_++);
}

void RecordingCanvas::drawLine(Point from, Point to, Colour colour)
{
    lines_.push_back({from, to, colour, drawStyle(), next_++});
}

void RecordingCanvas::drawText(Point topLeft, const std::string& text)
{
    texts_.push_back({topLeft, text, ForeColor(), next_++});
}

double RecordingCanvas::textWidth(const std::string& text) const
{
    std::size_t characters = 0;
    for (const char c : text) {
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return characterWidth_ * static_cast<double>(characters);
}

} // namespace kestrum
