// The working values are single precision: each expression is evaluated in double and rounded to
// float when it is stored, and so is every coordinate given to the canvas, so that positions agree
// to the last bit of a float on every machine.
#include "PlotCurve.h"

#include <algorithm>

namespace kestrum {

namespace {

float single(double value)
{
    return static_cast<float>(value);
}

Point point(float x, float y)
{
    return Point(x, y);
}

} // namespace

float PlotScale::X(double j) const
{
    return single((j - double(XMID)) * XSCALE + SW / 2.0);
}

double PlotScale::Y(double v) const
{
    return (double(YMID) - v) * YSCALE + SH / 2.0;
}

std::optional<PlotScale> plotScale(const Canvas& picLL, const PlotValues& YVALS,
                                   std::int16_t NPOINTS)
{
    PlotScale scale;
    // The arrays hold 100 values; a larger count would read past them.
    scale.count = std::min<int>(NPOINTS, static_cast<int>(PlotValues::size()));
    scale.YMAX = single(-1E+20);
    scale.YMIN = single(1E+20);
    for (int j = 1; j <= scale.count; ++j) {
        if (YVALS(j) > scale.YMAX)
            scale.YMAX = YVALS(j);
        if (YVALS(j) < scale.YMIN)
            scale.YMIN = YVALS(j);
    }
    if (scale.YMAX == scale.YMIN)
        return std::nullopt;
    // No value was compared (no points, or none of them a number): the range would be the start
    // values, and the labels would show them. The canvas stays blank instead.
    if (scale.YMAX < scale.YMIN)
        return std::nullopt;

    scale.SW = single(picLL.ScaleWidth());
    scale.SH = single(picLL.ScaleHeight());
    scale.XMID = single((scale.count + 1) / 2.0);
    scale.YMID = single((double(scale.YMAX) + double(scale.YMIN)) / 2.0);
    scale.XSCALE = single(0.8 * scale.SW / (scale.count - 1));
    scale.YSCALE = single(0.75 * scale.SH / (double(scale.YMAX) - double(scale.YMIN)));
    return scale;
}

void PlotCurve(Canvas& picLL, const PlotValues& YVALS, const PlotValues& XLABELS,
               std::int16_t NPOINTS, const std::string& TITLE, std::int16_t TITLETOP,
               Colour LINECOLOUR, bool AUTOSCALE, bool profileOfP)
{
    // An earlier call leaves the colour at LINECOLOUR. The curve is solid whatever the caller left.
    picLL.setForeColor(kBlack);
    picLL.setDrawStyle(DrawStyle::Solid);

    // Without AUTOSCALE there is no y range to scale to: draw nothing rather than divide by an
    // undefined one.
    if (!AUTOSCALE)
        return;
    const std::optional<PlotScale> scale = plotScale(picLL, YVALS, NPOINTS);
    if (!scale) {
        return;
    }
    const float YMAX = scale->YMAX;
    const float YMIN = scale->YMIN;
    const float YMID = scale->YMID;
    const double SW = scale->SW;
    const double SH = scale->SH;
    const int count = scale->count;
    const auto X = [&scale](int j) { return scale->X(j); };
    const auto Y = [&scale](double v) { return scale->Y(v); };

    const text::NumberLocale locale = picLL.numberLocale();
    float PX = X(1);
    float PY = single(Y(YVALS(1)));
    for (int j = 2; j <= count; ++j) {
        const float NX = X(j);
        const float NY = single(Y(YVALS(j)));
        picLL.Line(point(PX, PY), point(NX, NY), LINECOLOUR);
        PX = NX;
        PY = NY;
        picLL.Line(point(NX, single(SH - 30.0)), point(NX, single(SH - 40.0)));
        picLL.setCurrentX(single(NX - 10.0));
        picLL.setCurrentY(single(SH - 25.0));
        picLL.Print(text::printFormOf(XLABELS(j), locale));
    }

    // One text line below the x labels: Print ended their line.
    picLL.setCurrentX(single(SW - 50.0));
    picLL.Print(profileOfP ? "% seen" : "% stay");

    const std::string_view valuePattern = "#.###0";
    const struct {
        double top;
        float value;
    } valueLabels[] = {
        {Y(YMIN) - 5.0, YMIN},
        {Y(YMAX) - 5.0, YMAX},
        {SH / 2.0 - 5.0, YMID},
    };
    for (const auto& label : valueLabels) {
        picLL.setCurrentX(0.0);
        picLL.setCurrentY(single(label.top));
        picLL.Print(text::formatNumber(label.value, valuePattern, locale));
    }

    picLL.setForeColor(LINECOLOUR);
    picLL.setCurrentX(single(SW - 200.0));
    picLL.setCurrentY(TITLETOP);
    picLL.Print(TITLE);

    // Where the curve crosses this line 1.92 below the maximum lie the approximate 95% limits.
    picLL.setDrawStyle(DrawStyle::Dash);
    const float YLINE = single(Y(double(YMAX) - 1.92));
    picLL.Line(point(X(1), YLINE), point(X(count), YLINE), kPureRed);
    picLL.setDrawStyle(DrawStyle::Solid);
}

} // namespace kestrum
