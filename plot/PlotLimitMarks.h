// Short upright marks where the profile meets the dashed line: the exact 95% limits, placed on the
// plot's own scale so the eye finds them where it would read them.
#pragma once

#include <span>

#include "PlotCurve.h"

namespace kestrum {

// limitsInPercent: the limits to mark, in the units of XLABELS. A limit outside the plotted range,
// or a dashed line that falls off the canvas, gets no mark.
void PlotLimitMarks(Canvas& picLL, const PlotValues& YVALS, const PlotValues& XLABELS,
                    std::int16_t NPOINTS, std::span<const double> limitsInPercent);

} // namespace kestrum
