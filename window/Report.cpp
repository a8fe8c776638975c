#include "Report.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

#include "InferenceText.h"

namespace kestrum {

namespace {

constexpr int kScreenDpi = 96;

QString htmlTable(const QStringList& columns, const QList<QStringList>& rows)
{
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\"><tr>");
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

bool isPdf(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
}

// Renders into memory first, so that a failure leaves the old file (or none) in place.
QString saveBytes(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        file.cancelWriting();
        return file.errorString();
    }
    return {};
}

template <class Paint> QByteArray pdfPage(Paint paint)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(kScreenDpi);
    writer.setTitle(QStringLiteral("Kestrum"));
    writer.setCreator(QStringLiteral("Kestrum 1.00"));
    paint(writer);
    return bytes;
}

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

QString reportHtml(const BlockAnalysis& block, const QString& profileCaption,
                   const QString& imageSource)
{
    QString html =
        QStringLiteral("<html><head><meta charset=\"utf-8\"><title>Kestrum report</title>"
                       "</head><body><h1>Kestrum report</h1>");
    html += QStringLiteral("<h2>Data</h2>") + htmlTable(frequencyColumns(), frequencyRows(block));
    html += QStringLiteral("<p>%1</p>").arg(fitCheckSentence(block).toHtmlEscaped());
    html +=
        QStringLiteral("<h2>Estimates</h2><p>%1</p>").arg(summarySentence(block).toHtmlEscaped());
    html += htmlTable(estimateColumns(), estimateRows(block));
    const QStringList warnings = warningSentences(block);
    html += QStringLiteral("<h2>Warnings</h2>");
    if (warnings.isEmpty()) {
        html += QStringLiteral("<p>None.</p>");
    } else {
        html += QStringLiteral("<ul>");
        for (const QString& warning : warnings) {
            html += QStringLiteral("<li>%1</li>").arg(warning.toHtmlEscaped());
        }
        html += QStringLiteral("</ul>");
    }
    html +=
        QStringLiteral("<h2>Profile log likelihood</h2><p>%1. The 95% limits lie where the "
                       "curve crosses the dashed red line.</p><img src=\"%2\" width=\"%3\">")
            .arg(profileCaption.toHtmlEscaped(), imageSource.toHtmlEscaped(), QString::number(700));
    return html + QStringLiteral("</body></html>");
}

QString writeReport(const QString& path, const BlockAnalysis& block, const QString& profileCaption,
                    const QImage& plot)
{
    if (!isPdf(path)) {
        const QString source =
            QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png(plot).toBase64());
        return saveBytes(path, reportHtml(block, profileCaption, source).toUtf8());
    }
    const QString resource = QStringLiteral("kestrum-plot.png");
    QTextDocument document;
    document.addResource(QTextDocument::ImageResource, QUrl(resource), plot);
    document.setHtml(reportHtml(block, profileCaption, resource));
    return saveBytes(path, pdfPage([&document](QPdfWriter& writer) { document.print(&writer); }));
}

QString writePlot(const QString& path, const QImage& plot)
{
    if (plot.isNull()) {
        return QStringLiteral("there is no plot yet");
    }
    if (isPdf(path)) {
        return saveBytes(path, pdfPage([&plot](QPdfWriter& writer) {
                             QPainter painter(&writer);
                             painter.drawImage(QPoint(0, 0), plot);
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
    return saveBytes(path, bytes);
}

} // namespace kestrum
