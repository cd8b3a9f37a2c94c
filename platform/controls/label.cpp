#include "platform/controls/label.h"

#include <QMouseEvent>
#include <QPainter>

#include "platform/controls/events.h"

namespace platform {

Label::Label(QWidget* parent, const QString& caption) : QLabel(parent) {
    // Captions are shown exactly as set: leading blanks place the text, and nothing is rich text.
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setText(caption);
}

void Label::paintEvent(QPaintEvent* event) {
    if (!autoFillBackground() && parentWidget() != nullptr) {
        QPainter painter(this);
        painter.fillRect(rect(), parentWidget()->palette().color(parentWidget()->backgroundRole()));
    }
    QLabel::paintEvent(event);
}

void Label::setCaption(const QString& caption) {
    setText(caption);
}

void Label::setForeColor(Colour colour) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, toQColor(colour));
    setPalette(p);
    update();
}

void Label::setOpaqueBackColor(Colour colour) {
    QPalette p = palette();
    p.setColor(QPalette::Window, toQColor(colour));
    setPalette(p);
    setAutoFillBackground(true);
}

void Label::press(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) {
        leftPressed_ = true;
    }
    const QPoint at = event->position().toPoint();
    raiseEvent([&] {
        emit MouseDown(buttonMask(event->buttons() | event->button()),
                       shiftMask(event->modifiers()), toTwips(at.x()), toTwips(at.y()));
    });
}

void Label::mousePressEvent(QMouseEvent* event) {
    press(event);
}

// Qt delivers the second press of a double click as this event instead of a press; it is a press
// like any other, and its release makes the second Click.
void Label::mouseDoubleClickEvent(QMouseEvent* event) {
    press(event);
}

void Label::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !leftPressed_) {
        return;
    }
    leftPressed_ = false;
    if (rect().contains(event->position().toPoint())) {
        raiseEvent([&] { emit Click(); });
    }
}

void Label::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    const QPoint at = event->position().toPoint();
    raiseEvent([&] {
        emit MouseMove(buttonMask(event->buttons()), shiftMask(event->modifiers()), toTwips(at.x()),
                       toTwips(at.y()));
    });
}

}  // namespace platform
