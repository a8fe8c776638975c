#include "Drawing.h"

#include <vector>

namespace kestrum::web {

nlohmann::json drawingJson(const RecordingCanvas& canvas)
{
    using nlohmann::json;
    std::vector<json> ops(canvas.clears().size() + canvas.lines().size() + canvas.texts().size());
    for (const std::size_t order : canvas.clears()) {
        ops[order] = json::array({"clear"});
    }
    for (const RecordedLine& line : canvas.lines()) {
        ops[line.order] = json::array({"line", line.from.x(), line.from.y(), line.to.x(),
                                       line.to.y(), line.colour, line.style == DrawStyle::Dash});
    }
    for (const RecordedText& text : canvas.texts()) {
        ops[text.order] =
            json::array({"text", text.topLeft.x(), text.topLeft.y(), text.text, text.colour});
    }
    return ops;
}

} // namespace kestrum::web
