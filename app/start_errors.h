#pragma once

#include <QByteArray>

// Which display the start reaches, decided once from the environment for everything that asks:
// the start itself (which, where X11 is there too, uses it, as native Wayland does not let the
// window move itself when its title strip is dragged), the Wayland probe and the messages.
struct ChosenDisplay {
    enum class Kind { kNone, kX11, kWayland, kOther };
    Kind kind = Kind::kNone;
    QByteArray platform;  // the platform plugin Qt is to use; empty for its own choice
    // As the user would name it, for messages: X display ":0", Wayland display "wayland-0".
    QByteArray name;
    bool waylandOnly = false;  // Wayland is the only way to a display
};
ChosenDisplay displayToUse();

// The message handler the program runs with. While the application starts, the libraries'
// routine chatter (debug, info and warnings) stays quiet and critical messages are held; a fatal
// message, which Qt raises when it cannot reach the window system or load its platform plugin,
// ends the program with one line on stderr that names the display and says why, and exit status
// 1, instead of an abort and a core file. Once started, Qt's messages reach stderr as Qt prints
// them (under QT_LOGGING_RULES), the held ones first, and a fatal one still ends the program in
// one line. Called just before the application object is made.
void installStartMessageHandler();

// Where Wayland is the only way to a display, tries its socket first and ends the start in one
// line, with status 1, when it cannot be reached: the Wayland client library would otherwise
// print its own complaint before Qt could say anything.
void checkWaylandDisplay();
