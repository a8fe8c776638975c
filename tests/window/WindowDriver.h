// Driving the window as a person does: finding its controls by name, typing into a box, clicking,
// and answering the modal dialogs a command brings up.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <memory>

#include <sys/resource.h>

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

// While it lives, answers every modal dialog that comes up: a message box with Yes or OK
// (keeping its text and any details), a file dialog with the given name, a print dialog by
// printing to that file as PDF. text() is empty when no message box came up.
class ModalAnswer {
public:
    explicit ModalAnswer(QString fileName = {}) : fileName_(std::move(fileName))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                text_ += box->text() + box->detailedText();
                if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
                    yes->click();
                } else {
                    box->accept();
                }
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                dialog->selectFile(fileName_);
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            } else if (auto* print = qobject_cast<QPrintDialog*>(modal)) {
                auto* printers = print->findChild<QComboBox*>(QStringLiteral("printers"));
                printers->setCurrentIndex(
                    printers->findText(QStringLiteral("PDF"), Qt::MatchContains));
                print->findChild<QLineEdit*>(QStringLiteral("filename"))->setText(fileName_);
                QMetaObject::invokeMethod(print, "accept", Qt::QueuedConnection);
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

// A disk with room for only so many more bytes in any one file, while it lives: writes past that
// fail with EFBIG, as they fail with ENOSPC on a full disk, without needing root for a small
// filesystem. Applies to the whole process, so only around the command tested.
class FullDisk {
public:
    explicit FullDisk(rlim_t room) : ignored_(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = room;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FullDisk()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, ignored_);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    rlimit saved_{};
    void (*ignored_)(int);
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
