// Kestrum: one window; closing it ends the program and nothing is saved.
#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include "Form1.h"
#include "Report.h"

namespace {

// Every estimate writes user.txt in the working folder. A desktop menu may start the program in the
// root folder, or another folder the user cannot write to; the home folder serves instead.
void leaveUnusableWorkingFolder()
{
    const QDir current = QDir::current();
    if (current.isRoot() || !QFileInfo(current.absolutePath()).isWritable()) {
        QDir::setCurrent(QDir::homePath());
    }
}

} // namespace

int main(int argc, char* argv[])
{
    leaveUnusableWorkingFolder();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrum"));
    QApplication::setApplicationVersion(kestrum::programVersion());
    // So that the desktop matches the window to its menu entry and icon (kestrum.desktop).
    QApplication::setDesktopFileName(QStringLiteral("kestrum"));
    kestrum::Form1 form;
    form.showMaximized();
    return QApplication::exec();
}
