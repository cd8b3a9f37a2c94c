#include "app/start_errors.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/text.h"

namespace {

// The platform plugin says why it failed in a warning just before Qt's fatal message, which only
// says that no plugin could be loaded; the first such warning is the reason worth showing.
QByteArray& platformReason() {
    static QByteArray reason;
    return reason;
}

QByteArray oneLine(const QString& text) {
    QByteArray line = text.trimmed().toLocal8Bit();
    line.replace('\n', ' ');
    line.replace('\r', ' ');
    return line;
}

QByteArray environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? QByteArray() : QByteArray(value);
}

// The Wayland socket's name where WAYLAND_DISPLAY does not give one, as the client library has it.
constexpr char kDefaultWaylandSocket[] = "wayland-0";

QtMessageHandler& qtsOwnHandler() {
    static QtMessageHandler handler = nullptr;
    return handler;
}

void print(const QByteArray& line) {
    const std::string text =
        "korvel: " + platform::printable(std::string_view(line.constData(), line.size())) + "\n";
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, text.data(), text.size());
}

[[noreturn]] void cannotStart(const QByteArray& reason) {
    print("cannot open the " + displayToUse().name + ": " + reason);
    // Qt aborts when a fatal message's handler returns; ending here leaves no core file behind.
    _exit(1);
}

// Critical messages raised while the application starts are held: when the start fails they are
// the reason the one line gives, and when it succeeds they are printed once it has.
QList<QByteArray>& heldMessages() {
    static QList<QByteArray> held;
    return held;
}

void printHeldMessages() {
    for (const QByteArray& line : heldMessages()) {
        print(line);
    }
    heldMessages().clear();
}
Q_COREAPP_STARTUP_FUNCTION(printHeldMessages)

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!QCoreApplication::startingUp() && type != QtFatalMsg && qtsOwnHandler() != nullptr) {
        qtsOwnHandler()(type, context, message);
        return;
    }
    switch (type) {
        case QtDebugMsg:
        case QtInfoMsg:
        case QtWarningMsg:
            if (platformReason().isEmpty() && context.category != nullptr &&
                std::strncmp(context.category, "qt.qpa", 6) == 0) {
                platformReason() = oneLine(message);
            }
            return;
        case QtCriticalMsg:
            if (!QCoreApplication::startingUp()) {
                print(oneLine(message));
                return;
            }
            if (platformReason().isEmpty()) {
                platformReason() = oneLine(message);
            }
            heldMessages().append(oneLine(message));
            return;
        case QtFatalMsg:
            if (!QCoreApplication::startingUp()) {
                print(oneLine(message));
                _exit(1);
            }
            cannotStart(platformReason().isEmpty() ? oneLine(message) : platformReason());
    }
}

}  // namespace

ChosenDisplay displayToUse() {
    ChosenDisplay display;
    display.platform = environment("QT_QPA_PLATFORM");
    const QByteArray x11 = environment("DISPLAY");
    const QByteArray wayland = environment("WAYLAND_DISPLAY");
    if (display.platform.isEmpty()) {
        display.platform = !x11.isEmpty() ? "xcb" : !wayland.isEmpty() ? "wayland" : "";
        display.kind = !x11.isEmpty()       ? ChosenDisplay::Kind::kX11
                       : !wayland.isEmpty() ? ChosenDisplay::Kind::kWayland
                                            : ChosenDisplay::Kind::kNone;
    } else {
        display.kind = display.platform.startsWith("xcb")       ? ChosenDisplay::Kind::kX11
                       : display.platform.startsWith("wayland") ? ChosenDisplay::Kind::kWayland
                                                                : ChosenDisplay::Kind::kOther;
    }
    // A list of plugins ("wayland;xcb") falls back to X11 only where there is one.
    display.waylandOnly = display.kind == ChosenDisplay::Kind::kWayland &&
                          (!display.platform.contains("xcb") || x11.isEmpty());
    const bool namesWayland = display.kind == ChosenDisplay::Kind::kWayland ||
                              (display.kind != ChosenDisplay::Kind::kX11 && x11.isEmpty());
    display.name =
        namesWayland ? "Wayland display \"" +
                           (wayland.isEmpty() ? QByteArray(kDefaultWaylandSocket) : wayland) + "\""
                     : "X display \"" + x11 + "\"";
    if (display.kind == ChosenDisplay::Kind::kOther) {
        display.name += " (platform plugin \"" + display.platform + "\")";
    }
    return display;
}

void checkWaylandDisplay() {
    if (!displayToUse().waylandOnly) {
        return;
    }
    QByteArray socketPath = environment("WAYLAND_DISPLAY");
    if (socketPath.isEmpty()) {
        socketPath = kDefaultWaylandSocket;
    }
    if (!socketPath.startsWith('/')) {
        const QByteArray runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.isEmpty()) {
            cannotStart("XDG_RUNTIME_DIR is not set, so its socket cannot be found");
        }
        socketPath = runtime + "/" + socketPath;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(socketPath.size()) >= sizeof address.sun_path) {
        cannotStart("the path of its socket is too long");
    }
    std::memcpy(address.sun_path, socketPath.constData(),
                static_cast<std::size_t>(socketPath.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(fd);
        cannotStart(socketPath + ": " + std::strerror(error));
    }
    if (fd >= 0) {
        close(fd);
    }
}

void installStartMessageHandler() {
    qtsOwnHandler() = qInstallMessageHandler(handleMessage);
}
