#include "platform/controls/shapes.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "platform/controls/events.h"

namespace platform {

Line::Line(QWidget* parent, int x1, int y1, int x2, int y2, Colour colour)
    : QWidget(parent), colour_(colour) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    const int left = std::min(x1, x2) / kTwipsPerPixel;
    const int top = std::min(y1, y2) / kTwipsPerPixel;
    const int width = std::abs(x2 - x1) / kTwipsPerPixel + 1;
    const int height = std::abs(y2 - y1) / kTwipsPerPixel + 1;
    setGeometry(left, top, width, height);
}

void Line::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), toQColor(colour_));
}

Image::Image(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void Image::mousePressEvent(QMouseEvent* event) {
    event->accept();
}
void Image::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}
void Image::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}
void Image::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

}  // namespace platform
