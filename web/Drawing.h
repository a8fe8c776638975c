// A drawing recorded on the core's canvas as the page's script replays it on an HTML canvas.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "ForestPlot.h"
#include "NumberCore.h"
#include "RecordingCanvas.h"

namespace kestrum::web {

// In the order drawn, clears, lines and texts interleaved: ["clear"],
// ["line", x1, y1, x2, y2, colour, dashed], ["text", x, y, text, colour].
nlohmann::json drawingJson(const RecordingCanvas& canvas);

// A survey's forest plot kept for the page to draw the rows in view as it scrolls, as the survey
// window draws it: a plot of thousands of blocks is drawn a canvas's worth at a time.
class ForestDrawing {
public:
    ForestDrawing() = default;
    ForestDrawing(ForestPlot plot, text::NumberLocale locale)
        : plot_(std::move(plot)), locale_(std::move(locale))
    {}

    // request: {"first": the first row shown, "canvas": {"width", "height", "lineHeight",
    //           "characterWidth"}}
    // answer: {"width", "height", "ops", "rows": in all, "fit": rows a canvas of that height
    //          shows, "rowHeight", "fullHeight": a canvas's height that shows every row}
    std::string draw(const std::string& request) const;

private:
    ForestPlot plot_;
    text::NumberLocale locale_;
};

} // namespace kestrum::web
