// Files a user keeps (the plot, the report, a report printed to a file, "user.txt") are written
// whole or not at all: a failed write, as on a full disk, leaves the file that was there before.
#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

namespace kestrum {

// Replaces the file at path with bytes, through a temporary file beside it that takes its place
// only once every byte is on the disk. Returns why it could not, adding that the file already
// there is kept when there was one; or nothing.
QString writeWholeFile(const QString& path, const QByteArray& bytes);

// Qt's own file dialogs, the same on every desktop and reachable from tests. Empty when the user
// cancels. A name without an ending gets the one of the filter chosen ("PDF document (*.pdf)").
QString askForSaveName(QWidget* parent, const QString& title, const QString& filters,
                       const QString& suggested = {});
QString askForOpenName(QWidget* parent, const QString& title, const QString& filters);

} // namespace kestrum
