// What a person takes away from an estimate: the saved plot, the report (an HTML page, or one A4
// page as PDF or on a printer) and the plain-text summary for the clipboard.
#pragma once

#include <QDateTime>
#include <QPrinter>
#include <QWidget>
#include <QFont>
#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "BlockAnalysis.h"
#include "ProfilePlot.h"

class QPagedPaintDevice;
class QPageLayout;
class QPdfWriter;

namespace kestrum {

// The reports' printer, A4 with 15 mm margins, as the user sets it in the print dialog: false when
// the dialog was cancelled. Both windows print through it, so that their pages match.
bool choosePrinter(QPrinter& printer, QWidget* parent);

// The product's version, as both programs and the package give it.
QString programVersion();

// A table for a report's HTML: headings, then rows whose cells after the first align right.
QString reportTable(const QStringList& columns, const QList<QStringList>& rows);
// Each line a paragraph of its own, escaped.
QString reportParagraphs(const QStringList& lines);
// ".pdf" at the end of the name, in any case.
bool isPdfName(const QString& path);
// A PDF made in memory with QPainter on its pages: each page laid out as given, at 96 dpi.
QByteArray pdfInMemory(const QPageLayout& layout, const std::function<void(QPdfWriter&)>& paint);

// What the user says of the block in the details: the report's heading.
struct BlockDetails {
    QString name;
    QString place;
    QString date; // of the counts
    QString observer;
    QString notes;
};

// One press of "estimate" as the report tells it.
struct ReportContent {
    BlockAnalysis block;
    BlockDetails details;
    double rangePct = 0.0;
    QStringList messages; // every message of the press, as the window showed them
    std::optional<double> streetCount;
    ProfilePlot plot;
    QSize plotSize; // the drawing area on screen, in pixels
    QFont plotFont;
    QDateTime when;
};

// "P and S estimated; profile of P; plotting range 30% around the estimate."
QString settingsSentence(const ReportContent& content);

// The report as HTML; plotHtml stands where the plot goes (an <img> for a file of its own).
QString reportHtml(const ReportContent& content, const QString& plotHtml);

// The report on the pages of a PDF writer or a printer: the text, then the plot drawn as vectors
// with its caption, on one page unless the text leaves no room for the plot. False when the device
// could not be painted on (a printer that cannot be reached).
bool paintReport(QPagedPaintDevice& device, const ReportContent& content);

// By the name's ending: ".pdf" is a PDF page (A4), anything else an HTML file with the plot inside
// it. Made in memory, then written whole (writeWholeFile); returns why it could not, or nothing.
QString writeReport(const QString& path, const ReportContent& content, const QImage& plot);
// The report as a PDF file on the page given: Save report's A4, or the page of the print dialog
// when the report is printed to a file. Made in memory, then written whole.
QString writeReportPdf(const QString& path, const ReportContent& content, const QPageLayout& page);

// ".pdf" a PDF page with the plot drawn as vectors, whole; otherwise the picture on screen in the
// format of the name's ending (PNG when it has none). Made in memory, then written whole; returns
// why it could not, or nothing.
QString writePlot(const QString& path, const ReportContent& content, const QImage& plot);

// Data, settings, estimates, limits, fit check, population and messages as plain text, tables
// tab-separated so they paste into a spreadsheet.
QString resultsText(const ReportContent& content);

} // namespace kestrum
