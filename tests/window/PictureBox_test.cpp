// The drawing area as pixels: the plot painted into the picture and shown, a picture that keeps its
// place when resized, and lines cut to the canvas.
#include <QtTest>

#include <cmath>
#include <limits>

#include "ImageCanvas.h"
#include "PictureBox.h"
#include "PlotCurve.h"

using namespace kestrum;

namespace {

const QRgb kRed = qRgb(255, 0, 0);
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

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
    PlotCurve(canvas, y, x, 21, "log likelihood", 10, 0xC00000, true, true);
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
    void plotIsPaintedRepaintedAndKeptWhenResized();
    void linesAreCutToTheCanvas();
};

void PictureBoxTest::plotIsPaintedRepaintedAndKeptWhenResized()
{
    QWidget window;
    window.resize(1000, 640);
    PictureBox box(&window);
    box.setFont(windowFont());
    box.setGeometry(16, 224, 953, 385);
    QCOMPARE(box.image().size(), QSize(949, 381)); // inside the two-pixel frame
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
    QCOMPARE(shown(box), drawn);

    // The curve from (94.9, 333.375) through the peak (474.5, 47.625) to (854.1, 333.375), no
    // column left out; the red line at y 123.206 from x 94; ticks from y 351 to 341.
    for (int x = 94; x <= 854; ++x) {
        bool curve = false;
        for (int y = 47; y <= 333 && !curve; ++y)
            curve = drawn.pixel(x, y) == qRgb(0, 0, 192) || drawn.pixel(x, y) == kRed;
        QVERIFY2(curve, qPrintable(QStringLiteral("no curve in column %1").arg(x)));
    }
    QCOMPARE(drawn.pixel(94, 123), kRed);
    for (int y = 339; y <= 353; ++y)
        QCOMPARE(drawn.pixel(132, y) == qRgb(0, 0, 0), y >= 341 && y <= 351);

    // The picture keeps its place at the top-left: growing adds background, shrinking crops.
    box.resize(1004, 404);
    QCOMPARE(box.image().copy(0, 0, 949, 381), drawn);
    QVERIFY(allBackground(box.image().copy(949, 0, 51, 400)));
    QVERIFY(allBackground(box.image().copy(0, 381, 1000, 19)));
    QCOMPARE(shown(box), box.image());
    box.resize(504, 204);
    QCOMPARE(box.image(), drawn.copy(0, 0, 500, 200));
    box.canvas().Cls();
    QVERIFY(allBackground(box.image()));
}

void PictureBoxTest::linesAreCutToTheCanvas()
{
    const struct {
        const char* name;
        QPointF from;
        QPointF to;
        QList<QPoint> lit; // pixels that must be drawn
        int count;         // pixels drawn in all
        DrawStyle style = DrawStyle::Solid;
    } cases[] = {
        {"dashed: 6 on, 4 off",
         {0.0, 5.0},
         {99.0, 5.0},
         {{0, 5}, {5, 5}, {10, 5}, {95, 5}},
         60,
         DrawStyle::Dash},
        {"within", {2.5, 3.5}, {7.9, 3.0}, {{2, 3}, {7, 3}}, 6},
        {"across, far beyond both sides", {-1e12, 10.5}, {1e12, 10.5}, {{0, 10}, {99, 10}}, 100},
        {"diagonal from far off", {-1e6, -1e6}, {1e6, 1e6}, {{0, 0}, {25, 25}, {49, 49}}, 50},
        {"below the bottom", {5.0, 5000.0}, {95.0, 5000.0}, {}, 0},
        {"not a number", {kNaN, 5.0}, {20.0, 5.0}, {}, 0},
        {"infinite", {-kInf, 5.0}, {20.0, 5.0}, {}, 0},
    };
    for (const auto& c : cases) {
        ImageCanvas canvas(QSize(100, 50));
        canvas.setDrawStyle(c.style);
        canvas.Line(Point(c.from.x(), c.from.y()), Point(c.to.x(), c.to.y()), kPureRed);
        int drawn = 0;
        for (int y = 0; y < 50; ++y) {
            for (int x = 0; x < 100; ++x) {
                const QRgb pixel = canvas.image().pixel(x, y);
                QVERIFY2(pixel == kRed || pixel == qRgb(255, 255, 255), c.name);
                drawn += pixel == kRed ? 1 : 0;
            }
        }
        for (const QPoint& pixel : c.lit)
            QVERIFY2(canvas.image().pixel(pixel) == kRed, c.name);
        QVERIFY2(drawn == c.count, qPrintable(QStringLiteral("%1: %2").arg(c.name).arg(drawn)));
    }
    // Text at no position draws nothing either.
    ImageCanvas canvas(QSize(100, 40), windowFont());
    for (const double y : {kNaN, kInf, 2.0}) {
        canvas.setCurrentY(y);
        canvas.Print("-60.0000");
        QCOMPARE(allBackground(canvas.image()), !std::isfinite(y));
    }
}

QTEST_MAIN(PictureBoxTest)
#include "PictureBox_test.moc"
