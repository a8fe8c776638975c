#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "NumberCore.h"
#include "PlanCurve.h"
#include "PlotCurve.h"
#include "PlotLimitMarks.h"
#include "RecordingCanvas.h"

namespace kestrum {
namespace {

constexpr Colour kBlue192 = 0xC00000;
constexpr double kWidth = 949.0;
constexpr double kHeight = 381.0;
constexpr double kLineHeight = 17.0;

struct Curve {
    PlotValues y;
    PlotValues x;
    std::int16_t n = 0;
};

// A profile shape: highest at the middle point, lowest at the ends; x labels 45, 46, ...
Curve hump(int n, float low, float high)
{
    Curve curve;
    curve.n = static_cast<std::int16_t>(n);
    const double middle = (n + 1) / 2.0;
    for (int j = 1; j <= n; ++j) {
        const double t = (j - middle) / (middle - 1.0);
        curve.y(j) = static_cast<float>(high - (double(high) - low) * t * t);
        curve.x(j) = static_cast<float>(44 + j);
    }
    return curve;
}

// The worked example: 21 points on 949 x 381, values from -60 to -52.741.
Curve workedExample()
{
    return hump(21, -60.0f, -52.741f);
}

RecordingCanvas plotted(const Curve& curve, bool autoscale = true, bool profileOfP = true)
{
    RecordingCanvas canvas(kWidth, kHeight, kLineHeight);
    // What an earlier plot leaves behind: its colour, and the red line's dashes.
    canvas.setForeColor(kBlue192);
    canvas.setDrawStyle(DrawStyle::Dash);
    PlotCurve(canvas, curve.y, curve.x, curve.n, "log likelihood", 10, kBlue192, autoscale,
              profileOfP);
    return canvas;
}

std::vector<RecordedLine> linesIn(const RecordingCanvas& canvas, Colour colour)
{
    std::vector<RecordedLine> found;
    std::copy_if(canvas.lines().begin(), canvas.lines().end(), std::back_inserter(found),
                 [colour](const RecordedLine& line) { return line.colour == colour; });
    return found;
}

TEST(PlotCurve, WorkedExample)
{
    const Curve example = workedExample();
    const RecordingCanvas canvas = plotted(example);
    const auto curve = linesIn(canvas, kBlue192);
    const auto ticks = linesIn(canvas, kBlack);
    const auto& texts = canvas.texts();
    // 20 x labels, the caption, 3 value labels, the title.
    ASSERT_EQ(curve.size(), 20u);
    ASSERT_EQ(ticks.size(), 20u);
    ASSERT_EQ(texts.size(), 25u);

    // -52.741 (point 11) at 1/8 of the height.
    EXPECT_NEAR(curve[9].to.y(), 47.625, 1e-3);
    // A tick and an x label under every point but the first.
    for (std::size_t i = 0; i < curve.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(curve[i].from, i > 0 ? curve[i - 1].to : curve[0].from);
        const double nx = curve[i].to.x();
        EXPECT_EQ(ticks[i].from, Point(nx, 351.0));
        EXPECT_EQ(ticks[i].to, Point(nx, 341.0));
        EXPECT_EQ(texts[i].topLeft, Point(static_cast<float>(nx - 10.0), 356.0));
        EXPECT_EQ(texts[i].text, text::printFormOf(example.x(i + 2)));
    }

    // Lowest, highest and middle value at the left edge, 5 above their heights.
    const std::pair<const char*, double> values[] = {
        {"-60.0000", 328.375}, {"-52.7410", 42.625}, {"-56.3705", 185.5}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(texts[21 + i].text, values[i].first);
        EXPECT_NEAR(texts[21 + i].topLeft.y(), values[i].second, 1e-3);
        EXPECT_EQ(texts[21 + i].topLeft.x(), 0.0);
    }

    // Drawn last: the dashed red line 1.92 below the highest value, across the curve.
    const auto red = linesIn(canvas, kPureRed);
    ASSERT_EQ(red.size(), 1u);
    EXPECT_NEAR(red[0].from.y(), 123.206, 5e-4);
    EXPECT_EQ(red[0].to.y(), red[0].from.y());
    EXPECT_EQ(red[0].from.x(), curve.front().from.x());
    EXPECT_EQ(red[0].to.x(), curve.back().to.x());
    EXPECT_EQ(red[0].order, canvas.lines().back().order);
    EXPECT_TRUE(canvas.clears().empty()) << "the caller clears, not the plot";

    // Only the red line is dashed; only the curve, the title and the red line are in colour.
    for (const auto& line : canvas.lines())
        EXPECT_EQ(line.style, line.colour == kPureRed ? DrawStyle::Dash : DrawStyle::Solid);
    EXPECT_EQ(canvas.drawStyle(), DrawStyle::Solid);
    for (std::size_t i = 0; i < 24; ++i)
        EXPECT_EQ(texts[i].colour, kBlack) << texts[i].text;
    EXPECT_EQ(texts[24].text, "log likelihood");
    EXPECT_EQ(texts[24].topLeft, Point(kWidth - 200.0, 10.0));
    EXPECT_EQ(texts[24].colour, kBlue192);
    // The caption, one text line below the x labels, names the profiled parameter.
    EXPECT_EQ(texts[20].text, "% seen");
    EXPECT_EQ(texts[20].topLeft, Point(kWidth - 50.0, kHeight - 25.0 + kLineHeight));
    EXPECT_EQ(plotted(example, true, false).texts()[20].text, "% stay");
}

// n points give n - 1 segments, ticks and labels; the arrays hold 100 values, so a larger count
// is held to 100. Rising and falling runs catch a search that updates only one extreme per value;
// values beyond the count must not be read.
TEST(PlotCurve, PointsAndExtremesLandInPlace)
{
    using Values = std::vector<float>;
    std::vector<std::pair<Values, int>> cases{
        {{1, 2, 3, 4}, 4}, {{4, 3, 2, 1}, 4}, {{7, 2, 7, 2, 5}, 5}, {{0, 1}, 2}};
    Values many;
    for (int j = 1; j <= 100; ++j)
        many.push_back(static_cast<float>(j % 7));
    cases.emplace_back(many, 150);
    for (const auto& [values, count] : cases) {
        SCOPED_TRACE(count);
        Curve curve;
        curve.n = static_cast<std::int16_t>(count);
        for (std::size_t j = 1; j <= PlotValues::size(); ++j) {
            curve.y(j) = j <= values.size() ? values[j - 1] : (j % 2 ? 1e30f : -1e30f);
            curve.x(j) = static_cast<float>(j);
        }
        const RecordingCanvas canvas = plotted(curve);
        const auto segments = linesIn(canvas, kBlue192);
        ASSERT_EQ(segments.size(), values.size() - 1);
        EXPECT_EQ(linesIn(canvas, kBlack).size(), values.size() - 1);
        EXPECT_NEAR(segments.front().from.x(), 0.1 * kWidth, 1e-3);
        EXPECT_NEAR(segments.back().to.x(), 0.9 * kWidth, 1e-3);

        double top = kHeight;
        double bottom = 0.0;
        for (const auto& segment : segments) {
            top = std::min({top, segment.from.y(), segment.to.y()});
            bottom = std::max({bottom, segment.from.y(), segment.to.y()});
        }
        EXPECT_NEAR(top, 0.125 * kHeight, 0.01);
        EXPECT_NEAR(bottom, 0.875 * kHeight, 0.01);
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        // On the curve's scale, even when that puts it below the canvas (a spread under 1.92).
        const auto red = linesIn(canvas, kPureRed);
        ASSERT_EQ(red.size(), 1u);
        EXPECT_NEAR(red[0].from.y() - top, 1.92 * (bottom - top) / (*high - *low), 1e-3);
        const auto& texts = canvas.texts();
        ASSERT_EQ(texts.size(), values.size() + 4);
        EXPECT_EQ(texts[values.size()].text, text::formatNumber(*low, "#.###0"));
        EXPECT_EQ(texts[values.size() + 1].text, text::formatNumber(*high, "#.###0"));
    }
}

TEST(PlotCurve, NothingIsDrawnWithoutARangeOfValues)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Curve one = hump(3, 1.0f, 2.0f);
    Curve none = workedExample();
    one.n = 1;
    none.n = 0;
    // All values equal, one point, none, no value a number, and no AUTOSCALE.
    for (const auto& [curve, autoscale] : {std::pair{hump(10, 5.0f, 5.0f), true},
                                           {one, true},
                                           {none, true},
                                           {hump(5, nan, nan), true},
                                           {workedExample(), false}}) {
        const RecordingCanvas canvas = plotted(curve, autoscale);
        EXPECT_TRUE(canvas.lines().empty() && canvas.texts().empty()) << curve.n << autoscale;
    }
}

// On the worked example the drawn curve crosses the dashed line at x labels 49.86 and 60.13
// (points 5.86 and 16.13); the exact quadratic crossings lie within half a pixel of them.
TEST(PlotLimitMarks, MarksOnlyWhereTheCurveMeetsTheLine)
{
    using M = LimitMark;
    const struct {
        const char* name;
        Curve curve;
        std::vector<double> limits;
        std::vector<LimitMark> outcomes;
    } cases[] = {
        {"both crossings", workedExample(), {49.857, 60.143}, {M::Drawn, M::Drawn}},
        {"between the crossings, off the curve",
         workedExample(),
         {55.0, 60.143},
         {M::OffCurve, M::Drawn}},
        {"a few pixels off", workedExample(), {49.857 + 0.2}, {M::OffCurve}},
        {"beyond the points", workedExample(), {30.0, 70.0}, {M::OutsidePlot, M::OutsidePlot}},
        {"line below the canvas", hump(21, 5.0f, 5.5f), {50.0}, {M::LineOffCanvas}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingCanvas canvas = plotted(c.curve);
        const double lineY = linesIn(canvas, kPureRed).front().from.y();
        canvas.forget();
        EXPECT_EQ(PlotLimitMarks(canvas, c.curve.y, c.curve.x, c.curve.n, c.limits), c.outcomes);
        auto mark = canvas.lines().begin();
        for (std::size_t i = 0; i < c.limits.size(); ++i) {
            if (c.outcomes[i] != M::Drawn)
                continue;
            ASSERT_NE(mark, canvas.lines().end());
            EXPECT_NEAR(mark->from.x(), 94.9 + (c.limits[i] - 45.0) * 37.96, 1e-3);
            EXPECT_EQ(*mark, (RecordedLine{Point(mark->from.x(), lineY - 7.0),
                                           Point(mark->from.x(), lineY + 7.0), kPureRed,
                                           DrawStyle::Solid, mark->order}));
            ++mark;
        }
        EXPECT_EQ(mark, canvas.lines().end());
    }
}

// The planner's curve on a window's canvas and on a phone's: its texts never run into each other
// or off the canvas.
TEST(PlanCurve, TextsKeepApartAtAnyWidth)
{
    PlanCurve curve;
    for (int blocks = 6; blocks <= 120; blocks += 6) {
        curve.points.emplace_back(blocks, 160.0 / std::sqrt(static_cast<double>(blocks)));
    }
    curve.plan = Point(120, 160.0 / std::sqrt(120.0));
    curve.targetPct = 15.0;
    for (const double width : {949.0, 600.0, 360.0, 300.0}) {
        SCOPED_TRACE(width);
        RecordingCanvas canvas(width, 381.0, 13.0);
        drawPlanCurve(canvas, curve);
        const auto& texts = canvas.texts();
        const auto right = [](const RecordedText& t) {
            return t.topLeft.x() + 7.0 * static_cast<double>(t.text.size());
        };
        for (std::size_t a = 0; a < texts.size(); ++a) {
            EXPECT_GE(texts[a].topLeft.x(), 0.0) << texts[a].text;
            EXPECT_LE(right(texts[a]), width + 7.0 * 2) << texts[a].text; // "±" is two bytes
            for (std::size_t b = a + 1; b < texts.size(); ++b) {
                const bool apart = right(texts[a]) <= texts[b].topLeft.x() ||
                                   right(texts[b]) <= texts[a].topLeft.x() ||
                                   texts[a].topLeft.y() + 13.0 <= texts[b].topLeft.y() ||
                                   texts[b].topLeft.y() + 13.0 <= texts[a].topLeft.y();
                EXPECT_TRUE(apart) << texts[a].text << " / " << texts[b].text;
            }
        }
    }
}

} // namespace
} // namespace kestrum
