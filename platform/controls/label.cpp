#include "platform/controls/label.h"

#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>

#include "platform/controls/events.h"

namespace platform {

namespace {

// A label that acts as a button, as assistive tools see it.
class AccessibleButton : public QAccessibleWidget {
  public:
    explicit AccessibleButton(Label* label) : QAccessibleWidget(label, QAccessible::Button) {}
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            static_cast<Label*>(widget())->click();
        }
    }
};

// Asked for each class of an object, most derived first; a label that is no button falls through
// to QLabel's own interface.
QAccessibleInterface* accessibleButton(const QString&, QObject* object) {
    auto* label = qobject_cast<Label*>(object);
    return label != nullptr && label->isButton() ? new AccessibleButton(label) : nullptr;
}

}  // namespace

// The name is known before the first caption is set: an assistive tool may ask from then on, and
// Qt keeps the interface it first made for a widget.
Label::Label(QWidget* parent, const QString& caption, Namer nameOf)
    : QLabel(parent), nameOf_(std::move(nameOf)) {
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleButton), true);
    (void)factoryInstalled;
    // Captions are shown exactly as set: leading blanks place the text, and nothing is rich text.
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCaption(caption);
}

// Qt paints no background for an opaque widget, also where it fills automatically: the label
// paints its own or, when transparent, the window's.
void Label::paintEvent(QPaintEvent* event) {
    {
        const QWidget* owner =
            autoFillBackground() || parentWidget() == nullptr ? this : parentWidget();
        QPainter painter(this);
        painter.fillRect(rect(), owner->palette().color(owner->backgroundRole()));
    }
    QLabel::paintEvent(event);
}

void Label::setCaption(const QString& caption) {
    setText(caption);
    if (nameOf_ && nameOf_(caption) != accessibleName()) {
        setAccessibleName(nameOf_(caption));
    }
}

void Label::click() {
    raiseEvent([&] { emit Click(); });
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
        click();
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
