#include "platform/controls/form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "platform/controls/events.h"

namespace platform {

Form::Form(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setMouseTracking(true);
    ender_ = [] { QCoreApplication::exit(0); };
    platformName_ = QGuiApplication::platformName();
    compositorMove_ = [this] {
        return windowHandle() != nullptr && windowHandle()->startSystemMove();
    };
}

float Form::Left() const {
    return toTwips(pos().x());
}
float Form::Top() const {
    return toTwips(pos().y());
}
void Form::setLeft(float twips) {
    move(toPixels(twips), pos().y());
}
void Form::setTop(float twips) {
    move(pos().x(), toPixels(twips));
}

void Form::setClientTwips(int width, int height) {
    setFixedSize(width / kTwipsPerPixel, height / kTwipsPerPixel);
}

void Form::setWindowStateValue(std::int16_t state) {
    if (state == kMinimised) {
        showMinimized();
    }
}

bool Form::moveWithPointer() {
    return platformName_.startsWith(QLatin1String("wayland")) && compositorMove_();
}

void Form::unloadWindow() {
    close();
}

void Form::endProgram() {
    if (ender_) {
        ender_();
    }
}

void Form::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    raiseEvent([&] { emit Paint(); });
}

void Form::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    raiseEvent([&] {
        emit MouseMove(buttonMask(event->buttons()), shiftMask(event->modifiers()), toTwips(at.x()),
                       toTwips(at.y()));
    });
}

void Form::closeEvent(QCloseEvent* event) {
    event->accept();
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    raiseEvent([&] { emit Unload(); });
}

}  // namespace platform
