// Short upright marks where the profile meets the dashed line: the exact 95% limits, placed on the
// plot's own scale so the eye finds them where it would read them.
#pragma once

#include <span>
#include <vector>

#include "PlotCurve.h"

namespace kestrum {

enum class LimitMark {
    Drawn,
    OutsidePlot,   // the limit lies beyond the positions plotted
    OffCurve,      // the drawn curve does not cross the dashed line there
    LineOffCanvas, // the dashed line falls outside the canvas, or nothing is plotted
};

// limitsInPercent: the limits to mark, in the units of XLABELS. A mark is drawn only where the
// drawn curve crosses the drawn dashed line within a few units of it: the line lies 1.92 below the
// highest point plotted, not below the maximum, and the two part when the maximum lies between
// points or beyond them (an estimate on a bound). Returns what became of each limit, in order.
std::vector<LimitMark> PlotLimitMarks(Canvas& picLL, const PlotValues& YVALS,
                                      const PlotValues& XLABELS, std::int16_t NPOINTS,
                                      std::span<const double> limitsInPercent);

} // namespace kestrum
