// Draws one curve with its ticks, x labels, caption, value labels, title and the dashed red line
// 1.92 below the highest value, scaled to fill most of the canvas. The caller clears the canvas.
#pragma once

#include <QString>

#include <cstdint>

#include "Canvas.h"
#include "OneBased.h"

namespace kestrum {

using PlotValues = OneBased<float, 100>;

// xCaption is "% seen" when the profile is of P, "% stay" when of S (the window's optP).
void PlotCurve(Canvas& picLL, const PlotValues& YVALS, const PlotValues& XLABELS,
               std::int16_t NPOINTS, const QString& TITLE, std::int16_t TITLETOP, Colour LINECOLOUR,
               bool AUTOSCALE, bool profileOfP);

} // namespace kestrum
