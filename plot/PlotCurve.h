// Draws one curve with its ticks, x labels, caption, value labels, title and the dashed red line
// 1.92 below the highest value, scaled to fill most of the canvas. The caller clears the canvas.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Canvas.h"
#include "OneBased.h"

namespace kestrum {

using PlotValues = OneBased<float, 100>;

// Where the plot puts its points: point j (1 .. n) at X(j), a value v at Y(v), the highest value at
// 0.125 and the lowest at 0.875 of the height. Single precision, as every stored working value.
struct PlotScale {
    float YMAX = 0.0f;
    float YMIN = 0.0f;
    float XMID = 0.0f;
    float YMID = 0.0f;
    float XSCALE = 0.0f;
    float YSCALE = 0.0f;
    double SW = 0.0;
    double SH = 0.0;
    int count = 0;

    // j may lie between two points.
    float X(double j) const;
    double Y(double v) const;
};

// Empty when nothing can be scaled: no values that compare, or all of them equal.
std::optional<PlotScale> plotScale(const Canvas& picLL, const PlotValues& YVALS,
                                   std::int16_t NPOINTS);

// profileOfP: caption "% seen" when the profile is of P, "% stay" when of S (the window's optP).
void PlotCurve(Canvas& picLL, const PlotValues& YVALS, const PlotValues& XLABELS,
               std::int16_t NPOINTS, const std::string& TITLE, std::int16_t TITLETOP,
               Colour LINECOLOUR, bool AUTOSCALE, bool profileOfP);

} // namespace kestrum
