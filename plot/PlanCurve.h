// The survey planner's curve: the expected half-width of the city total's 95% limits against the
// blocks counted, with the plan marked and the target as a dashed red line, drawn on a Canvas like
// the profile plot (black axes, the curve and title in blue, the 95% line red and dashed), so that
// the window, a PNG image and a PDF page show the same drawing.
#pragma once

#include <optional>
#include <vector>

#include "Canvas.h"

namespace kestrum {

struct PlanCurve {
    std::vector<Point> points; // (blocks counted, half-width in %), blocks rising
    std::optional<Point> plan; // the plan's point, marked
    std::optional<double> targetPct;
};

// Clears the canvas and draws the curve scaled to it. The y axis reaches three times the plan's
// half-width (or the target's) at most, so that the part of the curve a plan is chosen from is not
// squeezed flat by the wide limits of the smallest surveys; the rest runs off the top.
void drawPlanCurve(Canvas& canvas, const PlanCurve& curve);

} // namespace kestrum
