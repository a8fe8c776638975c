#include "PlotLimitMarks.h"

#include <cmath>
#include <limits>

namespace kestrum {

namespace {

// Half the height of a mark, in pixels: enough to stand out from the dashes.
constexpr double kHalfMark = 7.0;
// How far, in pixels, the drawn curve may cross the line from a limit for the mark to sit on it.
constexpr double kAgreement = 3.0;

// The x of the crossing of the drawn curve with the line nearest to x, or infinity when none.
double nearestCrossing(const PlotScale& scale, const PlotValues& YVALS, double lineY, double x)
{
    double best = std::numeric_limits<double>::infinity();
    for (int j = 1; j < scale.count; ++j) {
        const double a = static_cast<float>(scale.Y(YVALS(j))) - lineY;
        const double b = static_cast<float>(scale.Y(YVALS(j + 1))) - lineY;
        if (!(a * b <= 0.0) || a == b) {
            continue;
        }
        const double crossing = scale.X(j + a / (a - b));
        if (std::abs(crossing - x) < std::abs(best - x)) {
            best = crossing;
        }
    }
    return best;
}

} // namespace

std::vector<LimitMark> PlotLimitMarks(Canvas& picLL, const PlotValues& YVALS,
                                      const PlotValues& XLABELS, std::int16_t NPOINTS,
                                      std::span<const double> limitsInPercent)
{
    std::vector<LimitMark> outcomes(limitsInPercent.size(), LimitMark::LineOffCanvas);
    const std::optional<PlotScale> scale = plotScale(picLL, YVALS, NPOINTS);
    if (!scale || scale->count < 2) {
        return outcomes;
    }
    const double lineY = static_cast<float>(scale->Y(double(scale->YMAX) - 1.92));
    if (lineY < 0.0 || lineY > scale->SH) {
        return outcomes;
    }
    const DrawStyle style = picLL.drawStyle();
    picLL.setDrawStyle(DrawStyle::Solid);
    for (std::size_t i = 0; i < limitsInPercent.size(); ++i) {
        const double limit = limitsInPercent[i];
        outcomes[i] = LimitMark::OutsidePlot;
        // The positions are increasing; find the two points the limit lies between.
        for (int j = 1; j < scale->count; ++j) {
            const double left = XLABELS(j);
            const double right = XLABELS(j + 1);
            if (limit >= left && limit <= right && right > left) {
                const double x = scale->X(j + (limit - left) / (right - left));
                if (std::abs(nearestCrossing(*scale, YVALS, lineY, x) - x) > kAgreement) {
                    outcomes[i] = LimitMark::OffCurve;
                    break;
                }
                picLL.Line(Point(x, lineY - kHalfMark), Point(x, lineY + kHalfMark), kPureRed);
                outcomes[i] = LimitMark::Drawn;
                break;
            }
        }
    }
    picLL.setDrawStyle(style);
    return outcomes;
}

} // namespace kestrum
