#include "PlanCurve.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "LineClip.h"
#include "NumberCore.h"

namespace kestrum {

namespace {

constexpr Colour kCurveBlue = 0xC00000;
// Room for the tick labels left and below, the captions above.
constexpr double kLeft = 60.0;
constexpr double kRight = 25.0;
constexpr double kTop = 35.0;
constexpr double kBottom = 45.0;
constexpr double kTick = 5.0;

// 1, 2 or 5 times a power of ten, about a sixth of the span.
double tickStep(double span)
{
    const double rough = span / 6.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= rough) {
            return m * power;
        }
    }
    return 10.0 * power;
}

struct Frame {
    double left, top, right, bottom;
    double x0, x1, y1; // the data's ranges; y from 0

    double X(double x) const { return left + (x - x0) / (x1 - x0) * (right - left); }
    double Y(double y) const { return bottom - y / y1 * (bottom - top); }
};

void line(Canvas& canvas, const Frame& f, Point from, Point to, Colour colour)
{
    if (clipLine(from, to, f.left, f.top, f.right, f.bottom)) {
        canvas.Line(from, to, colour);
    }
}

void print(Canvas& canvas, double x, double y, const std::string& text)
{
    canvas.setCurrentX(x);
    canvas.setCurrentY(y);
    canvas.Print(text);
}

} // namespace

void drawPlanCurve(Canvas& canvas, const PlanCurve& curve)
{
    canvas.Cls();
    canvas.setForeColor(kBlack);
    canvas.setDrawStyle(DrawStyle::Solid);
    const text::NumberLocale locale = canvas.numberLocale();
    const auto format = [&locale](double value, std::string_view pattern) {
        return text::formatNumber(value, pattern, locale);
    };
    std::vector<Point> points;
    std::copy_if(curve.points.begin(), curve.points.end(), std::back_inserter(points),
                 [](Point p) { return std::isfinite(p.x()) && std::isfinite(p.y()); });
    if (points.empty()) {
        return;
    }
    // The title right-aligned beside the axis's caption, or on a line of its own above it where the
    // canvas is too narrow for both (a phone's).
    const std::string title = "expected 95% limits of the city total";
    const std::string caption = "± % of the city total";
    double titleX = canvas.ScaleWidth() - kRight - canvas.TextWidth(title);
    double captionY = 8.0;
    if (titleX < 5.0 + canvas.TextWidth(caption) + 10.0) {
        titleX = 5.0;
        captionY += canvas.TextHeight();
    }
    Frame f{kLeft,
            kTop + captionY - 8.0,
            canvas.ScaleWidth() - kRight,
            canvas.ScaleHeight() - kBottom,
            points.front().x(),
            points.back().x(),
            0.0};
    if (f.x1 <= f.x0) {
        f.x0 -= 1.0;
        f.x1 += 1.0;
    }
    double highest = 0.0;
    for (const Point& p : points) {
        highest = std::max(highest, p.y());
    }
    const double reference =
        std::max(curve.plan ? curve.plan->y() : 0.0, curve.targetPct.value_or(0.0));
    double top = reference > 0.0 ? std::min(highest, 3.0 * reference) : highest;
    top = std::max(top, curve.targetPct.value_or(0.0)) * 1.05;
    if (!(top > 0.0)) {
        top = 1.0;
    }
    const double yStep = tickStep(top);
    f.y1 = std::ceil(top / yStep) * yStep;

    canvas.Line(Point(f.left, f.bottom), Point(f.right, f.bottom));
    canvas.Line(Point(f.left, f.top), Point(f.left, f.bottom));
    const double xStep = std::max(1.0, tickStep(f.x1 - f.x0));
    for (double x = std::ceil(f.x0 / xStep) * xStep; x <= f.x1; x += xStep) {
        canvas.Line(Point(f.X(x), f.bottom), Point(f.X(x), f.bottom + kTick));
        print(canvas, f.X(x) - 10.0, f.bottom + 8.0, format(x, "0"));
    }
    for (double y = 0.0; y <= f.y1 * (1.0 + 1e-9); y += yStep) {
        canvas.Line(Point(f.left - kTick, f.Y(y)), Point(f.left, f.Y(y)));
        print(canvas, 5.0, f.Y(y) - 7.0, format(y, "0.##"));
    }
    print(canvas, f.right - 90.0, f.bottom + 24.0, "blocks counted");
    print(canvas, 5.0, captionY, caption);

    // Where the plan's label goes: right of its mark, or left where it would run off the canvas.
    struct Label {
        std::string text;
        double x = 0.0;
        double y = 0.0;
        double width = 0.0;
    };
    std::optional<Label> planLabel;
    if (curve.plan) {
        const Point p(f.X(curve.plan->x()), f.Y(curve.plan->y()));
        Label label{"plan: " + format(curve.plan->x(), "0") + " blocks, ±" +
                    format(curve.plan->y(), "0.0") + "%"};
        label.width = canvas.TextWidth(label.text);
        label.x = p.x() + 8.0 + label.width <= canvas.ScaleWidth()
                      ? p.x() + 8.0
                      : std::max(0.0, p.x() - 8.0 - label.width);
        label.y = std::max(f.top, p.y() - 20.0);
        planLabel = label;
    }
    const auto clearOfPlan = [&](double x, double y, double width) {
        const double height = canvas.TextHeight();
        return !planLabel || x + width <= planLabel->x || planLabel->x + planLabel->width <= x ||
               y + height <= planLabel->y || planLabel->y + height <= y;
    };

    if (curve.targetPct) {
        const double y = f.Y(*curve.targetPct);
        canvas.setDrawStyle(DrawStyle::Dash);
        line(canvas, f, Point(f.left, y), Point(f.right, y), kPureRed);
        canvas.setDrawStyle(DrawStyle::Solid);
        canvas.setForeColor(kPureRed);
        // Above the line at its right end, else wherever the plan's label leaves room.
        const std::string label = "target ±" + format(*curve.targetPct, "0.##") + "%";
        const double width = canvas.TextWidth(label);
        const Point places[] = {{f.right - width - 6.0, y - 16.0},
                                {f.left + 6.0, y - 16.0},
                                {f.right - width - 6.0, y + 4.0},
                                {f.left + 6.0, y + 4.0}};
        Point at = places[0];
        for (const Point& place : places) {
            if (clearOfPlan(place.x(), place.y(), width)) {
                at = place;
                break;
            }
        }
        print(canvas, at.x(), at.y(), label);
        canvas.setForeColor(kBlack);
    }

    for (std::size_t i = 1; i < points.size(); ++i) {
        line(canvas, f, Point(f.X(points[i - 1].x()), f.Y(points[i - 1].y())),
             Point(f.X(points[i].x()), f.Y(points[i].y())), kCurveBlue);
    }
    if (points.size() == 1) {
        const Point p(f.X(points[0].x()), f.Y(points[0].y()));
        line(canvas, f, Point(p.x() - 3.0, p.y()), Point(p.x() + 3.0, p.y()), kCurveBlue);
    }

    if (curve.plan) {
        const Point p(f.X(curve.plan->x()), f.Y(curve.plan->y()));
        canvas.setDrawStyle(DrawStyle::Dash);
        line(canvas, f, Point(p.x(), f.bottom), p, kBlack);
        canvas.setDrawStyle(DrawStyle::Solid);
        const double r = 4.0;
        const Point corners[4] = {Point(p.x() - r, p.y() - r), Point(p.x() + r, p.y() - r),
                                  Point(p.x() + r, p.y() + r), Point(p.x() - r, p.y() + r)};
        for (int k = 0; k < 4; ++k) {
            line(canvas, f, corners[k], corners[(k + 1) % 4], kBlack);
        }
        print(canvas, planLabel->x, planLabel->y, planLabel->text);
    }

    canvas.setForeColor(kCurveBlue);
    print(canvas, titleX, 8.0, title);
    canvas.setForeColor(kBlack);
}

} // namespace kestrum
