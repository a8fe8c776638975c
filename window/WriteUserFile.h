// "user.txt": the model record as the estimate starts, one value per line in the Print form.
#pragma once

#include <QByteArray>
#include <QString>

#include "ModelRecord.h"

namespace kestrum {

// NIUSER, IUSER(1 .. NIUSER), NUSER, USER(1 .. NUSER), each line ending CR LF. Fill counts beyond
// the record's size are held to it.
QByteArray userFileText(const ModelRecord& record);

// Replaces the file at path as a whole (writeWholeFile); returns why it could not, or nothing.
QString writeUserFile(const QString& path, const ModelRecord& record);

} // namespace kestrum
