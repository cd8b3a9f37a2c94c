#pragma once

#include <QLabel>
#include <cstdint>

#include "platform/controls/colour.h"

namespace platform {

// A text label that acts as a button. Its mouse events are its own: they never reach the window
// beneath it, also where the label is transparent.
//
// A transparent label paints the window's own background colour behind its text instead of
// letting the window repaint beneath it: the window's Paint event then means a repaint of the
// window (shown, uncovered, restored), never a label changing its caption or colour.
//
// Click is raised by a press and release of the left button on the label, and by each of the two
// clicks of a double click, so a quick second click is never lost. MouseDown and MouseMove carry
// the Button and Shift masks and the position relative to the label, in twips.
class Label : public QLabel {
    Q_OBJECT
  public:
    Label(QWidget* parent, const QString& caption);

    QString Caption() const { return text(); }
    void setCaption(const QString& caption);

    void setForeColor(Colour colour);

    // An opaque label paints its BackColor; a transparent one shows the window through it.
    void setOpaqueBackColor(Colour colour);

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
};

}  // namespace platform
