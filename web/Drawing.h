// A drawing recorded on the core's canvas as the page's script replays it on an HTML canvas.
#pragma once

#include <nlohmann/json.hpp>

#include "RecordingCanvas.h"

namespace kestrum::web {

// In the order drawn, clears, lines and texts interleaved: ["clear"],
// ["line", x1, y1, x2, y2, colour, dashed], ["text", x, y, text, colour].
nlohmann::json drawingJson(const RecordingCanvas& canvas);

} // namespace kestrum::web
