#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "NumberText.h"
#include "PlotCurve.h"
#include "RecordingCanvas.h"

namespace kestrum {
namespace {

constexpr Colour kBlue192 = 0xC00000;
constexpr double kWidth = 949.0;
constexpr double kHeight = 381.0;

struct Curve {
    PlotValues y;
    PlotValues x;
    std::int16_t n = 0;
};

// A profile shape: highest at the middle point, lowest at the ends, values from low to high.
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
    curve.y(1) = low;
    curve.y(static_cast<std::size_t>((n + 1) / 2)) = high;
    return curve;
}

// The worked example: 21 points on 949 x 381, values from -60 to -52.741.
Curve workedExample() { return hump(21, -60.0f, -52.741f); }

void plot(Canvas& canvas, const Curve& curve, bool profileOfP = true, Colour colour = kBlue192,
          bool autoscale = true)
{
    PlotCurve(canvas, curve.y, curve.x, curve.n, QStringLiteral("log likelihood"), 10, colour,
              autoscale, profileOfP);
}

std::vector<RecordedLine> linesIn(const RecordingCanvas& canvas, Colour colour)
{
    std::vector<RecordedLine> found;
    for (const auto& line : canvas.lines())
        if (line.colour == colour)
            found.push_back(line);
    return found;
}

// Texts printed on the x-label row.
std::vector<RecordedText> xLabels(const RecordingCanvas& canvas)
{
    std::vector<RecordedText> found;
    for (const auto& text : canvas.texts())
        if (text.topLeft.y() == canvas.ScaleHeight() - 25.0)
            found.push_back(text);
    return found;
}

bool nothingDrawn(const RecordingCanvas& canvas)
{
    return canvas.lines().empty() && canvas.texts().empty() && canvas.clears().empty();
}

TEST(PlotCurveWorkedExample, CurveRunsFromTenToNinetyPercentOfTheWidth)
{
    RecordingCanvas canvas(kWidth, kHeight);
    plot(canvas, workedExample());

    const auto curve = linesIn(canvas, kBlue192);
    ASSERT_EQ(curve.size(), 20u);
    EXPECT_NEAR(curve.front().from.x(), 94.9, 1e-4);
    EXPECT_NEAR(curve.front().to.x(), 132.86, 1e-3);
    EXPECT_NEAR(curve.back().to.x(), 854.1, 1e-3);
    EXPECT_NEAR(curve.front().from.y(), 333.375, 1e-3); // -60
    EXPECT_NEAR(curve[9].to.y(), 47.625, 1e-3);         // -52.741, point 11
    EXPECT_NEAR(curve.back().to.y(), 333.375, 1e-3);
    for (std::size_t i = 1; i < curve.size(); ++i)
        EXPECT_EQ(curve[i].from, curve[i - 1].to) << "the curve is broken before segment " << i;
    EXPECT_TRUE(canvas.clears().empty()) << "the caller clears, not the plot";
}

TEST(PlotCurveWorkedExample, TicksAndXLabelsStandUnderEveryPointButTheFirst)
{
    RecordingCanvas canvas(kWidth, kHeight);
    const Curve curve = workedExample();
    plot(canvas, curve);

    const auto segments = linesIn(canvas, kBlue192);
    const auto ticks = linesIn(canvas, kBlack);
    const auto labels = xLabels(canvas);
    ASSERT_EQ(ticks.size(), 20u);
    ASSERT_EQ(labels.size(), 20u);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const double nx = segments[i].to.x();
        EXPECT_EQ(ticks[i].from, QPointF(nx, 351.0));
        EXPECT_EQ(ticks[i].to, QPointF(nx, 341.0));
        EXPECT_EQ(labels[i].topLeft, QPointF(static_cast<float>(nx - 10.0), 356.0));
        EXPECT_EQ(labels[i].text, text::printForm(curve.x(i + 2)));
    }
    EXPECT_EQ(labels.front().text, QStringLiteral(" 46 "));
    EXPECT_EQ(labels.back().text, QStringLiteral(" 65 "));
}

TEST(PlotCurveWorkedExample, ValueLabelsShowLowestHighestAndMiddle)
{
    RecordingCanvas canvas(kWidth, kHeight);
    plot(canvas, workedExample());

    const auto& texts = canvas.texts();
    ASSERT_EQ(texts.size(), 20u + 1u + 3u + 1u);
    const RecordedText* value = &texts[21];
    EXPECT_EQ(value[0].text, QStringLiteral("-60.0000"));
    EXPECT_EQ(value[1].text, QStringLiteral("-52.7410"));
    EXPECT_EQ(value[2].text, QStringLiteral("-56.3705"));
    EXPECT_NEAR(value[0].topLeft.y(), 328.375, 1e-3);
    EXPECT_NEAR(value[1].topLeft.y(), 42.625, 1e-3);
    EXPECT_EQ(value[2].topLeft.y(), 185.5);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(value[i].topLeft.x(), 0.0);
}

TEST(PlotCurveWorkedExample, RedLineIsDashedAcrossTheCurve1Point92BelowTheTop)
{
    RecordingCanvas canvas(kWidth, kHeight);
    plot(canvas, workedExample());

    const auto red = linesIn(canvas, kPureRed);
    ASSERT_EQ(red.size(), 1u);
    EXPECT_NEAR(red[0].from.y(), 123.206, 5e-4);
    EXPECT_EQ(red[0].to.y(), red[0].from.y());
    EXPECT_NEAR(red[0].from.x(), 94.9, 1e-4);
    EXPECT_NEAR(red[0].to.x(), 854.1, 1e-3);
    EXPECT_EQ(red[0].style, DrawStyle::Dash);
    EXPECT_EQ(red[0].order, canvas.lines().back().order) << "the red line is drawn last";
    EXPECT_EQ(canvas.drawStyle(), DrawStyle::Solid);
}

TEST(PlotCurve, EveryPositionGivenToTheCanvasIsASingle)
{
    RecordingCanvas canvas(kWidth, kHeight);
    plot(canvas, hump(37, -1234.567f, -1229.1f));

    const auto isSingle = [](QPointF p) {
        return p.x() == static_cast<float>(p.x()) && p.y() == static_cast<float>(p.y());
    };
    ASSERT_FALSE(canvas.lines().empty());
    for (const auto& line : canvas.lines()) {
        EXPECT_TRUE(isSingle(line.from)) << line.from.x() << ", " << line.from.y();
        EXPECT_TRUE(isSingle(line.to)) << line.to.x() << ", " << line.to.y();
    }
    for (const auto& text : canvas.texts())
        EXPECT_TRUE(isSingle(text.topLeft)) << text.text.toStdString();
}

TEST(PlotCurve, NPointsGiveNMinusOneSegmentsTicksAndLabels)
{
    for (const int n : {2, 3, 20, 100}) {
        SCOPED_TRACE(n);
        RecordingCanvas canvas(kWidth, kHeight);
        plot(canvas, hump(n, 1.0f, 9.0f));

        const auto segments = linesIn(canvas, kBlue192);
        const auto ticks = linesIn(canvas, kBlack);
        const auto labels = xLabels(canvas);
        ASSERT_EQ(segments.size(), std::size_t(n - 1));
        ASSERT_EQ(ticks.size(), std::size_t(n - 1));
        ASSERT_EQ(labels.size(), std::size_t(n - 1));
        const double firstX = segments.front().from.x();
        EXPECT_NEAR(firstX, 0.1 * kWidth, 1e-3);
        EXPECT_NEAR(segments.back().to.x(), 0.9 * kWidth, 1e-3);
        for (const auto& tick : ticks)
            EXPECT_GT(tick.from.x(), firstX) << "point 1 has no tick";
        for (const auto& label : labels)
            EXPECT_GT(label.topLeft.x(), static_cast<float>(firstX - 10.0)) << "point 1 has no label";
        const auto red = linesIn(canvas, kPureRed);
        ASSERT_EQ(red.size(), 1u);
        EXPECT_EQ(red[0].from.x(), firstX) << "the red line spans the curve";
        EXPECT_EQ(red[0].to.x(), segments.back().to.x());
    }
}

// Whatever the values, the highest lands at 1/8 of the height and the lowest at 7/8, within what the
// single-precision middle value allows. Rising and falling runs catch a search that updates only one
// extreme per value.
TEST(PlotCurve, ExtremesLandAtAnEighthFromTopAndBottom)
{
    struct Case {
        const char* name;
        std::vector<float> values;
        float low;
        float high;
    };
    const Case cases[] = {
        {"rising", {1.0f, 2.0f, 3.0f, 4.0f}, 1.0f, 4.0f},
        {"falling", {4.0f, 3.0f, 2.0f, 1.0f}, 1.0f, 4.0f},
        {"large negative", {-90000.0f, -89990.0f, -89995.0f}, -90000.0f, -89990.0f},
        {"narrow", {0.5f, 0.505f, 0.51f}, 0.5f, 0.51f},
        {"repeated extremes", {7.0f, 2.0f, 7.0f, 2.0f, 5.0f}, 2.0f, 7.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Curve curve;
        curve.n = static_cast<std::int16_t>(c.values.size());
        for (std::size_t j = 1; j <= c.values.size(); ++j)
            curve.y(j) = c.values[j - 1];
        RecordingCanvas canvas(kWidth, kHeight);
        plot(canvas, curve);

        double top = kHeight;
        double bottom = 0.0;
        for (const auto& segment : linesIn(canvas, kBlue192)) {
            top = std::min({top, segment.from.y(), segment.to.y()});
            bottom = std::max({bottom, segment.from.y(), segment.to.y()});
        }
        EXPECT_NEAR(top, 0.125 * kHeight, 0.01);
        EXPECT_NEAR(bottom, 0.875 * kHeight, 0.01);
        const auto& texts = canvas.texts();
        ASSERT_GE(texts.size(), 4u);
        const std::size_t values = texts.size() - 4;
        EXPECT_EQ(texts[values].text, text::format(c.low, QStringLiteral("#.###0")));
        EXPECT_EQ(texts[values + 1].text, text::format(c.high, QStringLiteral("#.###0")));
        EXPECT_NEAR(texts[values + 1].topLeft.y(), 0.125 * kHeight - 5.0, 0.01);
    }
}

TEST(PlotCurve, RedLineDropsWithANarrowSpreadAndLeavesTheCanvasBelow1Point646)
{
    for (const float spread : {20.0f, 7.259f, 1.7f, 1.6f, 0.1f}) {
        SCOPED_TRACE(spread);
        RecordingCanvas canvas(kWidth, kHeight);
        plot(canvas, hump(11, -100.0f, -100.0f + spread));

        const auto red = linesIn(canvas, kPureRed);
        ASSERT_EQ(red.size(), 1u);
        const double expected = 0.125 * kHeight + 1.44 * kHeight / spread;
        EXPECT_NEAR(red[0].from.y(), expected, 1e-4 * expected);
        EXPECT_EQ(red[0].from.y() > kHeight, spread < 1.44 / 0.875);
    }
}

TEST(PlotCurve, CaptionNamesTheProfiledParameterOneLineBelowTheXLabels)
{
    for (const bool profileOfP : {true, false}) {
        RecordingCanvas canvas(kWidth, kHeight, 17.0);
        plot(canvas, workedExample(), profileOfP);

        const auto& texts = canvas.texts();
        ASSERT_EQ(texts.size(), 25u);
        const RecordedText& caption = texts[20];
        EXPECT_EQ(caption.text, profileOfP ? QStringLiteral("% seen") : QStringLiteral("% stay"));
        EXPECT_EQ(caption.topLeft, QPointF(kWidth - 50.0, kHeight - 25.0 + 17.0));
        EXPECT_EQ(caption.colour, kBlack);
    }
}

TEST(PlotCurve, OnlyCurveTitleAndRedLineAreInColourOnlyTheRedLineDashed)
{
    constexpr Colour green = 0x00A000;
    RecordingCanvas canvas(kWidth, kHeight);
    PlotCurve(canvas, workedExample().y, workedExample().x, 21, QStringLiteral("profile"), 33, green,
              true, true);

    EXPECT_EQ(linesIn(canvas, green).size(), 20u);
    for (const auto& line : canvas.lines()) {
        EXPECT_TRUE(line.colour == kBlack || line.colour == green || line.colour == kPureRed);
        EXPECT_EQ(line.style, line.colour == kPureRed ? DrawStyle::Dash : DrawStyle::Solid);
    }
    const auto& texts = canvas.texts();
    ASSERT_EQ(texts.size(), 25u);
    for (std::size_t i = 0; i + 1 < texts.size(); ++i)
        EXPECT_EQ(texts[i].colour, kBlack) << texts[i].text.toStdString();
    const RecordedText& title = texts.back();
    EXPECT_EQ(title.text, QStringLiteral("profile"));
    EXPECT_EQ(title.topLeft, QPointF(kWidth - 200.0, 33.0));
    EXPECT_EQ(title.colour, green);
    EXPECT_EQ(canvas.ForeColor(), green) << "the colour is left at LINECOLOUR";
    EXPECT_EQ(canvas.drawStyle(), DrawStyle::Solid);
}

TEST(PlotCurve, SecondPlotIsDrawnExactlyLikeTheFirst)
{
    RecordingCanvas canvas(kWidth, kHeight);
    plot(canvas, workedExample());
    const auto firstLines = canvas.lines();
    const auto firstTexts = canvas.texts();

    // What the caller may leave behind: the colour of the last plot, a dashed style.
    canvas.Cls();
    canvas.setDrawStyle(DrawStyle::Dash);
    canvas.forget();
    plot(canvas, workedExample());

    EXPECT_EQ(canvas.lines(), firstLines);
    EXPECT_EQ(canvas.texts(), firstTexts);
}

TEST(PlotCurve, NothingIsDrawnWithoutARangeOfValues)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        Curve curve;
        bool autoscale;
    };
    Curve equal = hump(10, 5.0f, 5.0f);
    Curve single = hump(3, 1.0f, 2.0f);
    single.n = 1;
    Curve none = workedExample();
    none.n = 0;
    Curve negative = workedExample();
    negative.n = -4;
    Curve notNumbers = hump(5, nan, nan);
    const Case cases[] = {
        {"all values equal", equal, true},          {"one point", single, true},
        {"no points", none, true},                  {"negative count", negative, true},
        {"no value is a number", notNumbers, true}, {"AUTOSCALE false", workedExample(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingCanvas canvas(kWidth, kHeight);
        canvas.setForeColor(0x123456);
        plot(canvas, c.curve, true, kBlue192, c.autoscale);
        EXPECT_TRUE(nothingDrawn(canvas));
        EXPECT_EQ(canvas.ForeColor(), kBlack);
        EXPECT_EQ(canvas.drawStyle(), DrawStyle::Solid);
    }
}

TEST(PlotCurve, ValuesBeyondTheCountAreNotRead)
{
    Curve curve = workedExample();
    for (std::size_t j = 22; j <= 100; ++j)
        curve.y(j) = (j % 2 == 0) ? 1e30f : -1e30f;
    RecordingCanvas withTail(kWidth, kHeight);
    plot(withTail, curve);
    RecordingCanvas plain(kWidth, kHeight);
    plot(plain, workedExample());

    ASSERT_EQ(withTail.texts().size(), 25u);
    ASSERT_EQ(withTail.texts().size(), plain.texts().size());
    for (std::size_t i = 0; i < plain.texts().size(); ++i)
        EXPECT_EQ(withTail.texts()[i].text, plain.texts()[i].text);
    ASSERT_EQ(linesIn(withTail, kPureRed).size(), 1u);
    EXPECT_EQ(linesIn(withTail, kPureRed)[0].from, linesIn(plain, kPureRed)[0].from);
}

TEST(PlotCurve, CountAboveTheArraySizeIsHeldTo100)
{
    Curve curve = hump(100, -10.0f, -3.0f);
    RecordingCanvas full(kWidth, kHeight);
    plot(full, curve);
    curve.n = 150;
    RecordingCanvas over(kWidth, kHeight);
    plot(over, curve);

    const auto segments = linesIn(over, kBlue192);
    ASSERT_EQ(segments.size(), 99u);
    EXPECT_NEAR(segments.back().to.x(), 0.9 * kWidth, 1e-3);
    ASSERT_EQ(over.lines().size(), full.lines().size());
    for (std::size_t i = 0; i < full.lines().size(); ++i)
        EXPECT_EQ(over.lines()[i].to, full.lines()[i].to);
}

TEST(PlotCurve, FollowsTheCanvasSize)
{
    RecordingCanvas canvas(400.0, 200.0);
    plot(canvas, hump(5, 0.0f, 4.0f));

    const auto segments = linesIn(canvas, kBlue192);
    ASSERT_EQ(segments.size(), 4u);
    EXPECT_NEAR(segments.front().from.x(), 40.0, 1e-4);
    EXPECT_NEAR(segments.back().to.x(), 360.0, 1e-4);
    EXPECT_EQ(linesIn(canvas, kBlack).front().from.y(), 170.0);
    EXPECT_EQ(canvas.texts().back().topLeft, QPointF(200.0, 10.0));
}

} // namespace
} // namespace kestrum
