#include "e2e/desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "e2e/wait.h"

namespace korvel::e2e {

namespace {

using namespace std::chrono_literals;

constexpr auto kServerStart = 20s;

void makeDirectory(const std::string& path, std::filesystem::perms perms) {
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, perms);
}

// Reads what Xvfb writes to its readiness descriptor: the display number and a newline, once it
// accepts connections. An empty result means it ended or stayed silent.
std::string readDisplayNumber(int fd, std::chrono::milliseconds timeout) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return {};
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char buffer[32];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR)) {
            return {};
        }
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return text.substr(0, text.find('\n'));
}

}  // namespace

Desktop::Desktop() {
    // The directory is reachable by the unprivileged user some tests run the program as; what
    // must stay private is made private below.
    std::filesystem::permissions(root(), std::filesystem::perms(0755));
    makeDirectory(path("home"), std::filesystem::perms(0755));
    makeDirectory(path("runtime"), std::filesystem::perms(0700));
    startX();
    startWindowManager();
    startSound();
}

Desktop::~Desktop() {
    // Reverse order of start: nothing is left talking to a server that has gone.
    sound_.reset();
    windowManager_.reset();
    x_.reset();
}

Environment Desktop::environment() const {
    return {
        {"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"HOME", path("home")},
        {"XDG_RUNTIME_DIR", path("runtime")},     {"DISPLAY", display_},
        {"PULSE_SERVER", soundServer_},           {"LANG", "C.UTF-8"},
    };
}

ToolResult Desktop::tryTool(const std::vector<std::string>& argv,
                            std::chrono::milliseconds timeout) const {
    return runTool(argv, environment(), timeout);
}

std::string Desktop::tool(const std::vector<std::string>& argv,
                          std::chrono::milliseconds timeout) const {
    const ToolResult result = tryTool(argv, timeout);
    if (!result.ok()) {
        std::string command;
        for (const std::string& a : argv) {
            command += (command.empty() ? "" : " ") + a;
        }
        throw std::runtime_error("'" + command + "' " + result.describe() +
                                 "; output: " + result.out);
    }
    return result.out;
}

std::string Desktop::logs() const {
    std::string text;
    for (const char* name : {"xvfb.log", "openbox.log", "pulseaudio.log"}) {
        text += std::string("--- ") + name + "\n" + readFile(path(name));
    }
    return text;
}

// The X server picks a free display number itself and reports it once it is ready, so two test
// runs on one machine never take the same display and nothing has to sleep.
void Desktop::startX() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe for the X server's readiness");
    }
    Launch launch;
    launch.argv = {"Xvfb",        "-displayfd", "3",   "-screen",  "0",
                   "1024x768x24", "-nolisten",  "tcp", "-noreset", "-nocursor"};
    launch.environment = {{"PATH", "/usr/local/bin:/usr/bin:/bin"}};
    launch.logFile = path("xvfb.log");
    launch.readyFd = fds[1];
    try {
        x_ = std::make_unique<Process>(launch);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);
    const std::string number = readDisplayNumber(fds[0], kServerStart);
    close(fds[0]);
    if (number.empty()) {
        throw std::runtime_error("the X server (Xvfb) did not report a display within 20 s\n" +
                                 logs());
    }
    display_ = ":" + number;
}

// The window manager is ready when it has claimed the screen (it then names its check window on
// the root window).
void Desktop::startWindowManager() {
    Launch launch;
    launch.argv = {"openbox", "--sm-disable"};
    launch.environment = environment();
    launch.logFile = path("openbox.log");
    windowManager_ = std::make_unique<Process>(launch);
    const bool ready = waitUntil(
        [this] {
            const ToolResult r = tryTool({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"});
            return r.ok() && r.out.find("window id") != std::string::npos;
        },
        kServerStart, 50ms);
    if (!ready) {
        throw std::runtime_error("the window manager (openbox) did not take the screen within " +
                                 std::string("20 s\n") + logs());
    }
}

// A sound server of the test's own: a null sink whose monitor is recorded, and a socket that
// any local user may use (the program may run as another user than the server). Shared memory
// is off for the same reason. Root is told it runs a per-user server on purpose.
void Desktop::startSound() {
    const std::string socket = path("pulse/native");
    makeDirectory(path("pulse"), std::filesystem::perms(0755));
    makeDirectory(path("pulse-home"), std::filesystem::perms(0700));
    makeDirectory(path("pulse-runtime"), std::filesystem::perms(0700));
    soundServer_ = "unix:" + socket;

    Launch launch;
    launch.argv = {"pulseaudio",
                   "-n",
                   "--daemonize=no",
                   "--exit-idle-time=-1",
                   "--disallow-exit",
                   "--use-pid-file=no",
                   "--system=no",
                   "--realtime=no",
                   "--high-priority=no",
                   "--disable-shm=yes",
                   "--log-target=stderr",
                   "-L",
                   std::string("module-null-sink sink_name=") + kSink + " rate=44100",
                   "-L",
                   "module-native-protocol-unix auth-anonymous=1 socket=" + socket};
    launch.environment = {{"PATH", "/usr/local/bin:/usr/bin:/bin"},
                          {"HOME", path("pulse-home")},
                          {"XDG_RUNTIME_DIR", path("pulse-runtime")},
                          {"LANG", "C.UTF-8"}};
    launch.logFile = path("pulseaudio.log");
    sound_ = std::make_unique<Process>(launch);
    const std::string monitor = std::string(kSink) + ".monitor";
    const bool ready = waitUntil(
        [&] {
            if (!sound_->running()) {
                return false;
            }
            const ToolResult r = tryTool({"pactl", "list", "short", "sources"}, 5s);
            return r.ok() && r.out.find(monitor) != std::string::npos;
        },
        kServerStart, 50ms);
    if (!ready) {
        throw std::runtime_error("the sound server (pulseaudio) did not offer " + monitor +
                                 " within 20 s\n" + logs());
    }
}

}  // namespace korvel::e2e
