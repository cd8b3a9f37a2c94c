#include <fcntl.h>
#include <sys/resource.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cerrno>
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

// The descriptors a running player may hold at once. On a desktop it holds about 15 while it
// plays: the display and bus connections, the wake-ups of the event threads (Qt's, the bus's, the
// display's), the sound server's socket and shared memory, and the file playing; more while it
// lists a folder, saves, or takes a descriptor the display server passes, and a desktop's
// accessibility bus and input methods add theirs. With too few, the display connection breaks on
// the first descriptor the server passes, and the player hangs where no close signal reaches it.
constexpr int kDescriptorsNeeded = 32;

// How many descriptors are free below the limit, counted up to kDescriptorsNeeded. A soft limit
// below that is first raised as far as the hard limit allows.
int freeDescriptors(rlimit& limit) {
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return kDescriptorsNeeded;
    }
    if (limit.rlim_cur < kDescriptorsNeeded) {
        limit.rlim_cur = std::min<rlim_t>(kDescriptorsNeeded, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    int free = 0;
    for (rlim_t fd = 0; fd < limit.rlim_cur && free < kDescriptorsNeeded; ++fd) {
        if (fcntl(static_cast<int>(fd), F_GETFD) == -1 && errno == EBADF) {
            ++free;
        }
    }
    return free;
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
    // A player that could hang with no way to save or end is not started.
    if (rlimit limit{}; freeDescriptors(limit) < kDescriptorsNeeded) {
        std::fprintf(stderr,
                     "korvel: cannot start with fewer than %d free file descriptors (ulimit -n "
                     "is %llu)\n",
                     kDescriptorsNeeded, static_cast<unsigned long long>(limit.rlim_cur));
        return 1;
    }
    // First, while descriptors are surely there to be had: without it a SIGTERM would end the
    // player without saving.
    if (!CloseSignals::install()) {
        std::fprintf(stderr, "korvel: cannot set up the handling of close signals: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // Every argument is a path, so Qt sees none of them: a file named "-reverse" is a file.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    const ChosenDisplay display = displayToUse();
    if (display.kind == ChosenDisplay::Kind::kNone) {
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
    setenv("QT_QPA_PLATFORM", display.platform.constData(), 1);
    installStartMessageHandler();
    checkWaylandDisplay();

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
    // What was checked at start may have gone since, or a running player may have refused it:
    // either way this start ends before its window shows, rather than showing another folder.
    const auto opened = [&](const openwith::Request& request) {
        return request.isFile ? window.playFile(request.path) : window.openFolder(request.path);
    };
    if (!openWith.request.path.empty() && !opened(openWith.request)) {
        std::fprintf(stderr, "korvel: %s: cannot be opened any more\n",
                     platform::printable(openWith.argument).c_str());
        return 2;
    }
    CloseSignals closeSignals;
    QObject::connect(&closeSignals, &CloseSignals::closeRequested, &window,
                     &frmKORVEL::unloadWindow);
    // At the end of the desktop session the window closes like any other way, so it saves.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window] { window.unloadWindow(); });
    window.show();
    return app.exec();
}
