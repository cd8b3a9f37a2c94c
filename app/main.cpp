#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "app/close_signals.h"
#include "app/frmKORVEL.h"
#include "app/mpris.h"
#include "app/open_with.h"
#include "app/start_errors.h"
#include "platform/mci.h"
#include "platform/text.h"

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Runs `then` once, after the first paint of `widget`: the window is what the user waits for, so
// what can wait (joining the session bus takes a round trip, or more where no bus runs) comes
// after.
class AfterFirstPaint : public QObject {
  public:
    AfterFirstPaint(QWidget& widget, std::function<void()> then) : then_(std::move(then)) {
        widget.installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && then_) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, std::exchange(then_, {}));
        }
        return false;
    }

  private:
    std::function<void()> then_;
};

}  // namespace

int main(int argc, char** argv) {
    const openwith::Parsed openWith = openwith::parseArguments(argc, argv);
    if (openWith.exit) {
        return *openWith.exit;
    }
    // First, while descriptors are surely there to be had: without it a SIGTERM would end the
    // player without saving.
    if (!CloseSignals::install()) {
        std::fputs("korvel: cannot set up the handling of close signals: too many open files\n",
                   stderr);
        return 1;
    }
    // Every argument is a path, so Qt sees none of them: a file named "-reverse" is a file.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    if (!isSet("QT_QPA_PLATFORM")) {
        if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
            // Handing a file to a running player needs only the session bus.
            if (openWith.request.isFile) {
                QCoreApplication bus(qtArgc, qtArgv);
                if (openwith::handOver(openWith.request)) {
                    return 0;
                }
            }
            std::fputs(
                "korvel: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                "start it from a desktop session\n",
                stderr);
            return 1;
        }
        // The window moves itself when its title strip is dragged, which native Wayland does not
        // allow a client to do; where X11 is there too, use it.
        if (isSet("DISPLAY")) {
            setenv("QT_QPA_PLATFORM", "xcb", 1);
        }
    }
    installStartMessageHandler();

    QApplication app(qtArgc, qtArgv);
    app.setApplicationName(QStringLiteral("korvel"));
    app.setDesktopFileName(QStringLiteral("korvel"));

    if (openwith::handOver(openWith.request)) {
        return 0;
    }

    // Why nothing can be heard is the one thing the player says while it runs, once for each kind.
    platform::mci::setFailureReporter([](std::string_view line) {
        std::fprintf(stderr, "korvel: %s\n", platform::printable(line).c_str());
    });
    frmKORVEL window;
    std::unique_ptr<Mpris> mpris;
    AfterFirstPaint joinBus(window, [&] { mpris = std::make_unique<Mpris>(window); });
    openwith::openInWindow(window, openWith.request.path, /*folderAllowed=*/true);
    CloseSignals closeSignals;
    QObject::connect(&closeSignals, &CloseSignals::closeRequested, &window,
                     &frmKORVEL::unloadWindow);
    // At the end of the desktop session the window closes like any other way, so it saves.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window] { window.unloadWindow(); });
    window.show();
    return app.exec();
}
