#include "PictureBox.h"

#include <QAction>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <memory>

namespace kestrum {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent), canvas_(QSize(0, 0))
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    canvas_.setFont(font());
    fitted();
    canvas_.setChanged([this] { update(); });

    QAction* copy = std::make_unique<QAction>(QStringLiteral("Copy image"), this).release();
    copy->setObjectName(QStringLiteral("actionCopyImage"));
    connect(copy, &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setImage(image()); });
    addAction(copy);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

ImageCanvas& PictureBox::fitted() const
{
    canvas_.resize(contentsRect().size());
    return canvas_;
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event); // the frame
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), canvas_.image());
}

void PictureBox::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    fitted();
}

void PictureBox::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        canvas_.setFont(font());
}

} // namespace kestrum
