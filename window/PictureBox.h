// The window's drawing area: a sunken two-pixel frame around a picture kept in an image, so what is
// drawn stays when the window is covered, minimised or resized. Drawing goes through canvas(),
// whose scale is the inside of the frame in pixels and whose font is the widget's; the widget
// repaints itself after each change.
#pragma once

#include <QFrame>
#include <QImage>

#include "ImageCanvas.h"

class QEvent;
class QPaintEvent;
class QResizeEvent;

namespace kestrum {

class PictureBox : public QFrame {
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent = nullptr);

    Canvas& canvas() { return fitted(); }
    // The picture as drawn, the size of the inside of the frame.
    const QImage& image() const { return fitted().image(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // A hidden widget gets its resize event only when shown; the canvas takes the size of the
    // inside of the frame whenever it is asked for.
    ImageCanvas& fitted() const;

    mutable ImageCanvas canvas_;
};

} // namespace kestrum
