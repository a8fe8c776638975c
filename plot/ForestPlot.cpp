#include "ForestPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "NumberCore.h"

namespace kestrum {

namespace {

constexpr Colour kStratumBlue = 0xC00000; // the blue of the profile's curve
constexpr Colour kCityGreen = 0x006000;
constexpr Colour kGrid = 0xE0E0E0;
constexpr Colour kGrey = 0x707070;

constexpr double kRowLines = 1.5;
constexpr double kHeaderLines = 1.5;
constexpr double kAxisLines = 3.0;
// The texts measured for the columns' widths: the longest labels, the numbers with most digits.
constexpr std::size_t kMeasured = 200;
// A limit beyond this many times the largest estimate runs off the axis.
constexpr double kFurthest = 2.5;

bool given(double value)
{
    return std::isfinite(value);
}

std::string dogsText(double value, const text::NumberLocale& locale)
{
    // As the window writes numbers of dogs: to a tenth, and in exponent form to four digits where
    // a tenth would take more digits than the column holds.
    if (std::fabs(value) < 1e15) {
        return text::formatNumber(value, "0.0", locale);
    }
    char shortened[32];
    std::snprintf(shortened, sizeof shortened, "%.3e", value);
    return text::plainNumber(std::strtod(shortened, nullptr), locale);
}

// 1, 2 or 5 times a power of ten, for at most eight steps up to value.
double roundStep(double value)
{
    const double power = std::pow(10.0, std::floor(std::log10(value / 8.0)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (value / (factor * power) <= 8.0) {
            return factor * power;
        }
    }
    return 10.0 * power;
}

// The round step after step: 1 to 2, 2 to 5, 5 to 10 times its power of ten.
double nextRoundStep(double step)
{
    const double power = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double mantissa = step / power;
    return (mantissa < 1.5 ? 2.0 : mantissa < 3.5 ? 5.0 : 10.0) * power;
}

constexpr const char* kEllipsis = "\u2026";

// The label cut short, with an ellipsis, to fit the width; a character is never split.
std::string fitted(const Canvas& canvas, const std::string& label, double width)
{
    if (canvas.TextWidth(label) <= width) {
        return label;
    }
    std::string cut = label;
    while (!cut.empty() && canvas.TextWidth(cut + kEllipsis) > width) {
        // The last character: its continuation bytes, then the byte it starts with.
        while (!cut.empty()) {
            const auto byte = static_cast<unsigned char>(cut.back());
            cut.pop_back();
            if ((byte & 0xC0) != 0x80) {
                break;
            }
        }
    }
    return cut + kEllipsis;
}

void print(Canvas& canvas, double x, double y, const std::string& text, Colour colour)
{
    canvas.setForeColor(colour);
    canvas.setCurrentX(x);
    canvas.setCurrentY(y);
    canvas.Print(text);
}

struct Geometry {
    double line = 0.0; // one text line
    double pad = 0.0;
    double plotLeft = 0.0;
    double plotRight = 0.0;
    double valueLeft = 0.0;
    double top = 1.0;

    double x(double dogs) const { return plotLeft + dogs / top * (plotRight - plotLeft); }
};

Geometry geometry(const Canvas& canvas, const ForestScale& scale)
{
    Geometry g;
    g.line = canvas.TextHeight();
    g.pad = g.line / 2.0;
    g.plotLeft = 2.0 * g.pad + scale.labelWidth;
    g.valueLeft = canvas.ScaleWidth() - g.pad - scale.valueWidth;
    g.plotRight = std::max(g.plotLeft + 1.0, g.valueLeft - 2.0 * g.pad);
    g.top = scale.top;
    return g;
}

// An arrowhead at x pointing right (+1) or left (-1): the range runs on beyond what is drawn.
void arrow(Canvas& canvas, double x, double y, double size, int direction, Colour colour)
{
    canvas.Line(Point(x, y), Point(x - direction * size, y - size / 2.0), colour);
    canvas.Line(Point(x, y), Point(x - direction * size, y + size / 2.0), colour);
}

// The range and its point; or, for a stratum or the city, a diamond across the range, filled
// with lines one unit apart.
void drawRange(Canvas& canvas, const Geometry& g, const ForestRow& row, double y, double rowHeight,
               Colour colour)
{
    const double left = g.x(std::max(0.0, given(row.lower) ? row.lower : row.estimate));
    const double upperDogs = given(row.upper) ? row.upper : row.estimate;
    const bool runsOff = upperDogs > g.top;
    const double right = runsOff ? g.plotRight : g.x(upperDogs);
    const double centre = std::min(g.x(row.estimate), g.plotRight);
    const double arrowSize = rowHeight / 3.0;
    if (row.kind == ForestRow::Kind::Block) {
        canvas.Line(Point(left, y), Point(right, y), colour);
        const double half = std::min(rowHeight / 5.0, 3.0);
        for (double dy = -half; dy <= half; dy += 1.0) {
            canvas.Line(Point(centre - half, y + dy), Point(centre + half, y + dy), colour);
        }
    } else {
        const double half = rowHeight * 0.3;
        for (double dy = -half; dy <= half; dy += 1.0) {
            const double share = 1.0 - std::fabs(dy) / half;
            canvas.Line(Point(centre - (centre - left) * share, y + dy),
                        Point(centre + (right - centre) * share, y + dy), colour);
        }
        // The outline smooths the steps the filling lines leave on a page finer than the screen.
        const Point corners[] = {Point(left, y), Point(centre, y - half), Point(right, y),
                                 Point(centre, y + half)};
        for (std::size_t k = 0; k < 4; ++k) {
            canvas.Line(corners[k], corners[(k + 1) % 4], colour);
        }
    }
    if (row.lowerOpen) {
        arrow(canvas, left, y, arrowSize, -1, colour);
    }
    if (row.upperOpen || runsOff) {
        arrow(canvas, right, y, arrowSize, 1, colour);
    }
}

} // namespace

std::string forestValueText(const ForestRow& row, const text::NumberLocale& locale)
{
    if (!given(row.estimate)) {
        return {};
    }
    if (!given(row.lower) || !given(row.upper)) {
        return dogsText(row.estimate, locale);
    }
    const auto limit = [&locale](double value, bool open, const char* side) {
        return open ? std::string(side) + " " + dogsText(value, locale) : dogsText(value, locale);
    };
    return dogsText(row.estimate, locale) + " (" + limit(row.lower, row.lowerOpen, "below") +
           " to " + limit(row.upper, row.upperOpen, "above") + ")";
}

ForestScale forestScale(const Canvas& canvas, const ForestPlot& plot)
{
    ForestScale scale;
    double largest = 0.0;
    double furthest = 0.0;
    // Text is measured for the longest labels and the numbers with the most digits only: a
    // survey of 100,000 blocks would take most of a second to measure whole, and a text a little
    // wider than those measured is cut to fit its column like any other.
    std::vector<std::pair<std::size_t, std::size_t>> labels; // characters, row
    std::vector<std::pair<double, std::size_t>> values;      // digits, row
    const auto digits = [](double value) {
        return given(value) && value >= 10.0 ? std::floor(std::log10(value)) + 1.0 : 1.0;
    };
    for (std::size_t k = 0; k < plot.rows.size(); ++k) {
        const ForestRow& row = plot.rows[k];
        labels.emplace_back(row.label.size(), k);
        if (!given(row.estimate)) {
            continue;
        }
        values.emplace_back(digits(row.estimate) + digits(row.lower) + digits(row.upper) +
                                (row.lowerOpen ? 6.0 : 0.0) + (row.upperOpen ? 6.0 : 0.0),
                            k);
        largest = std::max(largest, row.estimate);
        furthest = std::max({furthest, row.estimate, given(row.upper) ? row.upper : 0.0});
    }
    const auto longest = [](auto& candidates) {
        const auto end = candidates.begin() +
                         static_cast<std::ptrdiff_t>(std::min(kMeasured, candidates.size()));
        std::partial_sort(candidates.begin(), end, candidates.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        candidates.erase(end, candidates.end());
    };
    longest(labels);
    longest(values);
    const double widest = canvas.ScaleWidth() / 3.0;
    scale.labelWidth = canvas.TextWidth(plot.labelTitle);
    for (const auto& [characters, k] : labels) {
        scale.labelWidth = std::max(scale.labelWidth, canvas.TextWidth(plot.rows[k].label));
    }
    scale.valueWidth = canvas.TextWidth(plot.valueTitle);
    for (const auto& [length, k] : values) {
        scale.valueWidth =
            std::max(scale.valueWidth,
                     canvas.TextWidth(forestValueText(plot.rows[k], canvas.numberLocale())));
    }
    scale.labelWidth = std::min(scale.labelWidth, widest);
    scale.valueWidth = std::min(scale.valueWidth, widest);
    const double reach = largest > 0.0 ? std::min(furthest, kFurthest * largest) : furthest;
    if (!(reach > 0.0)) {
        return scale;
    }
    // Ticks far enough apart for their labels: on a narrow canvas, fewer of them at a rounder
    // step.
    const Geometry g = geometry(canvas, scale);
    const auto fits = [&] {
        const double room =
            2.0 * canvas.TextWidth(text::plainNumber(scale.top, canvas.numberLocale())) + g.pad;
        return (g.plotRight - g.plotLeft) * scale.step / scale.top >= room;
    };
    scale.step = roundStep(reach);
    scale.top = std::ceil(reach / scale.step - 1e-9) * scale.step;
    while (!fits() && scale.step < scale.top) {
        scale.step = nextRoundStep(scale.step);
        scale.top = std::ceil(reach / scale.step - 1e-9) * scale.step;
    }
    return scale;
}

double forestRowHeight(const Canvas& canvas)
{
    return std::ceil(kRowLines * canvas.TextHeight());
}

std::size_t forestRowsThatFit(const Canvas& canvas)
{
    const double room = canvas.ScaleHeight() - (kHeaderLines + kAxisLines) * canvas.TextHeight();
    return room > 0.0 ? static_cast<std::size_t>(room / forestRowHeight(canvas)) : 0;
}

double forestHeight(const Canvas& canvas, std::size_t rows)
{
    return std::ceil((kHeaderLines + kAxisLines) * canvas.TextHeight()) +
           static_cast<double>(rows) * forestRowHeight(canvas);
}

std::size_t drawForest(Canvas& canvas, const ForestPlot& plot, const ForestScale& scale,
                       std::size_t first, std::size_t count)
{
    canvas.Cls();
    canvas.setDrawStyle(DrawStyle::Solid);
    const Geometry g = geometry(canvas, scale);
    const double rowHeight = forestRowHeight(canvas);
    const double header = kHeaderLines * g.line;
    const double axis = canvas.ScaleHeight() - kAxisLines * g.line;
    const std::size_t shown =
        first >= plot.rows.size()
            ? 0
            : std::min({count, plot.rows.size() - first, forestRowsThatFit(canvas)});

    const double step = scale.step;
    const auto ticks = static_cast<int>(std::lround(scale.top / step));

    // The grid first, so that everything else lies on top of it.
    for (int k = 0; k <= ticks; ++k) {
        const double x = g.x(k * step);
        canvas.Line(Point(x, header), Point(x, axis), kGrid);
    }

    print(canvas, g.pad, g.line / 4.0, fitted(canvas, plot.labelTitle, scale.labelWidth), kBlack);
    print(canvas, g.valueLeft, g.line / 4.0, plot.valueTitle, kBlack);
    canvas.Line(Point(0.0, header - 1.0), Point(canvas.ScaleWidth(), header - 1.0), kGrid);

    for (std::size_t k = 0; k < shown; ++k) {
        const ForestRow& row = plot.rows[first + k];
        const double top = header + static_cast<double>(k) * rowHeight;
        const double middle = std::round(top + rowHeight / 2.0);
        const double textTop = middle - g.line / 2.0;
        const Colour colour = row.kind == ForestRow::Kind::Block  ? kBlack
                              : row.kind == ForestRow::Kind::City ? kCityGreen
                                                                  : kStratumBlue;
        print(canvas, g.pad, textTop, fitted(canvas, row.label, scale.labelWidth), colour);
        if (row.kind == ForestRow::Kind::Heading) {
            continue;
        }
        if (!given(row.estimate)) {
            print(canvas, g.plotLeft + g.pad, textTop, row.note, kGrey);
            continue;
        }
        drawRange(canvas, g, row, middle, rowHeight, colour);
        print(canvas, g.valueLeft, textTop,
              fitted(canvas, forestValueText(row, canvas.numberLocale()), scale.valueWidth),
              colour);
    }

    canvas.Line(Point(g.plotLeft, axis), Point(g.plotRight, axis), kBlack);
    for (int k = 0; k <= ticks; ++k) {
        const double x = g.x(k * step);
        canvas.Line(Point(x, axis), Point(x, axis + g.line / 3.0), kBlack);
        const std::string label = text::plainNumber(k * step, canvas.numberLocale());
        print(canvas, x - canvas.TextWidth(label) / 2.0, axis + g.line / 2.5, label, kBlack);
    }
    print(canvas, (g.plotLeft + g.plotRight - canvas.TextWidth(plot.axisTitle)) / 2.0,
          axis + 1.6 * g.line, plot.axisTitle, kBlack);
    canvas.setForeColor(kBlack);
    return shown;
}

} // namespace kestrum
