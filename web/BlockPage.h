// The block page of kestrum.html: one press of "estimate" or "simulate" as the window makes it,
// from the text of the page's boxes to everything the page shows, as JSON. Every number is
// computed and formatted here, in the browser's locale; the page only places the words around
// them (its texts are in texts.js, by key) and replays the plot's drawing on its canvas.
#pragma once

#include <string>

namespace kestrum::web {

// request: {"boxes": {"n100", "n111", "n101", "n110", "S", "P", "range", "count"} as typed,
//           "sFree", "profileOfP", "locale": {"decimalPoint", "negativeSign", "positiveSign"},
//           "canvas": {"width", "height", "lineHeight"}, "reportCanvas": the same, optional}
// The answer either refuses a box ({"refused": {"box", "history", "reason"}}: nothing else
// changes, as in the window) or holds the estimates for the boxes, the result and limits lines,
// the plot's drawing, the messages, the details and the report's settings.
std::string estimate(const std::string& request);

// request: {"boxes": {"S", "P"}, "locale"}. The frequencies among 100 dogs for the boxes, or the
// box that holds no number, or the history that cannot be computed.
std::string simulate(const std::string& request);

} // namespace kestrum::web
