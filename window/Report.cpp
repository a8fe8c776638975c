#include "Report.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrintDialog>
#include <QPdfWriter>
#include <QTextDocument>

#include "InferenceText.h"
#include "NumberText.h"
#include "PainterCanvas.h"
#include "WholeFile.h"

namespace kestrum {

namespace {

constexpr int kScreenDpi = 96;

QString tabbed(const QStringList& columns, const QList<QStringList>& rows)
{
    QString text = columns.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (const QStringList& row : rows) {
        text += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

QString stamp(const ReportContent& content)
{
    return QStringLiteral("%1, Kestrum %2")
        .arg(content.when.toString(QStringLiteral("yyyy-MM-dd HH:mm")), programVersion());
}

// The dogs from the street count, a line each: N, its limits for P's uncertainty only, and those
// with the count's own variation too.
QStringList populationLines(const ReportContent& content)
{
    return QStringLiteral("Street count %1: %2")
        .arg(text::plain(*content.streetCount),
             populationSentence(content.block, *content.streetCount))
        .split(QLatin1Char('\n'));
}

// The block's name, place, date of the counts, observer and notes, as far as they are given.
QStringList detailLines(const BlockDetails& details)
{
    QStringList parts;
    for (const auto& [name, value] : {std::pair{QStringLiteral("Place"), details.place},
                                      std::pair{QStringLiteral("Date of the counts"), details.date},
                                      std::pair{QStringLiteral("Observer"), details.observer}}) {
        if (!value.isEmpty()) {
            parts << QStringLiteral("%1: %2").arg(name, value);
        }
    }
    QStringList lines;
    if (!parts.isEmpty()) {
        lines << parts.join(QStringLiteral("; ")) + QLatin1Char('.');
    }
    if (!details.notes.isEmpty()) {
        lines << QStringLiteral("Notes: ") + details.notes;
    }
    return lines;
}

QString title(const ReportContent& content)
{
    return content.details.name.isEmpty()
               ? QStringLiteral("Kestrum report")
               : QStringLiteral("Kestrum report: block %1").arg(content.details.name);
}

QString plotCaption(const ReportContent& content)
{
    const bool ofP = content.block.analysis.problem.profiled == inference::Parameter::P;
    return QStringLiteral("Profile log likelihood of %1 against %2. The dashed red line lies 1.92 "
                          "below the highest point plotted; the 95% limits lie where the curve "
                          "crosses it, and the short red marks show the exact ones.")
        .arg(ofP ? QStringLiteral("P") : QStringLiteral("S"),
             ofP ? QStringLiteral("% seen") : QStringLiteral("% stay"));
}

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The plot as the window draws it, scaled to width, its top-left at the painter's origin.
void paintPlot(QPainter& painter, const ReportContent& content, double width)
{
    const QSizeF size(content.plotSize);
    painter.save();
    painter.scale(width / size.width(), width / size.width());
    painter.setClipRect(QRectF(QPointF(0.0, 0.0), size));
    PainterCanvas canvas(painter, size, content.plotFont);
    drawProfile(canvas, content.plot);
    painter.setClipping(false);
    painter.setPen(QPen(Qt::gray, 0.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(QPointF(0.0, 0.0), size));
    painter.restore();
}

} // namespace

QString programVersion()
{
    return QStringLiteral(KESTRUM_VERSION);
}

QString reportTable(const QStringList& columns, const QList<QStringList>& rows)
{
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr>");
    for (const QString& column : columns) {
        html += QStringLiteral("<th>%1</th>").arg(column.toHtmlEscaped());
    }
    html += QStringLiteral("</tr>");
    for (const QStringList& row : rows) {
        html += QStringLiteral("<tr>");
        for (qsizetype i = 0; i < row.size(); ++i) {
            html += QStringLiteral("<td%1>%2</td>")
                        .arg(i == 0 ? QString() : QStringLiteral(" align=\"right\""),
                             row[i].toHtmlEscaped());
        }
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

QString reportParagraphs(const QStringList& lines)
{
    QString html;
    for (const QString& line : lines) {
        html += QStringLiteral("<p>%1</p>").arg(line.toHtmlEscaped());
    }
    return html;
}

bool isPdfName(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

QByteArray pdfInMemory(const QPageLayout& layout, const std::function<void(QPdfWriter&)>& paint)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(kScreenDpi);
    writer.setPageLayout(layout);
    writer.setTitle(QStringLiteral("Kestrum"));
    writer.setCreator(QStringLiteral("Kestrum ") + programVersion());
    paint(writer);
    return bytes;
}

QString settingsSentence(const ReportContent& content)
{
    const BlockAnalysis& block = content.block;
    const bool ofP = block.analysis.problem.profiled == inference::Parameter::P;
    return QStringLiteral("%1; profile of %2; plotting range %3% around the estimate.")
        .arg(block.sFree ? QStringLiteral("P and S estimated")
                         : QStringLiteral("S held at %1, P estimated").arg(text::plain(block.S)),
             ofP ? QStringLiteral("P") : QStringLiteral("S"), text::plain(content.rangePct));
}

QString reportHtml(const ReportContent& content, const QString& plotHtml)
{
    const BlockAnalysis& block = content.block;
    // The block's details and the stamp in one paragraph, so that the page keeps room for the
    // plot.
    QStringList heading = detailLines(content.details);
    heading << stamp(content);
    for (QString& line : heading) {
        line = line.toHtmlEscaped();
    }
    QString html = QStringLiteral("<html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                                  "<body><h2>%1</h2><p>%2</p>")
                       .arg(title(content).toHtmlEscaped(), heading.join(QStringLiteral("<br>")));
    html +=
        QStringLiteral("<p><b>%1</b></p>")
            .arg(blockSentence(block, content.details.name, content.streetCount).toHtmlEscaped());
    html += QStringLiteral("<p>%1<br>%2</p>")
                .arg(meaningOfP().toHtmlEscaped(), meaningOfS().toHtmlEscaped());
    html += QStringLiteral("<h3>Data and settings</h3>") +
            reportTable(frequencyColumns(), frequencyRows(block)) +
            reportParagraphs({settingsSentence(content)});
    html += QStringLiteral("<h3>Estimates</h3>") + reportParagraphs({summarySentence(block)}) +
            reportTable(estimateColumns(), estimateRows(block)) +
            reportParagraphs(estimateNotes(block));
    html += QStringLiteral("<h3>Fit check</h3>") + reportParagraphs({fitCheckSentence(block)});
    if (content.streetCount) {
        QStringList lines = populationLines(content);
        for (QString& line : lines) {
            line = line.toHtmlEscaped();
        }
        html += QStringLiteral("<h3>Dogs in the block</h3><p>%1</p>")
                    .arg(lines.join(QStringLiteral("<br>")));
    }
    html += QStringLiteral("<h3>Messages</h3>");
    if (content.messages.isEmpty()) {
        html += QStringLiteral("<p>None.</p>");
    } else {
        html += QStringLiteral("<ul>");
        for (const QString& message : content.messages) {
            html += QStringLiteral("<li>%1</li>").arg(message.toHtmlEscaped());
        }
        html += QStringLiteral("</ul>");
    }
    if (!plotHtml.isNull()) {
        html += QStringLiteral("<h3>Profile log likelihood</h3>") + plotHtml +
                reportParagraphs({plotCaption(content)});
    }
    return html + QStringLiteral("</body></html>");
}

bool paintReport(QPagedPaintDevice& device, const ReportContent& content)
{
    const QRectF area = device.pageLayout().paintRectPixels(device.logicalDpiX());
    QPainter painter(&device);
    if (!painter.isActive()) {
        return false;
    }
    const auto document = [&device, &area](const QString& html) {
        auto made = std::make_unique<QTextDocument>();
        made->documentLayout()->setPaintDevice(&device);
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPointSizeF(9.0);
        made->setDefaultFont(font);
        made->setDocumentMargin(0.0);
        made->setTextWidth(area.width());
        made->setHtml(html);
        return made;
    };
    const auto text = document(reportHtml(content, QString()) +
                               QStringLiteral("<h3>Profile log likelihood</h3>"));
    const auto caption = document(reportParagraphs({plotCaption(content)}));
    const double plotHeight =
        area.width() * content.plotSize.height() / std::max(1, content.plotSize.width());

    text->drawContents(&painter);
    double top = text->size().height();
    if (top + plotHeight + caption->size().height() > area.height()) {
        device.newPage();
        top = 0.0;
    }
    painter.translate(0.0, top);
    paintPlot(painter, content, area.width());
    painter.translate(0.0, plotHeight + device.logicalDpiY() / 16.0);
    caption->drawContents(&painter);
    return painter.end();
}

QString writeReport(const QString& path, const ReportContent& content, const QImage& plot)
{
    if (!isPdfName(path)) {
        const QString image =
            QStringLiteral("<img src=\"data:image/png;base64,%1\" width=\"%2\" height=\"%3\" "
                           "alt=\"profile log likelihood\">")
                .arg(QString::fromLatin1(png(plot).toBase64()))
                .arg(plot.width())
                .arg(plot.height());
        return writeWholeFile(path, reportHtml(content, image).toUtf8());
    }
    return writeReportPdf(path, content,
                          QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(15.0, 15.0, 15.0, 15.0), QPageLayout::Millimeter));
}

QString writeReportPdf(const QString& path, const ReportContent& content, const QPageLayout& page)
{
    return writeWholeFile(
        path, pdfInMemory(page, [&content](QPdfWriter& writer) { paintReport(writer, content); }));
}

QString writePlot(const QString& path, const ReportContent& content, const QImage& plot)
{
    if (plot.isNull()) {
        return QStringLiteral("there is no plot yet");
    }
    if (isPdfName(path)) {
        // A page the size of the drawing area at 96 dpi: the plot whole, at its size on screen.
        const QSizeF points = QSizeF(content.plotSize) * 72.0 / kScreenDpi;
        const QPageLayout page(
            QPageSize(points, QPageSize::Point, QString(), QPageSize::ExactMatch),
            QPageLayout::Portrait, QMarginsF());
        return writeWholeFile(path, pdfInMemory(page, [&content](QPdfWriter& writer) {
                                  QPainter painter(&writer);
                                  paintPlot(
                                      painter, content,
                                      writer.pageLayout().paintRectPixels(kScreenDpi).width());
                              }));
    }
    QByteArray format = QFileInfo(path).suffix().toLower().toLatin1();
    if (format.isEmpty() || !QImageWriter::supportedImageFormats().contains(format)) {
        format = "png";
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!plot.save(&buffer, format.constData())) {
        return QStringLiteral("the picture could not be encoded as %1")
            .arg(QString::fromLatin1(format));
    }
    return writeWholeFile(path, bytes);
}

QString resultsText(const ReportContent& content)
{
    const BlockAnalysis& block = content.block;
    QStringList parts;
    QString heading = QStringLiteral("%1, %2\n").arg(title(content), stamp(content));
    for (const QString& line : detailLines(content.details)) {
        heading += line + QLatin1Char('\n');
    }
    heading += blockSentence(block, content.details.name, content.streetCount) + QLatin1Char('\n') +
               meaningOfP() + QLatin1Char('\n') + meaningOfS() + QLatin1Char('\n') +
               settingsSentence(content) + QLatin1Char('\n');
    parts << heading;
    parts << tabbed(frequencyColumns(), frequencyRows(block)) + fitCheckSentence(block) +
                 QLatin1Char('\n');
    // Every limit in a cell of its own, so that a spreadsheet reads each as a number.
    QString estimates = summarySentence(block) + QLatin1Char('\n') +
                        tabbed(estimateCellColumns(), estimateCells(block));
    for (const QString& note : estimateNotes(block)) {
        // The note column says which limits lie outside 0 to 1; there is no mark to explain.
        if (!note.startsWith(QLatin1Char('*'))) {
            estimates += note + QLatin1Char('\n');
        }
    }
    parts << estimates;
    if (content.streetCount) {
        const QList<QStringList> rows = populationRows(block, *content.streetCount);
        parts << QStringLiteral("Street count %1\n").arg(text::plain(*content.streetCount)) +
                     (rows.isEmpty()
                          ? populationSentence(block, *content.streetCount) + QLatin1Char('\n')
                          : tabbed(populationColumns(), rows));
    }
    parts << (content.messages.isEmpty()
                  ? QStringLiteral("Messages: none.\n")
                  : QStringLiteral("Messages:\n") + content.messages.join(QLatin1Char('\n')) +
                        QLatin1Char('\n'));
    return parts.join(QLatin1Char('\n'));
}

bool choosePrinter(QPrinter& printer, QWidget* parent)
{
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(15.0, 15.0, 15.0, 15.0), QPageLayout::Millimeter);
    QPrintDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("printDialog"));
    return dialog.exec() == QDialog::Accepted;
}

} // namespace kestrum
