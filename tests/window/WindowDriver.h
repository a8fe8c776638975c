// Driving the window as a person does: finding its controls by name, typing into a box, clicking,
// and answering the modal dialogs a command brings up.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "Form1.h"

namespace kestrum::testing {

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

struct Driver {
    std::unique_ptr<Form1> form;

    template <class T> T& get(const QString& name)
    {
        auto* found = form->findChild<T*>(name);
        if (found == nullptr)
            qFatal("no control %s", qPrintable(name));
        return *found;
    }
    QLineEdit& box(const QString& name) { return get<QLineEdit>(name); }
    void type(const QString& name, const QString& text) { typeInto(box(name), text); }
    void enter(const QList<int>& frequencies)
    {
        for (int k = 0; k < 4; ++k)
            type(QStringLiteral("txtHist%1").arg(k + 1), QString::number(frequencies[k]));
    }
    // Clicks a button; returns the text of any message box it brought up.
    QString click(const QString& name)
    {
        ModalAnswer answer;
        QTest::mouseClick(&get<QAbstractButton>(name), Qt::LeftButton);
        return answer.text();
    }
    QString messages() { return get<QLabel>(QStringLiteral("messages")).text(); }
};

} // namespace kestrum::testing
