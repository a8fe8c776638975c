// Kestrum: one window; closing it ends the program and nothing is saved.
#include <QApplication>

#include "Form1.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrum"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    kestrum::Form1 form;
    form.showMaximized();
    return QApplication::exec();
}
