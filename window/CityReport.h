// The survey's report for the people who run it: a first page a programme manager reads (the
// survey, its place, dates and team; one plain sentence with the city's dogs; what P and S mean;
// the strata; the forest plot; the method and what it assumes; every warning), then the table of
// blocks on as many pages as it needs, its header on each. A PDF (or a printer's pages) drawn with
// QPainter, the forest plot as lines and text; or an HTML page with the same content, the plot
// inside it as SVG.
#pragma once

#include <QDateTime>
#include <QString>

#include <memory>

#include "ForestPlot.h"
#include "SurveyDescription.h"
#include "SurveyLoad.h"

class QPagedPaintDevice;
class QPageLayout;

namespace kestrum {

struct CityReportContent {
    std::shared_ptr<const LoadedSurvey> survey;
    SurveyDescription description;
    QDateTime when;
    ForestPlot forest;
};

// The report's title: the survey's name, or its file's.
QString cityReportTitle(const CityReportContent& content);

// The report as one HTML page.
QString cityReportHtml(const CityReportContent& content);

// The report on the pages of a PDF writer or a printer. False when the device could not be
// painted on (a printer that cannot be reached).
bool paintCityReport(QPagedPaintDevice& device, const CityReportContent& content);

// By the name's ending: ".pdf" a PDF on A4 pages, anything else an HTML page. Made in memory,
// then written whole; returns why it could not be, or nothing.
QString writeCityReport(const QString& path, const CityReportContent& content);
// As a PDF file on the pages given (a printer's, when printed to a file).
QString writeCityReportPdf(const QString& path, const CityReportContent& content,
                           const QPageLayout& page);

} // namespace kestrum
