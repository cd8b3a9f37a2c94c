#include "platform/controls/colour.h"

#include <QGuiApplication>
#include <QPalette>

namespace platform {
namespace {

QPalette::ColorRole systemRole(Colour index) {
    switch (index) {
        case 4:   // COLOR_MENU
        case 15:  // COLOR_BTNFACE
            return QPalette::Button;
        case 5:  // COLOR_WINDOW: the background of text areas, which is Qt's Base
            return QPalette::Base;
        case 13:  // COLOR_HIGHLIGHT
            return QPalette::Highlight;
        case 14:  // COLOR_HIGHLIGHTTEXT
            return QPalette::HighlightedText;
        case 16:  // COLOR_BTNSHADOW
            return QPalette::Dark;
        case 18:  // COLOR_BTNTEXT
            return QPalette::ButtonText;
        case 1:   // COLOR_BACKGROUND
        case 12:  // COLOR_APPWORKSPACE
            return QPalette::Window;
        default:  // COLOR_WINDOWTEXT, COLOR_MENUTEXT, COLOR_CAPTIONTEXT and the rest
            return QPalette::WindowText;
    }
}

}  // namespace

QColor toQColor(Colour colour) {
    if ((colour & kSystemColourFlag) != 0) {
        return QGuiApplication::palette().color(QPalette::Active,
                                                systemRole(colour & ~kSystemColourFlag));
    }
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

}  // namespace platform
