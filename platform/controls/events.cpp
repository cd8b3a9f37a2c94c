#include "platform/controls/events.h"

#include <cstdio>

#include "platform/text.h"

namespace platform {

void traceFailedHandler(const char* what) noexcept {
    std::fprintf(stderr, "korvel: an event handler failed: %s\n",
                 what != nullptr ? printable(what).c_str() : "an unknown failure");
}

void placeInTwips(QWidget& control, int left, int top, int width, int height) {
    control.setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                        height / kTwipsPerPixel);
}

std::int16_t buttonMask(Qt::MouseButtons buttons) {
    std::int16_t mask = 0;
    if (buttons & Qt::LeftButton)
        mask |= 1;
    if (buttons & Qt::RightButton)
        mask |= 2;
    if (buttons & Qt::MiddleButton)
        mask |= 4;
    return mask;
}

std::int16_t shiftMask(Qt::KeyboardModifiers modifiers) {
    std::int16_t mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= 1;
    if (modifiers & Qt::ControlModifier)
        mask |= 2;
    if (modifiers & Qt::AltModifier)
        mask |= 4;
    return mask;
}

}  // namespace platform
