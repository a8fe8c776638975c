#include "PlanCurveFiles.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include "ImageCanvas.h"
#include "PainterCanvas.h"

namespace kestrum {

namespace {

constexpr double kScreenDpi = 96.0;

} // namespace

QImage planCurveImage(const PlanCurve& curve, QSize size, const QFont& font)
{
    ImageCanvas canvas(size, font);
    drawPlanCurve(canvas, curve);
    return canvas.image();
}

QByteArray planCurvePng(const PlanCurve& curve, QSize size, const QFont& font)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) ||
        !planCurveImage(curve, size, font).save(&buffer, "PNG")) {
        return {};
    }
    return bytes;
}

QByteArray planCurvePdf(const PlanCurve& curve, QSize size, const QFont& font)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly)) {
        return {};
    }
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(static_cast<int>(kScreenDpi));
        // A page the size of the drawing at 96 dpi, so that it lays out as on screen.
        const QSizeF points = QSizeF(size) * 72.0 / kScreenDpi;
        writer.setPageLayout(
            QPageLayout(QPageSize(points, QPageSize::Point, QString(), QPageSize::ExactMatch),
                        QPageLayout::Portrait, QMarginsF()));
        writer.setTitle(QStringLiteral("Kestrum survey plan"));
        QPainter painter;
        if (!painter.begin(&writer)) {
            return {};
        }
        PainterCanvas canvas(painter, QSizeF(size), font);
        drawPlanCurve(canvas, curve);
        if (!painter.end()) {
            return {};
        }
    }
    return bytes;
}

} // namespace kestrum
