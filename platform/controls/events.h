#pragma once

#include <QPoint>
#include <QWidget>
#include <Qt>
#include <cstdint>
#include <stdexcept>

// What the controls hand to the window's handlers, and how they keep handler failures out of
// Qt's event loop.
namespace platform {

// A control's refusal: a directory list asked for a directory that does not exist, a file list
// asked for an index out of range.
class ControlError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Positions and mouse coordinates on the window are in twips, 15 to a pixel.
inline constexpr int kTwipsPerPixel = 15;
inline float toTwips(int pixels) {
    return static_cast<float>(pixels * kTwipsPerPixel);
}
inline int toPixels(float twips) {
    return qRound(twips / kTwipsPerPixel);
}

// Places a control on its window by the layout's twips.
void placeInTwips(QWidget& control, int left, int top, int width, int height);

// Button: 1 left, 2 right, 4 middle. Shift: 1 Shift, 2 Ctrl, 4 Alt.
std::int16_t buttonMask(Qt::MouseButtons buttons);
std::int16_t shiftMask(Qt::KeyboardModifiers modifiers);

// Says in one line on stderr that a handler failed, and why where `what` tells it.
void traceFailedHandler(const char* what) noexcept;

// Runs one event handler. An exception is the handler's failure, not the event loop's: it ends
// that handler and nothing else, because Qt cannot carry an exception through its loop; and it
// is told, not lost.
template <typename Handler>
void raiseEvent(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& failure) {
        traceFailedHandler(failure.what());
    } catch (...) {
        traceFailedHandler(nullptr);
    }
}

}  // namespace platform
