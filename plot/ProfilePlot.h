// One profile as drawn: what the curve and the limit marks were given, so that the same drawing can
// be made again on another canvas (a PDF page, a printer) and come out the same.
#pragma once

#include <string>
#include <vector>

#include "PlotCurve.h"
#include "PlotLimitMarks.h"

namespace kestrum {

struct ProfilePlot {
    PlotValues YVALS;
    PlotValues XLABELS;
    std::int16_t NPOINTS = 0;
    std::string TITLE;
    std::int16_t TITLETOP = 0;
    Colour LINECOLOUR = kBlack;
    bool profileOfP = true;
    std::vector<double> limitsInPercent;
};

// Clears the canvas, draws the curve, then the limit marks; returns what became of each mark.
std::vector<LimitMark> drawProfile(Canvas& canvas, const ProfilePlot& plot);

} // namespace kestrum
