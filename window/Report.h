// The saved plot and the short report of an estimate: the data, the estimates with their limits
// and standard errors, the fit check, the warnings and the plot.
#pragma once

#include <QImage>
#include <QString>

#include "BlockAnalysis.h"

namespace kestrum {

// imageSource: what the report's <img> points at (a data: URL for a file of its own, a resource
// name when rendered to PDF).
QString reportHtml(const BlockAnalysis& block, const QString& profileCaption,
                   const QString& imageSource);

// By the name's ending: ".pdf" is a PDF page, anything else an HTML file with the plot inside it.
// Returns why it could not be written, or nothing; never leaves a half-written file.
QString writeReport(const QString& path, const BlockAnalysis& block, const QString& profileCaption,
                    const QImage& plot);

// ".pdf" a PDF page holding the plot, otherwise an image in the format of the name's ending (PNG
// when it has none). Returns why it could not be written, or nothing.
QString writePlot(const QString& path, const QImage& plot);

} // namespace kestrum
