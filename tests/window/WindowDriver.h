// Driving the window as a person does: finding its controls by name, typing into a box, and
// answering the modal dialogs a command brings up.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace kestrum::testing {

template <class T>
T& control(QWidget& window, const char* name)
{
    auto* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qFatal("no control %s", name);
    }
    return *found;
}

// Replaces the box's text by typing, as a person who selects all and types over it.
inline void typeInto(QLineEdit& box, const QString& text)
{
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_Delete);
    QTest::keyClicks(&box, text);
}

// While it lives, answers every modal dialog that comes up: a message box with OK (keeping its
// text), a file dialog with the given name. text() is empty when no message box came up.
class ModalAnswer {
public:
    explicit ModalAnswer(QString fileName = {}) : fileName_(std::move(fileName))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                text_ += box->text();
                box->accept();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                dialog->selectFile(fileName_);
                QMetaObject::invokeMethod(dialog, "accept");
            }
        });
        timer_.start(5);
    }
    const QString& text() const { return text_; }

private:
    QString fileName_;
    QString text_;
    QTimer timer_;
};

} // namespace kestrum::testing
