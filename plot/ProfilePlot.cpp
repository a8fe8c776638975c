#include "ProfilePlot.h"

namespace kestrum {

std::vector<LimitMark> drawProfile(Canvas& canvas, const ProfilePlot& plot)
{
    canvas.Cls();
    PlotCurve(canvas, plot.YVALS, plot.XLABELS, plot.NPOINTS, plot.TITLE, plot.TITLETOP,
              plot.LINECOLOUR, true, plot.profileOfP);
    return PlotLimitMarks(canvas, plot.YVALS, plot.XLABELS, plot.NPOINTS, plot.limitsInPercent);
}

} // namespace kestrum
