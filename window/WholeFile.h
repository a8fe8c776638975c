// Files a user keeps (the plot, the report, a report printed to a file, "user.txt") are written
// whole or not at all: a failed write, as on a full disk, leaves the file that was there before.
#pragma once

#include <QByteArray>
#include <QString>

namespace kestrum {

// Replaces the file at path with bytes, through a temporary file beside it that takes its place
// only once every byte is on the disk. Returns why it could not, adding that the file already
// there is kept when there was one; or nothing.
QString writeWholeFile(const QString& path, const QByteArray& bytes);

} // namespace kestrum
