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

std::string ForestDrawing::draw(const std::string& requestText) const
{
    using nlohmann::json;
    const json request = json::parse(requestText);
    const json& size = request.at("canvas");
    RecordingCanvas canvas(size.at("width").get<double>(), size.at("height").get<double>(),
                           size.at("lineHeight").get<double>());
    canvas.setCharacterWidth(size.at("characterWidth").get<double>());
    canvas.setNumberLocale(locale_);
    const auto first = request.value("first", std::size_t{0});
    const std::size_t fit = forestRowsThatFit(canvas);
    drawForest(canvas, plot_, forestScale(canvas, plot_), first, fit);
    return json{{"width", canvas.ScaleWidth()},
                {"height", canvas.ScaleHeight()},
                {"ops", drawingJson(canvas)},
                {"rows", plot_.rows.size()},
                {"fit", fit},
                {"rowHeight", forestRowHeight(canvas)},
                {"fullHeight", forestHeight(canvas, plot_.rows.size())}}
        .dump();
}

} // namespace kestrum::web
