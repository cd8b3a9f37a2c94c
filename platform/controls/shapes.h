#pragma once

#include <QWidget>

#include "platform/controls/colour.h"

namespace platform {

// A decorative line one pixel wide. It covers nothing: the mouse over it is the window's.
class Line : public QWidget {
    Q_OBJECT
  public:
    // From (x1, y1) to (x2, y2) in twips; only horizontal and vertical lines are needed.
    Line(QWidget* parent, int x1, int y1, int x2, int y2, Colour colour);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Colour colour_;
};

// An empty picture area. It takes the mouse events over it, so they never reach the window, and
// does nothing with them.
class Image : public QWidget {
    Q_OBJECT
  public:
    explicit Image(QWidget* parent);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

}  // namespace platform
