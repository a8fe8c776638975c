// The survey planner's curve whole in memory, for a file written whole: Qt's canvases.
#pragma once

#include <QByteArray>
#include <QFont>
#include <QImage>
#include <QSize>

#include "PlanCurve.h"

namespace kestrum {

// The drawing whole in memory, for a file written whole: a PNG image of size pixels, or a PDF page
// of the same size at 96 dpi drawn as vectors. Empty when it could not be made.
QImage planCurveImage(const PlanCurve& curve, QSize size, const QFont& font);
QByteArray planCurvePng(const PlanCurve& curve, QSize size, const QFont& font);
QByteArray planCurvePdf(const PlanCurve& curve, QSize size, const QFont& font);

} // namespace kestrum
