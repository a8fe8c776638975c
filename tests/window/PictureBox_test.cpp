#include <QtTest>

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QWidget>

#include <cmath>
#include <limits>

#include "ImageCanvas.h"
#include "PictureBox.h"
#include "PlotCurve.h"

using namespace kestrum;

namespace {

constexpr Colour kBlue192 = 0xC00000;
const QRgb kBlueRgb = qRgb(0, 0, 192);
const QRgb kRedRgb = qRgb(255, 0, 0);
const QRgb kBlackRgb = qRgb(0, 0, 0);
const QRgb kWhiteRgb = qRgb(255, 255, 255);

// The window's font.
QFont windowFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(8.25);
    return font;
}

// The worked example: 21 points from -60 to -52.741, highest at point 11, x labels 60 to 80.
void plotExample(Canvas& canvas)
{
    PlotValues y;
    PlotValues x;
    for (int j = 1; j <= 21; ++j) {
        const double t = (j - 11) / 10.0;
        y(j) = j == 1 || j == 21 ? -60.0f : static_cast<float>(-52.741 - 7.259 * t * t);
        x(j) = static_cast<float>(59 + j);
    }
    PlotCurve(canvas, y, x, 21, QStringLiteral("log likelihood"), 10, kBlue192, true, true);
}

// What the widget shows inside its frame.
QImage shown(PictureBox& box)
{
    return box.grab().toImage().convertToFormat(QImage::Format_RGB32).copy(box.contentsRect());
}

bool allBackground(const QImage& image)
{
    QImage blank(image.size(), QImage::Format_RGB32);
    blank.fill(Qt::white);
    return image.convertToFormat(QImage::Format_RGB32) == blank;
}

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

class PictureBoxTest : public QObject {
    Q_OBJECT

private slots:
    void plotShowsBlueCurveRedDashedLineAndBlackTicks();
    void pictureRepaintsAndSurvivesHidingMinimisingAndResizing();
    void textUsesTheWidgetsFont();
    void linesAreCutToTheCanvas();
    void textAtNoPositionDrawsNothing();
};

void PictureBoxTest::plotShowsBlueCurveRedDashedLineAndBlackTicks()
{
    PictureBox box;
    box.setFont(windowFont());
    box.resize(953, 385);
    QCOMPARE(box.image().size(), QSize(949, 381)); // inside the two-pixel frame
    QVERIFY(allBackground(box.image()));
    plotExample(box.canvas());
    const QImage image = box.image();

    // The red line 1.92 below the top: y 123.206, from x 94.9 to 854.1, one pixel high, dashed.
    const int row = 123;
    // The curve: the peak at (474.5, 47.625), both ends at y 333.375, no column left out between
    // (where it crosses the red line, drawn later, it may be red).
    QCOMPARE(image.pixel(474, 47), kBlueRgb);
    QCOMPARE(image.pixel(94, 333), kBlueRgb);
    QCOMPARE(image.pixel(854, 333), kBlueRgb);
    for (int x = 94; x <= 854; ++x) {
        bool curve = false;
        for (int y = 47; y <= 333 && !curve; ++y)
            curve = image.pixel(x, y) == kBlueRgb || (y == row && image.pixel(x, y) == kRedRgb);
        QVERIFY2(curve, qPrintable(QStringLiteral("no curve in column %1").arg(x)));
    }
    int first = -1, last = -1, gaps = 0;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, row) == kRedRgb) {
            if (first < 0)
                first = x;
            else if (image.pixel(x - 1, row) != kRedRgb)
                ++gaps;
            last = x;
        }
        QVERIFY(image.pixel(x, row - 1) != kRedRgb && image.pixel(x, row + 1) != kRedRgb);
    }
    QCOMPARE(first, 94);
    QVERIFY2(last >= 845 && last <= 854, qPrintable(QString::number(last)));
    QVERIFY2(gaps > 20, "the red line is dashed");

    // Ticks from y 351 up to 341 under points 2 to 21, 37.96 apart; point 1 has none.
    for (int j = 1; j <= 21; ++j) {
        const int x = static_cast<int>(std::floor(94.9 + (j - 1) * 37.96));
        for (int y = 339; y <= 353; ++y) {
            const bool tick = j > 1 && y >= 341 && y <= 351;
            QVERIFY2((image.pixel(x, y) == kBlackRgb) == tick,
                     qPrintable(QStringLiteral("point %1 at (%2, %3)").arg(j).arg(x).arg(y)));
        }
    }

    box.canvas().Cls();
    QVERIFY(allBackground(box.image()));
}

void PictureBoxTest::pictureRepaintsAndSurvivesHidingMinimisingAndResizing()
{
    QWidget window;
    window.resize(1000, 640);
    PictureBox box(&window);
    box.setGeometry(16, 224, 953, 385);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter;
    box.installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;
    plotExample(box.canvas());
    QCoreApplication::processEvents();
    QVERIFY2(counter.paints > 0, "what is drawn on the canvas reaches the screen");
    const QImage drawn = box.image().copy();
    QVERIFY(!allBackground(drawn));
    QCOMPARE(shown(box), drawn);

    window.hide();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(shown(box), drawn);
    window.showMinimized();
    window.showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(shown(box), drawn);

    // The picture keeps its place at the top-left: growing adds background, shrinking crops.
    box.resize(1004, 404);
    QCOMPARE(box.image().copy(0, 0, 949, 381), drawn);
    QVERIFY(allBackground(box.image().copy(949, 0, 51, 400)));
    QVERIFY(allBackground(box.image().copy(0, 381, 1000, 19)));
    QCOMPARE(shown(box), box.image());
    box.resize(504, 204);
    QCOMPARE(box.image(), drawn.copy(0, 0, 500, 200));
}

void PictureBoxTest::textUsesTheWidgetsFont()
{
    QWidget window;
    PictureBox box(&window);
    box.resize(953, 385);
    window.setFont(windowFont());
    const double small = box.canvas().TextHeight();
    QCOMPARE(small, QFontMetricsF(windowFont(), &box.image()).lineSpacing());
    QFont large = windowFont();
    large.setPointSizeF(20.0);
    box.setFont(large);
    QVERIFY(box.canvas().TextHeight() > 2.0 * small);
}

void PictureBoxTest::linesAreCutToTheCanvas()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        QPointF from;
        QPointF to;
        QList<QPoint> lit; // pixels that must be drawn
        int count;         // pixels drawn in all
        DrawStyle style = DrawStyle::Solid;
    } cases[] = {
        {"dashed: 6 on, 4 off", {0.0, 5.0}, {99.0, 5.0}, {{0, 5}, {5, 5}, {10, 5}, {95, 5}}, 60,
         DrawStyle::Dash},
        {"within", {2.5, 3.5}, {7.9, 3.0}, {{2, 3}, {7, 3}}, 6},
        {"across, far beyond both sides", {-1e12, 10.5}, {1e12, 10.5}, {{0, 10}, {99, 10}}, 100},
        {"diagonal from far off", {-1e6, -1e6}, {1e6, 1e6}, {{0, 0}, {25, 25}, {49, 49}}, 50},
        {"below the bottom", {5.0, 5000.0}, {95.0, 5000.0}, {}, 0},
        {"not a number", {nan, 5.0}, {20.0, 5.0}, {}, 0},
        {"infinite", {-inf, 5.0}, {20.0, 5.0}, {}, 0},
    };
    for (const auto& c : cases) {
        ImageCanvas canvas(QSize(100, 50));
        canvas.setDrawStyle(c.style);
        canvas.Line(c.from, c.to, kPureRed);
        int drawn = 0;
        for (int y = 0; y < 50; ++y) {
            for (int x = 0; x < 100; ++x) {
                const QRgb pixel = canvas.image().pixel(x, y);
                QVERIFY2(pixel == kRedRgb || pixel == kWhiteRgb, c.name);
                drawn += pixel == kRedRgb ? 1 : 0;
            }
        }
        for (const QPoint& pixel : c.lit)
            QVERIFY2(canvas.image().pixel(pixel) == kRedRgb, c.name);
        QVERIFY2(drawn == c.count, qPrintable(QStringLiteral("%1: %2").arg(c.name).arg(drawn)));
    }
}

void PictureBoxTest::textAtNoPositionDrawsNothing()
{
    ImageCanvas canvas(QSize(100, 40), windowFont());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double y : {nan, std::numeric_limits<double>::infinity(), 2.0}) {
        canvas.setCurrentY(y);
        canvas.Print(QStringLiteral("-60.0000"));
        QCOMPARE(allBackground(canvas.image()), !std::isfinite(y));
    }
}

QTEST_MAIN(PictureBoxTest)
#include "PictureBox_test.moc"
