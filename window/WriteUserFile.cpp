#include "WriteUserFile.h"

#include <algorithm>

#include "Form1.h"
#include "NumberText.h"
#include "WholeFile.h"

namespace kestrum {

namespace {

void printLine(QByteArray& out, const QString& item)
{
    out += item.toUtf8();
    out += "\r\n";
}

std::int32_t heldTo(std::int32_t count, std::size_t size)
{
    return std::clamp(count, 0, static_cast<std::int32_t>(size));
}

} // namespace

QByteArray userFileText(const ModelRecord& record)
{
    QByteArray out;
    const std::int32_t NIUSER = heldTo(record.NIUSER, record.IUSER.size());
    printLine(out, text::printForm(record.NIUSER));
    for (std::int32_t i = 1; i <= NIUSER; ++i) {
        printLine(out, text::printForm(record.IUSER(i)));
    }
    const std::int32_t NUSER = heldTo(record.NUSER, record.USER.size());
    printLine(out, text::printForm(record.NUSER));
    for (std::int32_t i = 1; i <= NUSER; ++i) {
        printLine(out, text::printForm(record.USER(i)));
    }
    return out;
}

QString writeUserFile(const QString& path, const ModelRecord& record)
{
    return writeWholeFile(path, userFileText(record));
}

} // namespace kestrum

namespace kestrum {

// Written before the fit, so the file shows the values as typed, not the estimates. A file that
// could not be written is no reason to withhold the estimate; the user is told below the window.
void Form1::WriteUserFile(QStringList& notices)
{
    const QString problem = writeUserFile(QStringLiteral("user.txt"), record_);
    if (!problem.isEmpty()) {
        notices << QStringLiteral("user.txt could not be written: %1. The estimate went on.")
                       .arg(problem);
    }
}

} // namespace kestrum
