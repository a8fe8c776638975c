#include "CityReport.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

#include "InferenceText.h"
#include "PainterCanvas.h"
#include "RecordingCanvas.h"
#include "Report.h"
#include "SurveyText.h"
#include "WholeFile.h"

namespace kestrum {

namespace {

constexpr double kScreenDpi = 96.0;
constexpr double kForestWidth = 760.0; // the plot in the HTML page, in pixels

QFont reportFont(double points, bool bold = false)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

// A column of the report's table of blocks: its share of the page's width, and whether its text
// wraps (the names and the warnings) or stands to the right (the numbers).
struct ReportColumn {
    QString title;
    double width;
    bool wraps;
};

// The N with its limits in one cell, and with marks the coverage with its limits.
std::vector<ReportColumn> reportBlockColumns(bool marked)
{
    std::vector<ReportColumn> columns{
        {QStringLiteral("block"), 0.13, true},    {QStringLiteral("stratum"), 0.09, true},
        {QStringLiteral("1,0,0"), 0.045, false},  {QStringLiteral("1,1,1"), 0.045, false},
        {QStringLiteral("1,0,1"), 0.045, false},  {QStringLiteral("1,1,0"), 0.045, false},
        {QStringLiteral("S"), 0.065, false},      {QStringLiteral("P"), 0.05, false},
        {QStringLiteral("count"), 0.05, false},   {QStringLiteral("N (95% limits)"), 0.16, false},
        {QStringLiteral("warnings"), 0.275, true}};
    if (marked) {
        columns.back().width -= 0.12;
        columns.insert(columns.end() - 1, {QStringLiteral("coverage (95% limits)"), 0.12, false});
    }
    return columns;
}

QStringList reportBlockCells(const survey::RowSummary& row, bool marked)
{
    QString N = blockCell(row, BlockColumn::N);
    if (!N.isEmpty() && row.nLower.kind != inference::LimitKind::NotGiven) {
        N += QStringLiteral(" (%1 to %2)")
                 .arg(blockCell(row, BlockColumn::NLower), blockCell(row, BlockColumn::NUpper));
    }
    QString name = blockCell(row, BlockColumn::Block);
    if (name.isEmpty()) {
        name = QStringLiteral("line %1").arg(row.line);
    }
    QStringList cells{name,
                      blockCell(row, BlockColumn::Stratum),
                      blockCell(row, BlockColumn::N100),
                      blockCell(row, BlockColumn::N111),
                      blockCell(row, BlockColumn::N101),
                      blockCell(row, BlockColumn::N110),
                      blockCell(row, BlockColumn::S),
                      blockCell(row, BlockColumn::P),
                      blockCell(row, BlockColumn::Count),
                      N};
    if (marked) {
        QString coverage = blockCell(row, BlockColumn::Coverage);
        if (!coverage.isEmpty()) {
            coverage += QStringLiteral(" (%1 to %2)")
                            .arg(blockCell(row, BlockColumn::CoverageLower),
                                 blockCell(row, BlockColumn::CoverageUpper));
        }
        cells << coverage;
    }
    return cells << blockCell(row, BlockColumn::Warnings);
}

QString describedBy(const CityReportContent& content)
{
    const SurveyDescription& d = content.description;
    QStringList parts;
    for (const auto& [name, value] :
         {std::pair{QStringLiteral("Place"), d.place}, std::pair{QStringLiteral("Dates"), d.dates},
          std::pair{QStringLiteral("Team"), d.team}}) {
        if (!value.isEmpty()) {
            parts << QStringLiteral("<b>%1:</b> %2").arg(name, escaped(value));
        }
    }
    if (parts.isEmpty()) {
        return QStringLiteral("<p>Place, dates and team not given: type them in the survey "
                              "window's Survey &gt; About the survey.</p>");
    }
    return QStringLiteral("<p>%1</p>").arg(parts.join(QStringLiteral(" &nbsp;&nbsp; ")));
}

QString madeBy(const CityReportContent& content)
{
    const LoadedSurvey& survey = *content.survey;
    QString from = QFileInfo(survey.settings.survey).fileName();
    if (survey.framed() && survey.settings.frame) {
        from += QStringLiteral(", with the frame %1, P for the totals by %2")
                    .arg(QFileInfo(*survey.settings.frame).fileName(),
                         QString::fromLatin1(survey::methodName(survey.settings.pBy)));
    }
    return QStringLiteral("Report made %1 by Kestrum %2 from %3.")
        .arg(content.when.toString(QStringLiteral("yyyy-MM-dd HH:mm")), programVersion(), from);
}

// The first page up to the forest plot.
QString summaryHtml(const CityReportContent& content)
{
    const LoadedSurvey& survey = *content.survey;
    QString html =
        QStringLiteral("<p style=\"color:#555555\">Kestrum survey report</p>"
                       "<h1>%1</h1>%2<p style=\"color:#555555\">%3</p>")
            .arg(escaped(cityReportTitle(content)), describedBy(content), escaped(madeBy(content)));
    html += QStringLiteral("<p style=\"font-size:large\"><b>%1</b></p>")
                .arg(escaped(citySentence(survey)));
    html += QStringLiteral("<p>%1<br>%2</p>").arg(escaped(meaningOfP()), escaped(meaningOfS()));
    if (survey.framed()) {
        html += QStringLiteral("<h3>Strata and the city</h3>") +
                reportTable(strataColumns(), strataRows(survey));
    }
    if (survey.results.marked()) {
        html += QStringLiteral("<h3>Vaccination coverage</h3><p>%1</p>")
                    .arg(escaped(coverageSentence(survey))) +
                reportTable(coverageColumns(), coverageRows(survey));
    }
    return html;
}

QString methodAndWarningsHtml(const CityReportContent& content)
{
    const LoadedSurvey& survey = *content.survey;
    QString html = QStringLiteral("<h3>Method</h3>") + reportParagraphs({methodParagraph(survey)});
    html += QStringLiteral("<h3>Warnings</h3>");
    const QStringList warnings = surveyWarnings(survey);
    if (warnings.isEmpty()) {
        return html + QStringLiteral("<p>None.</p>");
    }
    html += QStringLiteral("<ul>");
    for (const QString& warning : warnings) {
        html += QStringLiteral("<li>%1</li>").arg(escaped(warning));
    }
    return html + QStringLiteral("</ul>");
}

// The forest plot as SVG, whole, its text as text.
QByteArray forestSvg(const CityReportContent& content)
{
    const QFont font = reportFont(8.0);
    const RecordingCanvas measure(kForestWidth, 0.0, QFontMetricsF(font).lineSpacing());
    const double height = forestHeight(measure, content.forest.rows.size());
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setResolution(static_cast<int>(kScreenDpi));
    svg.setSize(QSize(static_cast<int>(kForestWidth), static_cast<int>(std::ceil(height))));
    svg.setViewBox(QRectF(0.0, 0.0, kForestWidth, height));
    svg.setTitle(QStringLiteral("Dogs in each block"));
    QPainter painter(&svg);
    PainterCanvas canvas(painter, QSizeF(kForestWidth, height), font);
    drawForest(canvas, content.forest, forestScale(canvas, content.forest), 0,
               content.forest.rows.size());
    painter.end();
    // The XML declaration would end the HTML's text flow; the element alone goes in.
    const qsizetype start = bytes.indexOf("<svg");
    return start < 0 ? bytes : bytes.mid(start);
}

// Pages filled from the top: text, the forest a part at a time, the table of blocks with its
// header on each page; a footer with the title and the page's number on each.
class Pages {
public:
    Pages(QPagedPaintDevice& device, QPainter& painter, QString footer)
        : device_(device), painter_(painter), footer_(std::move(footer)),
          area_(device.pageLayout().paintRectPixels(device.logicalDpiX())),
          unit_(device.logicalDpiY() / kScreenDpi)
    {
        const QFontMetricsF metrics(reportFont(7.0), &device_);
        bottom_ = area_.height() - 2.0 * metrics.lineSpacing();
    }

    double room() const { return bottom_ - y_; }

    void newPage()
    {
        drawFooter();
        device_.newPage();
        y_ = 0.0;
        ++page_;
    }

    void finish() { drawFooter(); }

    void space(double points) { y_ += points * device_.logicalDpiY() / 72.0; }

    void document(const QString& html)
    {
        QTextDocument document;
        document.documentLayout()->setPaintDevice(&device_);
        document.setDefaultFont(reportFont(9.0));
        document.setDocumentMargin(0.0);
        document.setTextWidth(area_.width());
        document.setHtml(html);
        double height = document.size().height();
        if (height > room() && y_ > 0.0) {
            newPage();
        }
        if (height <= room()) {
            painter_.save();
            painter_.translate(0.0, y_);
            document.drawContents(&painter_);
            painter_.restore();
            y_ += height;
            return;
        }
        // Longer than a page: the document's own pages, whose lines never straddle a page.
        const double pageHeight = room();
        document.setPageSize(QSizeF(area_.width(), pageHeight));
        height = document.size().height();
        for (int k = 0; k < document.pageCount(); ++k) {
            if (k > 0) {
                newPage();
            }
            painter_.save();
            painter_.translate(0.0, -k * pageHeight);
            document.drawContents(&painter_,
                                  QRectF(0.0, k * pageHeight, area_.width(), pageHeight));
            painter_.restore();
        }
        y_ = height - (document.pageCount() - 1) * pageHeight;
    }

    // The plot a page's room at a time, each part with its header and axis, on one scale.
    void forest(const ForestPlot& plot)
    {
        const QFont font = reportFont(8.0);
        const double width = area_.width() / unit_;
        const RecordingCanvas measure(width, 0.0,
                                      QFontMetricsF(font, &device_).lineSpacing() / unit_);
        const ForestScale scale = forestScale(measure, plot);
        const std::size_t rows = plot.rows.size();
        for (std::size_t first = 0; first < rows;) {
            const RecordingCanvas left(width, room() / unit_, measure.TextHeight());
            const std::size_t fit = forestRowsThatFit(left);
            // Not a part of two or three rows at a page's foot: they go to the next page.
            if (fit < std::min<std::size_t>(6, rows - first)) {
                if (y_ == 0.0) {
                    return; // a page too small for the plot at all
                }
                newPage();
                continue;
            }
            const std::size_t count = std::min(fit, rows - first);
            const double height = forestHeight(measure, count);
            painter_.save();
            painter_.translate(0.0, y_);
            painter_.scale(unit_, unit_);
            PainterCanvas canvas(painter_, QSizeF(width, height), font);
            drawForest(canvas, plot, scale, first, count);
            painter_.restore();
            y_ += height * unit_;
            first += count;
        }
    }

    // Rows of cells in columns of the widths given (shares of the page), the cells of the
    // columns that wrap wrapped, the header on top of every page the table takes.
    void table(const std::vector<ReportColumn>& columns, const std::vector<QStringList>& rows)
    {
        const QFont font = reportFont(7.0);
        const QFont bold = reportFont(7.0, true);
        const QFontMetricsF metrics(font, &device_);
        const double pad = metrics.lineSpacing() / 4.0;
        std::vector<double> left{0.0};
        for (const ReportColumn& column : columns) {
            left.push_back(left.back() + column.width * area_.width());
        }
        const auto wraps = [&columns](qsizetype k) {
            return columns[static_cast<std::size_t>(k)].wraps;
        };
        const double headerHeight = metrics.lineSpacing() + 2.0 * pad;
        const auto cellRect = [&](qsizetype k, double top, double height) {
            return QRectF(left[static_cast<std::size_t>(k)] + pad, top + pad,
                          left[static_cast<std::size_t>(k) + 1] -
                              left[static_cast<std::size_t>(k)] - 2.0 * pad,
                          height - 2.0 * pad);
        };
        const auto header = [&] {
            painter_.setFont(bold);
            painter_.setPen(Qt::black);
            for (std::size_t k = 0; k < columns.size(); ++k) {
                const auto at = static_cast<qsizetype>(k);
                painter_.drawText(cellRect(at, y_, headerHeight),
                                  Qt::AlignBottom | (wraps(at) ? Qt::AlignLeft : Qt::AlignRight),
                                  columns[k].title);
            }
            y_ += headerHeight;
            painter_.setPen(QPen(Qt::black, 0.0));
            painter_.drawLine(QPointF(0.0, y_), QPointF(area_.width(), y_));
        };
        if (room() < 3.0 * headerHeight) {
            newPage();
        }
        header();
        painter_.setFont(font);
        for (const QStringList& row : rows) {
            double height = metrics.lineSpacing();
            for (qsizetype k = 0; k < row.size(); ++k) {
                if (wraps(k) && !row[k].isEmpty()) {
                    height = std::max(
                        height,
                        metrics.boundingRect(cellRect(k, 0.0, 1e9), Qt::TextWordWrap, row[k])
                            .height());
                }
            }
            height += 2.0 * pad;
            if (height > room()) {
                newPage();
                header();
                painter_.setFont(font);
            }
            painter_.setPen(row.last().startsWith(QLatin1String("Not read")) ? QColor(160, 0, 0)
                                                                             : QColor(Qt::black));
            for (qsizetype k = 0; k < row.size(); ++k) {
                painter_.drawText(
                    cellRect(k, y_, height),
                    Qt::AlignTop | (wraps(k) ? Qt::TextWordWrap | Qt::AlignLeft : Qt::AlignRight),
                    row[k]);
            }
            y_ += height;
            painter_.setPen(QPen(QColor(200, 200, 200), 0.0));
            painter_.drawLine(QPointF(0.0, y_), QPointF(area_.width(), y_));
        }
    }

private:
    void drawFooter()
    {
        painter_.save();
        painter_.setFont(reportFont(7.0));
        painter_.setPen(QColor(110, 110, 110));
        painter_.drawText(QRectF(0.0, bottom_, area_.width(), area_.height() - bottom_),
                          Qt::AlignRight | Qt::AlignBottom,
                          QStringLiteral("%1, page %2").arg(footer_).arg(page_));
        painter_.restore();
    }

    QPagedPaintDevice& device_;
    QPainter& painter_;
    QString footer_;
    QRectF area_;
    double unit_; // device pixels to a pixel at 96 dpi
    double bottom_ = 0.0;
    double y_ = 0.0;
    int page_ = 1;
};

} // namespace

QString cityReportTitle(const CityReportContent& content)
{
    if (!content.description.name.isEmpty()) {
        return content.description.name;
    }
    return QStringLiteral("Dog survey: %1")
        .arg(QFileInfo(content.survey->settings.survey).fileName());
}

QString cityReportHtml(const CityReportContent& content)
{
    QString html =
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                       "<style>body{font-family:'Liberation Sans',Arial,sans-serif;max-width:"
                       "60em} table{border-collapse:collapse} th,td{padding:2px 6px}"
                       " thead{display:table-header-group} .blocks td{border-bottom:1px solid "
                       "#ccc;vertical-align:top} .blocks{font-size:small}</style></head><body>")
            .arg(escaped(cityReportTitle(content)));
    html += summaryHtml(content);
    html += QStringLiteral("<h3>Dogs in each block</h3>") + QString::fromUtf8(forestSvg(content));
    html += methodAndWarningsHtml(content);
    html += QStringLiteral("<h2 style=\"page-break-before:always\">Blocks</h2>"
                           "<table class=\"blocks\"><thead><tr>");
    const bool marked = content.survey->results.marked();
    const std::vector<ReportColumn> columns = reportBlockColumns(marked);
    for (const ReportColumn& column : columns) {
        html += QStringLiteral("<th>%1</th>").arg(escaped(column.title));
    }
    html += QStringLiteral("</tr></thead><tbody>");
    for (const survey::RowSummary& row : content.survey->results.rows()) {
        const QStringList cells = reportBlockCells(row, marked);
        html +=
            row.failed ? QStringLiteral("<tr style=\"color:#a00000\">") : QStringLiteral("<tr>");
        for (qsizetype k = 0; k < cells.size(); ++k) {
            html += QStringLiteral("<td%1>%2</td>")
                        .arg(columns[static_cast<std::size_t>(k)].wraps
                                 ? QString()
                                 : QStringLiteral(" align=\"right\""),
                             escaped(cells[k]));
        }
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</tbody></table></body></html>");
}

bool paintCityReport(QPagedPaintDevice& device, const CityReportContent& content)
{
    QPainter painter(&device);
    if (!painter.isActive()) {
        return false;
    }
    Pages pages(device, painter, cityReportTitle(content));
    pages.document(summaryHtml(content) + QStringLiteral("<h3>Dogs in each block</h3>"));
    pages.forest(content.forest);
    pages.space(6.0);
    pages.document(methodAndWarningsHtml(content));
    pages.newPage();
    pages.document(QStringLiteral("<h2>Blocks</h2>"));
    std::vector<QStringList> rows;
    rows.reserve(content.survey->results.rows().size());
    for (const survey::RowSummary& row : content.survey->results.rows()) {
        rows.push_back(reportBlockCells(row, content.survey->results.marked()));
    }
    pages.table(reportBlockColumns(content.survey->results.marked()), rows);
    pages.finish();
    return painter.end();
}

QString writeCityReport(const QString& path, const CityReportContent& content)
{
    if (!isPdfName(path)) {
        return writeWholeFile(path, cityReportHtml(content).toUtf8());
    }
    return writeCityReportPdf(path, content,
                              QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                          QMarginsF(15.0, 15.0, 15.0, 15.0),
                                          QPageLayout::Millimeter));
}

QString writeCityReportPdf(const QString& path, const CityReportContent& content,
                           const QPageLayout& page)
{
    return writeWholeFile(path, pdfInMemory(page, [&content](QPdfWriter& writer) {
                              writer.setTitle(cityReportTitle(content));
                              paintCityReport(writer, content);
                          }));
}

} // namespace kestrum
