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
#include "RecordingCanvas.h"

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
struct Example {
    PlotValues y;
    PlotValues x;
    Example()
    {
        for (int j = 1; j <= 21; ++j) {
            const double t = (j - 11) / 10.0;
            y(j) = static_cast<float>(-52.741 - 7.259 * t * t);
            x(j) = static_cast<float>(59 + j);
        }
        y(1) = -60.0f;
        y(21) = -60.0f;
        y(11) = -52.741f;
    }
    void plot(Canvas& canvas) const
    {
        PlotCurve(canvas, y, x, 21, QStringLiteral("log likelihood"), 10, kBlue192, true, true);
    }
    // Where the plot puts point j on a 949-pixel-wide canvas.
    static double X(int j) { return 94.9 + (j - 1) * 37.96; }
};

int column(double x) { return static_cast<int>(std::floor(x)); }

// What the widget shows inside its frame.
QImage shown(PictureBox& box)
{
    return box.grab().toImage().convertToFormat(QImage::Format_RGB32).copy(box.contentsRect());
}

bool allBackground(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != kWhiteRgb)
                return false;
    return true;
}

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class PictureBoxTest : public QObject {
    Q_OBJECT

private slots:
    void innerAreaIsTheOuterSizeLessTheSunkenBorder();
    void plotShowsBlueCurveRedDashedLineAndBlackTicks();
    void labelsStayInsideAndApart();
    void pictureSurvivesHidingMinimisingAndResizingTheWindow();
    void resizingKeepsThePictureAtTopLeft();
    void clsClearsToBackground();
    void textUsesTheWidgetsFont();
    void drawingRepaintsTheWidget();
    void linesAreCutToTheCanvas_data();
    void linesAreCutToTheCanvas();
    void dashedLineHasGapsSolidHasNone();
    void textAtNoPositionDrawsNothing();
};

void PictureBoxTest::innerAreaIsTheOuterSizeLessTheSunkenBorder()
{
    PictureBox box;
    box.resize(953, 385);
    QCOMPARE(box.frameShape(), QFrame::Panel);
    QCOMPARE(box.frameShadow(), QFrame::Sunken);
    QCOMPARE(box.lineWidth(), 2);
    QCOMPARE(box.image().size(), QSize(949, 381));
    QCOMPARE(box.canvas().ScaleWidth(), 949.0);
    QCOMPARE(box.canvas().ScaleHeight(), 381.0);
    QVERIFY2(allBackground(box.image()), "a new picture box is blank");
}

void PictureBoxTest::plotShowsBlueCurveRedDashedLineAndBlackTicks()
{
    PictureBox box;
    box.setFont(windowFont());
    box.resize(953, 385);
    box.canvas().Cls();
    Example().plot(box.canvas());
    const QImage image = box.image();

    // The red line 1.92 below the top: y 123.206, so row 123, from x 94.9 to 854.1.
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
    int first = -1;
    int last = -1;
    int gaps = 0;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, row) == kRedRgb) {
            if (first < 0)
                first = x;
            else if (image.pixel(x - 1, row) != kRedRgb)
                ++gaps;
            last = x;
        }
        QVERIFY2(image.pixel(x, row - 1) != kRedRgb && image.pixel(x, row + 1) != kRedRgb,
                 "the red line is one pixel high");
    }
    QCOMPARE(first, 94);
    QVERIFY2(last >= 845 && last <= 854, qPrintable(QString::number(last)));
    QVERIFY2(gaps > 20, "the red line is dashed");

    // Ticks from y 351 up to 341 under points 2 to 21; point 1 has none.
    for (int j = 2; j <= 21; ++j) {
        const int x = column(Example::X(j));
        for (int y = 341; y <= 351; ++y)
            QVERIFY2(image.pixel(x, y) == kBlackRgb,
                     qPrintable(QStringLiteral("tick %1 at (%2, %3)").arg(j).arg(x).arg(y)));
        QVERIFY(image.pixel(x, 339) != kBlackRgb);
        QVERIFY(image.pixel(x, 353) != kBlackRgb);
    }
    for (int y = 339; y <= 353; ++y)
        QVERIFY2(image.pixel(94, y) == kWhiteRgb, "no tick under point 1");
}

// The text positions are fixed; with the window's font the labels must still be readable: inside
// the picture and clear of each other.
void PictureBoxTest::labelsStayInsideAndApart()
{
    PictureBox box;
    box.setFont(windowFont());
    box.resize(953, 385);
    RecordingCanvas recorder(949.0, 381.0, box.canvas().TextHeight());
    Example().plot(recorder);

    const QFontMetricsF metrics(windowFont(), &box.image());
    QList<QRectF> inks;
    for (const auto& text : recorder.texts()) {
        const QPointF baseline(text.topLeft.x(), text.topLeft.y() + metrics.ascent());
        inks.append(metrics.tightBoundingRect(text.text).translated(baseline));
    }
    const QRectF picture(0.0, 0.0, 949.0, 381.0);
    for (qsizetype i = 0; i < inks.size(); ++i) {
        const QString name = recorder.texts()[std::size_t(i)].text;
        QVERIFY2(picture.contains(inks[i]), qPrintable(name + QStringLiteral(" is cut off")));
        for (qsizetype k = i + 1; k < inks.size(); ++k)
            QVERIFY2(!inks[i].intersects(inks[k]),
                     qPrintable(name + QStringLiteral(" overlaps ") +
                                recorder.texts()[std::size_t(k)].text));
    }
}

void PictureBoxTest::pictureSurvivesHidingMinimisingAndResizingTheWindow()
{
    QWidget window;
    window.resize(1000, 640);
    PictureBox box(&window);
    box.setGeometry(16, 224, 953, 385);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    box.canvas().Cls();
    Example().plot(box.canvas());
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

    window.resize(300, 200);
    window.resize(1200, 700);
    QCOMPARE(box.image(), drawn);
    QCOMPARE(shown(box), drawn);
}

void PictureBoxTest::resizingKeepsThePictureAtTopLeft()
{
    PictureBox box;
    box.resize(953, 385);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    Example().plot(box.canvas());
    const QImage drawn = box.image().copy();

    box.resize(1004, 404);
    QCOMPARE(box.canvas().ScaleWidth(), 1000.0);
    QCOMPARE(box.image().copy(0, 0, 949, 381), drawn);
    QVERIFY(allBackground(box.image().copy(949, 0, 51, 400)));
    QVERIFY(allBackground(box.image().copy(0, 381, 1000, 19)));
    QCOMPARE(shown(box), box.image());

    box.resize(504, 204);
    QCOMPARE(box.image(), drawn.copy(0, 0, 500, 200));
}

void PictureBoxTest::clsClearsToBackground()
{
    PictureBox box;
    box.resize(953, 385);
    Example().plot(box.canvas());
    box.canvas().setCurrentX(40.0);
    QVERIFY(!allBackground(box.image()));

    box.canvas().Cls();
    QVERIFY(allBackground(box.image()));
    QCOMPARE(box.canvas().CurrentX(), 0.0);
    QCOMPARE(box.canvas().CurrentY(), 0.0);
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

    // Print moves down one line of the font.
    box.canvas().setCurrentY(7.0);
    box.canvas().Print(QStringLiteral("x"));
    QCOMPARE(box.canvas().CurrentY(), 7.0 + box.canvas().TextHeight());
    QCOMPARE(box.canvas().CurrentX(), 0.0);
}

void PictureBoxTest::drawingRepaintsTheWidget()
{
    PictureBox box;
    box.resize(953, 385);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    PaintCounter counter;
    box.installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;

    box.canvas().Line(QPointF(10.0, 10.0), QPointF(100.0, 10.0), kBlue192);
    QCoreApplication::processEvents();
    QVERIFY2(counter.paints > 0, "a line drawn on the canvas reaches the screen");
    QCOMPARE(shown(box).pixel(50, 10), kBlueRgb);
}

void PictureBoxTest::linesAreCutToTheCanvas_data()
{
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QList<QPoint>>("lit"); // pixels that must be drawn
    QTest::addColumn<int>("count");         // pixels drawn in all

    const double huge = 1e12;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("within") << QPointF(2.5, 3.5) << QPointF(7.9, 3.0)
                            << QList<QPoint>{{2, 3}, {7, 3}} << 6;
    QTest::newRow("across, far beyond both sides")
        << QPointF(-huge, 10.5) << QPointF(huge, 10.5) << QList<QPoint>{{0, 10}, {99, 10}} << 100;
    QTest::newRow("down, far beyond both edges")
        << QPointF(20.2, -huge) << QPointF(20.2, huge) << QList<QPoint>{{20, 0}, {20, 49}} << 50;
    QTest::newRow("diagonal from far off") << QPointF(-1e6, -1e6) << QPointF(1e6, 1e6)
                                           << QList<QPoint>{{0, 0}, {25, 25}, {49, 49}} << 50;
    QTest::newRow("wholly outside") << QPointF(-50.0, 10.0) << QPointF(-10.0, 40.0)
                                    << QList<QPoint>{} << 0;
    QTest::newRow("below the bottom") << QPointF(5.0, 5000.0) << QPointF(95.0, 5000.0)
                                      << QList<QPoint>{} << 0;
    QTest::newRow("not a number") << QPointF(nan, 5.0) << QPointF(20.0, 5.0) << QList<QPoint>{}
                                  << 0;
    QTest::newRow("infinite") << QPointF(-inf, 5.0) << QPointF(20.0, 5.0) << QList<QPoint>{} << 0;
}

void PictureBoxTest::linesAreCutToTheCanvas()
{
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(QList<QPoint>, lit);
    QFETCH(int, count);

    ImageCanvas canvas(QSize(100, 50));
    canvas.Line(from, to, kPureRed);
    int drawn = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            if (canvas.image().pixel(x, y) == kRedRgb)
                ++drawn;
            else
                QVERIFY2(canvas.image().pixel(x, y) == kWhiteRgb, "only red or background");
    for (const QPoint& pixel : lit)
        QVERIFY2(canvas.image().pixel(pixel) == kRedRgb,
                 qPrintable(QStringLiteral("(%1, %2)").arg(pixel.x()).arg(pixel.y())));
    QCOMPARE(drawn, count);
}

void PictureBoxTest::dashedLineHasGapsSolidHasNone()
{
    ImageCanvas canvas(QSize(100, 20));
    canvas.setDrawStyle(DrawStyle::Dash);
    canvas.Line(QPointF(0.0, 5.0), QPointF(99.0, 5.0), kPureRed);
    canvas.setDrawStyle(DrawStyle::Solid);
    canvas.Line(QPointF(0.0, 10.0), QPointF(99.0, 10.0), kPureRed);

    int dashed = 0;
    int solid = 0;
    for (int x = 0; x < 100; ++x) {
        dashed += canvas.image().pixel(x, 5) == kRedRgb ? 1 : 0;
        solid += canvas.image().pixel(x, 10) == kRedRgb ? 1 : 0;
    }
    QCOMPARE(solid, 100);
    QCOMPARE(dashed, 60); // 6 on, 4 off
    QCOMPARE(canvas.image().pixel(0, 5), kRedRgb);
    QCOMPARE(canvas.image().pixel(7, 5), kWhiteRgb);
}

void PictureBoxTest::textAtNoPositionDrawsNothing()
{
    ImageCanvas canvas(QSize(100, 40), windowFont());
    canvas.setCurrentX(std::numeric_limits<double>::quiet_NaN());
    canvas.Print(QStringLiteral("-60.0000"));
    canvas.setCurrentY(std::numeric_limits<double>::infinity());
    canvas.Print(QStringLiteral("-60.0000"));
    QVERIFY(allBackground(canvas.image()));

    canvas.setCurrentY(2.0);
    canvas.Print(QStringLiteral("-60.0000"));
    QVERIFY2(!allBackground(canvas.image()), "text at a real position is drawn");
}

QTEST_MAIN(PictureBoxTest)
#include "PictureBox_test.moc"
