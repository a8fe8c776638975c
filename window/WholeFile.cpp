#include "WholeFile.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>

#include <unistd.h>

namespace kestrum {

namespace {

// After a short write Qt's own message is often "Unknown error"; the system's reason is what the
// failed call left in errno ("No space left on device", "File too large").
QString why(const QSaveFile& file, int systemError, qint64 written, qint64 size)
{
    if (systemError != 0) {
        return qt_error_string(systemError);
    }
    if (file.error() != QFileDevice::NoError) {
        return file.errorString();
    }
    return QStringLiteral("only %1 of %2 bytes could be written").arg(written).arg(size);
}

} // namespace

QString writeWholeFile(const QString& path, const QByteArray& bytes)
{
    const bool existed = QFileInfo::exists(path);
    const auto failed = [existed](const QString& reason) {
        return existed ? reason + QStringLiteral(", and the file already there was left as it was")
                       : reason;
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return failed(file.errorString());
    }
    // QSaveFile::commit() alone is not to be trusted: Qt 6.4 keeps a write of under 16 KiB in its
    // buffer, and when writing that out fails the commit still reports success and puts the cut
    // file in place. So the write, the flush and the sync are each checked before it.
    errno = 0;
    const qint64 written = file.write(bytes);
    const bool whole = written == bytes.size() && file.flush() &&
                       file.error() == QFileDevice::NoError &&
                       (::fsync(file.handle()) == 0 || errno == EINVAL);
    if (!whole) {
        const QString reason = why(file, errno, written, bytes.size());
        file.cancelWriting();
        return failed(reason);
    }
    if (!file.commit()) {
        return failed(file.errorString());
    }
    return {};
}

QString askForSaveName(QWidget* parent, const QString& title, const QString& filters,
                       const QString& suggested)
{
    QFileDialog dialog(parent, title, suggested, filters);
    dialog.setObjectName(QStringLiteral("saveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    QString path = dialog.selectedFiles().constFirst();
    // The filter chosen decides the kind when the name does not.
    if (QFileInfo(path).suffix().isEmpty()) {
        const QRegularExpressionMatch ending =
            QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(dialog.selectedNameFilter());
        if (ending.hasMatch()) {
            path += QLatin1Char('.') + ending.captured(1);
        }
    }
    return path;
}

QString askForOpenName(QWidget* parent, const QString& title, const QString& filters)
{
    QFileDialog dialog(parent, title, QString(), filters);
    dialog.setObjectName(QStringLiteral("openDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace kestrum
