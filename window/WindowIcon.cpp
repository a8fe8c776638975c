#include "WindowIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace kestrum {

QIcon kestrumIcon()
{
    // Rendered here rather than through Qt's SVG icon plugin, which the program would need at
    // run time without the package knowing it.
    QSvgRenderer renderer(QStringLiteral(":/kestrum/packaging/kestrum.svg"));
    QIcon icon;
    if (!renderer.isValid()) {
        return icon;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace kestrum
