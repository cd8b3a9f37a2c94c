#pragma once

#include <QLabel>
#include <cstdint>
#include <functional>

#include "platform/controls/colour.h"

namespace platform {

// A text label that acts as a button. Its mouse events are its own: they never reach the window
// beneath it, also where the label is transparent.
//
// A label is opaque: it paints every pixel it owns, on every platform, whatever the buffer held
// before. A transparent label paints the window's own background colour behind its text instead
// of letting the window repaint beneath it: the window's Paint event then means a repaint of the
// window (shown, uncovered, restored), never a label changing its caption or colour.
//
// Click is raised by a press and release of the left button on the label, and by each of the two
// clicks of a double click, so a quick second click is never lost. MouseDown and MouseMove carry
// the Button and Shift masks and the position relative to the label, in twips.
class Label : public QLabel {
    Q_OBJECT
  public:
    // With nameOf, the label is a push button for assistive tools (screen readers, over
    // AT-SPI): its Press action raises Click, and its name is nameOf(caption) for the caption it
    // shows, following every change. Without, it reads as static text, its caption. Either way it
    // never takes the focus.
    using Namer = std::function<QString(const QString& caption)>;
    Label(QWidget* parent, const QString& caption, Namer nameOf = {});

    QString Caption() const { return text(); }
    void setCaption(const QString& caption);

    void setForeColor(Colour colour);

    // An opaque label paints its BackColor; a transparent one shows the window through it.
    void setOpaqueBackColor(Colour colour);

    // Raises Click as a click of the left button does: the keyboard and assistive tools press
    // the label this way, so they reach the same handler.
    void click();
    bool isButton() const { return static_cast<bool>(nameOf_); }

  signals:
    void Click();
    void MouseDown(std::int16_t button, std::int16_t shift, float x, float y);
    void MouseMove(std::int16_t button, std::int16_t shift, float x, float y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void press(QMouseEvent* event);

    bool leftPressed_ = false;
    Namer nameOf_;
};

}  // namespace platform
