// The forest plot on a recording canvas: where each range and point lands against the axis's own
// tick labels, strata's diamonds, ranges that run on, labels that do not fit, and a plot drawn a
// range of rows at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "ForestPlot.h"
#include "RecordingCanvas.h"

namespace kestrum {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr Colour kStratumBlue = 0xC00000;

ForestRow block(const std::string& name, double estimate, double lower, double upper)
{
    ForestRow row;
    row.label = name;
    row.estimate = estimate;
    row.lower = lower;
    row.upper = upper;
    return row;
}

ForestPlot survey()
{
    ForestPlot plot;
    ForestRow heading;
    heading.kind = ForestRow::Kind::Heading;
    heading.label = "centre";
    plot.rows.push_back(heading);
    plot.rows.push_back(block("market", 40.0, 30.0, 50.0));
    plot.rows.push_back(block("station", 20.0, 10.0, 60.0));
    ForestRow none = block("temple", kNaN, kNaN, kNaN);
    none.note = "no street count";
    plot.rows.push_back(none);
    ForestRow stratum = block("centre: dogs per block", 30.0, 20.0, 45.0);
    stratum.kind = ForestRow::Kind::Stratum;
    plot.rows.push_back(stratum);
    return plot;
}

// The centre of the axis label that reads text: where that many dogs lie.
std::optional<double> tickAt(const RecordingCanvas& canvas, const std::string& text)
{
    for (const RecordedText& label : canvas.texts())
        if (label.text == text)
            return label.topLeft.x() + 7.0 * double(text.size()) / 2.0;
    return std::nullopt;
}

// The row whose label is name: the y of its middle (the label's middle).
double rowMiddle(const RecordingCanvas& canvas, const std::string& name)
{
    for (const RecordedText& label : canvas.texts())
        if (label.text == name)
            return label.topLeft.y() + 13.0 / 2.0;
    ADD_FAILURE() << name;
    return kNaN;
}

std::vector<RecordedLine> across(const RecordingCanvas& canvas, double y, Colour colour)
{
    std::vector<RecordedLine> found;
    for (const RecordedLine& line : canvas.lines())
        if (std::abs(line.from.y() - y) < 0.01 && std::abs(line.to.y() - y) < 0.01 &&
            line.colour == colour)
            found.push_back(line);
    return found;
}

TEST(ForestPlot, ScaleFromZeroToARoundTopAboveTheRanges)
{
    struct {
        std::vector<double> estimates, uppers;
        double top, step;
    } const cases[] = {
        {{36.9, 54.9}, {49.3, 64.5}, 70.0, 10.0},
        {{1269.4}, {1516.6}, 1600.0, 200.0},
        {{0.4}, {0.9}, 1.0, 0.2},
        // A limit far beyond the rest runs off: the axis ends at 2.5 times the largest estimate.
        {{40.0, 12.0}, {55.0, 4000.0}, 100.0, 20.0},
        {{}, {}, 1.0, 1.0}, // no estimate at all
    };
    for (const auto& c : cases) {
        ForestPlot plot;
        for (std::size_t k = 0; k < c.estimates.size(); ++k)
            plot.rows.push_back(block("b", c.estimates[k], 0.0, c.uppers[k]));
        const RecordingCanvas canvas(1200.0, 400.0);
        const ForestScale scale = forestScale(canvas, plot);
        EXPECT_DOUBLE_EQ(scale.top, c.top) << c.top;
        EXPECT_DOUBLE_EQ(scale.step, c.step) << c.top;
    }
}

TEST(ForestPlot, RangesPointsAndDiamondsStandWhereTheAxisSays)
{
    RecordingCanvas canvas(600.0, 300.0);
    const ForestPlot plot = survey();
    const ForestScale scale = forestScale(canvas, plot);
    ASSERT_EQ(drawForest(canvas, plot, scale, 0, plot.rows.size()), plot.rows.size());
    const auto x = [&](int dogs) { return *tickAt(canvas, std::to_string(dogs)); };

    // market: a black line from 30 to 50 dogs (and the middle line of its point), and its point
    // filled around 40.
    const double market = rowMiddle(canvas, "market");
    auto line = across(canvas, market, kBlack);
    ASSERT_EQ(line.size(), 2u);
    std::sort(line.begin(), line.end(), [](const RecordedLine& a, const RecordedLine& b) {
        return a.to.x() - a.from.x() > b.to.x() - b.from.x();
    });
    EXPECT_NEAR(line[0].from.x(), x(30), 0.01);
    EXPECT_NEAR(line[0].to.x(), x(50), 0.01);
    int pointLines = 0;
    for (const RecordedLine& fill : canvas.lines())
        if (fill.colour == kBlack && std::abs(fill.from.y() - market) <= 3.0 &&
            std::abs((fill.from.x() + fill.to.x()) / 2.0 - x(40)) < 0.01)
            ++pointLines;
    EXPECT_GE(pointLines, 5) << "the point is filled";

    // The stratum's diamond: widest on its middle line, from 20 to 45, narrower above and below.
    const double stratum = rowMiddle(canvas, "centre: dogs per block");
    const auto widest = across(canvas, stratum, kStratumBlue);
    ASSERT_EQ(widest.size(), 1u);
    EXPECT_NEAR(widest[0].from.x(), x(20), 0.01);
    EXPECT_NEAR(widest[0].to.x(), x(20) + (x(50) - x(20)) * 25.0 / 30.0, 0.01);
    EXPECT_LT(across(canvas, stratum - 2.0, kStratumBlue)[0].to.x(), widest[0].to.x());

    // Numbers on the right; the block without an estimate says why instead.
    const auto said = [&](const std::string& text) {
        return std::any_of(canvas.texts().begin(), canvas.texts().end(),
                           [&](const RecordedText& t) { return t.text == text; });
    };
    EXPECT_TRUE(said("40.0 (30.0 to 50.0)") && said("no street count") && said("centre"));
    EXPECT_TRUE(across(canvas, rowMiddle(canvas, "temple"), kBlack).empty());

    // Rows go down the canvas in order.
    EXPECT_LT(rowMiddle(canvas, "centre"), market);
    EXPECT_LT(market, rowMiddle(canvas, "station"));
    EXPECT_LT(rowMiddle(canvas, "temple"), stratum);
}

// On a narrow canvas the ticks thin out to round steps, so that their labels never touch.
TEST(ForestPlot, TickLabelsNeverTouch)
{
    ForestPlot plot;
    plot.rows.push_back(block("b", 1234.0, 1000.0, 1500.0));
    for (const double width : {900.0, 400.0, 250.0}) {
        RecordingCanvas canvas(width, 200.0);
        drawForest(canvas, plot, forestScale(canvas, plot), 0, 1);
        std::vector<std::pair<double, double>> ticks; // left and right of each label
        std::vector<double> values;
        for (const RecordedText& text : canvas.texts())
            if (!text.text.empty() && std::isdigit(static_cast<unsigned char>(text.text[0])) &&
                text.text.find(' ') == std::string::npos) {
                ticks.emplace_back(text.topLeft.x(),
                                   text.topLeft.x() + canvas.TextWidth(text.text));
                values.push_back(std::stod(text.text));
            }
        ASSERT_GE(ticks.size(), 2u) << width;
        for (std::size_t k = 1; k < ticks.size(); ++k) {
            EXPECT_LT(ticks[k - 1].second, ticks[k].first) << width;
            const double step = values[k] - values[k - 1];
            const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
            EXPECT_TRUE(mantissa == 1.0 || mantissa == 2.0 || mantissa == 5.0) << step;
        }
    }
}

TEST(ForestPlot, RangesThatRunOnEndInArrows)
{
    ForestPlot plot;
    ForestRow open = block("open below", 30.0, 25.0, 40.0);
    open.lowerOpen = true;
    plot.rows.push_back(open);
    plot.rows.push_back(block("far", 40.0, 20.0, 4000.0)); // beyond 2.5 x 40
    plot.rows.push_back(block("closed", 35.0, 30.0, 45.0));
    RecordingCanvas canvas(600.0, 300.0);
    drawForest(canvas, plot, forestScale(canvas, plot), 0, 3);
    const auto ends = [&](const char* name) {
        // Lines of the row that are not horizontal: an arrowhead's two strokes.
        const double y = rowMiddle(canvas, name);
        std::vector<RecordedLine> strokes;
        for (const RecordedLine& line : canvas.lines())
            if (line.from.y() == y && line.to.y() != y && line.colour == kBlack)
                strokes.push_back(line);
        return strokes;
    };
    const auto below = ends("open below");
    ASSERT_EQ(below.size(), 2u);
    EXPECT_NEAR(below[0].from.x(),
                *tickAt(canvas, "0") + (*tickAt(canvas, "20") - *tickAt(canvas, "0")) * 25.0 / 20.0,
                0.01);
    EXPECT_GT(below[0].to.x(), below[0].from.x()) << "pointing left";
    const auto far = ends("far");
    ASSERT_EQ(far.size(), 2u);
    EXPECT_NEAR(far[0].from.x(), *tickAt(canvas, "100"), 0.01) << "at the axis's end";
    EXPECT_LT(far[0].to.x(), far[0].from.x()) << "pointing right";
    EXPECT_TRUE(ends("closed").empty());
}

TEST(ForestPlot, LongLabelsAreCutAndLongSurveysDrawnInParts)
{
    ForestPlot plot;
    for (int k = 0; k < 100; ++k)
        plot.rows.push_back(block(k == 0 ? std::string("a block whose name is far too long for its "
                                                       "column of labels, however wide")
                                         : "b" + std::to_string(k),
                                  10.0 + k, 5.0 + k, 20.0 + k));
    RecordingCanvas canvas(600.0, 300.0);
    const ForestScale scale = forestScale(canvas, plot);
    EXPECT_DOUBLE_EQ(scale.labelWidth, 200.0) << "a third of the width";
    const std::size_t fit = forestRowsThatFit(canvas);
    ASSERT_GT(fit, 5u);
    EXPECT_EQ(drawForest(canvas, plot, scale, 0, 100), fit);
    EXPECT_LE(forestHeight(canvas, fit), 300.0);
    EXPECT_GT(forestHeight(canvas, fit + 1), 300.0);
    const RecordedText& cut = canvas.texts()[2];
    EXPECT_TRUE(cut.text.ends_with("\u2026"));
    EXPECT_LE(canvas.TextWidth(cut.text), 200.0);

    // A name in letters of two bytes is cut between letters, never inside one.
    ForestPlot accented;
    std::string name;
    for (int k = 0; k < 40; ++k)
        name += "\u00e9";
    accented.rows.push_back(block(name, 10.0, 5.0, 20.0));
    RecordingCanvas narrow(150.0, 300.0);
    drawForest(narrow, accented, forestScale(narrow, accented), 0, 1);
    const std::string& shortened = narrow.texts()[2].text;
    ASSERT_TRUE(shortened.ends_with("\u2026"));
    EXPECT_EQ((shortened.size() - 3) % 2, 0u);
    EXPECT_EQ(shortened.substr(0, shortened.size() - 3), name.substr(0, shortened.size() - 3));

    // The last rows, on a canvas of their own: the same scale, and no row past the end.
    canvas.forget();
    EXPECT_EQ(drawForest(canvas, plot, scale, 98, fit), 2u);
    EXPECT_FALSE(std::isnan(rowMiddle(canvas, "b99")));
    EXPECT_TRUE(tickAt(canvas, std::to_string(static_cast<int>(scale.top))).has_value());
    EXPECT_EQ(drawForest(canvas, plot, scale, 100, fit), 0u);
}

} // namespace
} // namespace kestrum
