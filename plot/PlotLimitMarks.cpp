#include "PlotLimitMarks.h"

namespace kestrum {

namespace {

// Half the height of a mark, in pixels: enough to stand out from the dashes.
constexpr double kHalfMark = 7.0;

} // namespace

void PlotLimitMarks(Canvas& picLL, const PlotValues& YVALS, const PlotValues& XLABELS,
                    std::int16_t NPOINTS, std::span<const double> limitsInPercent)
{
    const std::optional<PlotScale> scale = plotScale(picLL, YVALS, NPOINTS);
    if (!scale || scale->count < 2) {
        return;
    }
    const double lineY = static_cast<float>(scale->Y(double(scale->YMAX) - 1.92));
    if (lineY < 0.0 || lineY > scale->SH) {
        return;
    }
    const DrawStyle style = picLL.drawStyle();
    picLL.setDrawStyle(DrawStyle::Solid);
    for (const double limit : limitsInPercent) {
        // The positions are increasing; find the two points the limit lies between.
        for (int j = 1; j < scale->count; ++j) {
            const double left = XLABELS(j);
            const double right = XLABELS(j + 1);
            if (limit >= left && limit <= right && right > left) {
                const double x = scale->X(j + (limit - left) / (right - left));
                picLL.Line(QPointF(x, lineY - kHalfMark), QPointF(x, lineY + kHalfMark), kPureRed);
                break;
            }
        }
    }
    picLL.setDrawStyle(style);
}

} // namespace kestrum
