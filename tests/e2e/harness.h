#pragma once

// The player seen from outside: the built program as a separate process on a private X desktop
// (Xvfb and openbox) with a private sound server (PulseAudio), driven by real X input (xdotool),
// heard in a recording of the sound server's output (parec) and seen in screenshots (import).
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "support/tone.h"
#include "support/tone_analysis.h"

namespace korvel::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using std::chrono::milliseconds;
using Environment = std::map<std::string, std::string>;
inline constexpr const char* kPath = "/usr/local/bin:/usr/bin:/bin";

inline std::string num(long long value) {
    return std::to_string(value);
}
inline std::string describe(QPoint p) {
    return "(" + num(p.x()) + "," + num(p.y()) + ")";
}
inline std::string describe(const QColor& c) {
    return "(" + num(c.red()) + "," + num(c.green()) + "," + num(c.blue()) + ")";
}

// Polls `condition` until it holds or `timeout` has passed; whether it held. Every wait is
// bounded, so a program that never gets there fails the test instead of hanging it.
template <typename Condition>
bool waitUntil(Condition&& condition, milliseconds timeout, milliseconds poll = 20ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
    return true;
}

// Everything written to `fd` from byte `from` on.
inline std::string readAll(int fd, off_t from = 0) {
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, from)) > 0; from += n) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Root writes through any permission, so as root the program runs as "nobody".
inline const passwd* unprivilegedUser() {
    return geteuid() == 0 ? getpwnam("nobody") : nullptr;
}

// The directory at `path`, made and handed to whoever the program runs as.
inline std::string writableByProgram(const std::string& path) {
    fs::create_directories(path);
    fs::permissions(path, fs::perms(0700));
    const passwd* user = unprivilegedUser();
    if (user != nullptr && chown(path.c_str(), user->pw_uid, user->pw_gid) != 0) {
        throw std::runtime_error("cannot hand " + path + " to the unprivileged user");
    }
    return path;
}

// "exited with 0", "killed by signal 9 (Killed)", or for -1 "did not end in time".
inline std::string describeStatus(int status) {
    if (status < 0) {
        return "did not end in time";
    }
    if (WIFSIGNALED(status)) {
        return "killed by signal " + num(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) +
               ")";
    }
    return "exited with " + num(WEXITSTATUS(status));
}

struct Launch {
    std::vector<std::string> argv;
    Environment environment{};  // all the child gets: nothing of the test's shell leaks in
    std::string log{};          // stdout and stderr are appended here; empty: /dev/null
    int out = -1;               // stdout goes here instead when set
    int fd3 = -1;               // handed to the child as its descriptor 3
    std::string directory{};    // working directory; empty keeps the test's own
    bool unprivileged = false;  // as root, run the child as "nobody"
};

// A child process in a process group of its own that lives no longer than this object (nor than
// the test process): the group is stopped, SIGTERM then SIGKILL, when the object goes.
class Process {
  public:
    explicit Process(const Launch& launch) {
        std::vector<std::string> strings = launch.argv;
        for (const auto& [key, value] : launch.environment) {
            strings.push_back(key + "=" + value);
        }
        std::vector<char*> argv;
        for (std::string& s : strings) {
            argv.push_back(s.data());
        }
        argv.insert(argv.begin() + std::ssize(launch.argv), nullptr);
        argv.push_back(nullptr);
        const passwd* user = launch.unprivileged ? unprivilegedUser() : nullptr;
        const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        const int log = launch.log.empty() ? null
                                           : open(launch.log.c_str(),
                                                  O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            dup2(null, 0);
            dup2(launch.out >= 0 ? launch.out : log, 1);
            dup2(log, 2);
            if (launch.fd3 >= 0) {
                dup2(launch.fd3, 3);
                fcntl(3, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
            }
            close_range(launch.fd3 >= 0 ? 4u : 3u, ~0u, 0);
            const bool ready =
                (user == nullptr || (setgroups(0, nullptr) == 0 && setgid(user->pw_gid) == 0 &&
                                     setuid(user->pw_uid) == 0)) &&
                (launch.directory.empty() || chdir(launch.directory.c_str()) == 0);
            // After the change of user, which clears it; the parent may have gone before.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (ready && getppid() == parent) {
                environ = argv.data() + launch.argv.size() + 1;  // the PATH searched is the child's
                execvp(argv[0], argv.data());
            }
            const char failed[] = "cannot change the user or directory, or execute the program\n";
            [[maybe_unused]] const ssize_t n = write(2, failed, sizeof failed - 1);
            _exit(127);
        }
        close(null);
        if (log != null) {
            close(log);
        }
        if (pid_ < 0) {
            throw std::runtime_error("cannot fork for " + launch.argv[0]);
        }
        setpgid(pid_, pid_);  // also here, so that stopping the group never races the child
        pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    }
    ~Process() {
        if (running()) {
            kill(-pid_, SIGTERM);  // the whole group: a server's helpers go with it
            if (!waitForExit(3s)) {
                kill(-pid_, SIGKILL);
                waitForExit(10s);
            }
        }
        close(pidfd_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    // The wait status once the child has ended, waiting for that at most `timeout`.
    std::optional<int> waitForExit(milliseconds timeout) {
        pollfd ended{pidfd_, POLLIN, 0};
        if (!status_ && poll(&ended, 1, static_cast<int>(timeout.count())) == 1) {
            int status = 0;
            waitpid(pid_, &status, 0);
            status_ = status;
        }
        return status_;
    }
    bool running() { return !waitForExit(0ms); }

  private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    std::optional<int> status_;
};

struct ToolResult {
    int status = -1;  // wait status; -1 when the tool did not end in time
    std::string out;
};

// Runs a tool to its end (bounded) and collects its standard output.
inline ToolResult runTool(const std::vector<std::string>& argv, const Environment& environment,
                          milliseconds timeout = 10s) {
    const int out = memfd_create("tool-output", MFD_CLOEXEC);
    const int status = Process({.argv = argv, .environment = environment, .out = out})
                           .waitForExit(timeout)
                           .value_or(-1);
    ToolResult result{status, readAll(out)};
    close(out);
    return result;
}

// A private desktop: X server, window manager and a sound server whose only output is a null
// sink. It lives in a fresh temporary directory, and everything goes, in reverse order, with it.
class Desktop {
  public:
    static constexpr const char* kSink = "korvel_e2e";

    Desktop() {
        // Reachable by the unprivileged user the program may run as; what must be private is.
        fs::permissions(dir_.path(), fs::perms(0755));
        for (const std::string name : {"home", "runtime", "pulse", "pulse-home", "pulse-runtime"}) {
            fs::create_directory(path(name));
            fs::permissions(path(name), fs::perms(name == "home" || name == "pulse" ? 0755 : 0700));
        }
        const auto ready = [this](bool ok, const std::string& what) {
            if (!ok) {
                throw std::runtime_error(what + " within 20 s\n" + logs());
            }
        };
        // The X server picks a free display and writes its number once it takes connections.
        const int displayfd = memfd_create("displayfd", MFD_CLOEXEC);
        x_ = std::make_unique<Process>(
            Launch{.argv = {"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten",
                            "tcp", "-noreset", "-nocursor"},
                   .environment = {{"PATH", kPath}},
                   .log = path("xvfb.log"),
                   .fd3 = displayfd});
        std::string number;
        waitUntil([&] { return (number = readAll(displayfd)).ends_with('\n') || !x_->running(); },
                  20s);
        close(displayfd);
        ready(x_->running() && !number.empty(), "the X server (Xvfb) did not report a display");
        display_ = ":" + number.substr(0, number.size() - 1);

        // The window manager names its check window on the root window once it has the screen.
        windowManager_ = std::make_unique<Process>(Launch{.argv = {"openbox", "--sm-disable"},
                                                          .environment = environment(),
                                                          .log = path("openbox.log")});
        ready(waitUntil(
                  [&] {
                      return has({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, "window id");
                  },
                  20s, 50ms),
              "the window manager (openbox) did not take the screen");

        // Any local user may use the socket, since the program may run as another user; shared
        // memory is off for the same reason.
        sound_ = std::make_unique<Process>(Launch{
            .argv = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                     "--use-pid-file=no", "--system=no", "--realtime=no", "--high-priority=no",
                     "--disable-shm=yes", "--log-target=stderr", "-L",
                     std::string("module-null-sink sink_name=") + kSink + " rate=44100", "-L",
                     "module-native-protocol-unix auth-anonymous=1 socket=" + path("pulse/native")},
            .environment = {{"PATH", kPath},
                            {"HOME", path("pulse-home")},
                            {"XDG_RUNTIME_DIR", path("pulse-runtime")},
                            {"LANG", "C.UTF-8"}},
            .log = path("pulseaudio.log")});
        ready(waitUntil(
                  [&] {
                      return has({"pactl", "list", "short", "sources"},
                                 std::string(kSink) + ".monitor");
                  },
                  20s, 50ms),
              "the sound server (pulseaudio) did not offer its sink");
    }

    std::string path(const std::string& name) const { return dir_ / name; }
    // What a program of this desktop's session sees: display, sound server, home, locale.
    Environment environment() const {
        return {{"PATH", kPath},
                {"HOME", path("home")},
                {"XDG_RUNTIME_DIR", path("runtime")},
                {"DISPLAY", display_},
                {"PULSE_SERVER", "unix:" + path("pulse/native")},
                {"LANG", "C.UTF-8"}};
    }
    // Whether the tool ran and printed `text`.
    bool has(const std::vector<std::string>& argv, const std::string& text) const {
        const ToolResult result = runTool(argv, environment());
        return result.status == 0 && result.out.find(text) != std::string::npos;
    }
    // The tool's output; throws, naming the command, its status and output, when it fails.
    std::string tool(const std::vector<std::string>& argv) const {
        const ToolResult result = runTool(argv, environment());
        if (result.status != 0) {
            std::string command;
            for (const std::string& arg : argv) {
                command += arg + " ";
            }
            throw std::runtime_error("'" + command + "' " + describeStatus(result.status) +
                                     "; output: " + result.out);
        }
        return result.out;
    }
    std::string logs() const {
        std::string text;
        for (const char* name : {"xvfb.log", "openbox.log", "pulseaudio.log", "parec.log"}) {
            text += std::string("--- ") + name + "\n" + readFile(path(name));
        }
        return text;
    }

  private:
    korvel::test::TempDir dir_;
    std::string display_;
    std::unique_ptr<Process> x_;
    std::unique_ptr<Process> windowManager_;
    std::unique_ptr<Process> sound_;
};

struct Tone {
    const char* file;  // relative to the music directory
    double hz;
};
// Pitches far apart and none a multiple of another, so each file is told by ear.
inline constexpr Tone kLow{"01 low.mp3", 400.0};
inline constexpr Tone kMiddle{"02 middle.mp3", 600.0};
inline constexpr Tone kHigh{"03 high.mp3", 900.0};
inline constexpr Tone kDeep{"more/01 bell.mp3", 1300.0};
inline constexpr const char* kSubdirectory = "more";

inline std::string hertz(double hz) {
    return num(std::lround(hz)) + " Hz";
}

// The three tones at the top and one in the subdirectory, written once per test program run;
// 40 s long, so no file falls silent by ending during a story.
inline const std::string& musicDirectory() {
    static const korvel::test::TempDir dir;
    static const std::string music = [] {
        fs::permissions(dir.path(), fs::perms(0755));  // readable by the unprivileged user
        fs::create_directories(dir / (std::string("music/") + kSubdirectory));
        for (const Tone& tone : {kLow, kMiddle, kHigh, kDeep}) {
            korvel::test::writeToneMp3(dir / "music/" + tone.file, tone.hz, 40.0);
        }
        return dir / "music";
    }();
    return music;
}

// Hears what the desktop's sound server plays. Each expectation judges only sound recorded after
// it is called, so what played before an action never answers for what follows it.
class Listener {
  public:
    static constexpr int kRate = 44100;
    // Quieter than this (RMS, full scale 1) is silence: paused, stopped or muted output is zero.
    static constexpr double kSilenceRms = 1e-3;

    // The monitor streams silence while nothing plays, so the recording runs from its start,
    // which on a fresh sound server comes a second or two later; the program starts meanwhile.
    explicit Listener(const Desktop& desktop)
        : fd_(memfd_create("recording", MFD_CLOEXEC)),
          recorder_(Launch{.argv = {"parec", "--device=" + std::string(Desktop::kSink) + ".monitor",
                                    "--format=s16le", "--rate=" + num(kRate), "--channels=1",
                                    "--latency-msec=20", "--raw"},
                           .environment = desktop.environment(),
                           .log = desktop.path("parec.log"),
                           .out = fd_}) {}
    ~Listener() { close(fd_); }

    // "" when the last 100 ms are `tone`'s pitch (within 3%) in time, else what was expected
    // after `action` and what was heard.
    std::string expectTone(const Tone& tone, const std::string& action, milliseconds timeout = 8s) {
        return await(tone.hz, "'" + std::string(tone.file) + "' (" + hertz(tone.hz) + ")", action,
                     timeout);
    }
    // "" when the last 200 ms are silent in time.
    std::string expectSilence(const std::string& action, milliseconds timeout = 5s) {
        return await(0, "silence", action, timeout);
    }
    // Every stretch of the whole recording in which two files sounded together, or "".
    std::string overlaps() {
        take();
        return overlaps_;
    }

  private:
    // Takes the whole samples recorded since the last call and watches them for two files at
    // once. A change of file puts the end of one tone and the start of the next into one block
    // (46 ms); only two pitches lasting together over three blocks are two files at once.
    void take() {
        const std::string bytes = readAll(fd_, read_);
        read_ += static_cast<off_t>(bytes.size() / 2 * 2);
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            std::int16_t sample;
            std::memcpy(&sample, bytes.data() + i, 2);
            samples_.push_back(static_cast<float>(sample) / 32768.0f);
        }
        constexpr std::size_t kBlock = 2048;
        for (; samples_.size() - watched_ >= kBlock; watched_ += kBlock) {
            const std::span<const float> block(samples_.data() + watched_, kBlock);
            std::string present;
            int pitches = 0;
            for (const Tone& tone : {kLow, kMiddle, kHigh, kDeep}) {
                if (test::amplitudeAt(block, tone.hz, kRate) > 0.05) {  // a test tone is 0.5
                    present += (pitches++ > 0 ? " and " : "") + hertz(tone.hz);
                }
            }
            together_ = pitches >= 2 ? together_ + 1 : 0;
            if (together_ == 3) {
                overlaps_ += present + " at " + num(watched_ / kRate) + " s of the recording; ";
            }
        }
    }

    // A tone of `hz` over the last 100 ms or, when `hz` is 0, silence over the last 200 ms.
    std::string await(double hz, const std::string& expected, const std::string& action,
                      milliseconds timeout) {
        const auto started = [&] {
            take();
            return !samples_.empty();
        };
        if (!waitUntil(started, 10s)) {
            return "after " + action + ": the recorder (parec) delivered nothing within 10 s";
        }
        const std::size_t mark = samples_.size();
        const std::size_t window = hz > 0 ? kRate / 10 : kRate / 5;
        std::string heard = "nothing recorded";
        const bool ok = waitUntil(
            [&] {
                take();
                if (samples_.size() < mark + window) {
                    return false;
                }
                const std::span<const float> recent(samples_.end() - window, samples_.end());
                const bool silent = test::rms(recent) <= kSilenceRms;
                const double pitch = silent ? 0 : test::strongestFrequency(recent, kRate);
                heard = silent ? "silence" : "a tone of " + hertz(pitch);
                return hz > 0 ? !silent && std::abs(pitch - hz) <= 0.03 * hz : silent;
            },
            timeout, 25ms);
        return ok ? ""
                  : "after " + action + ": expected " + expected + " within " +
                        num(timeout.count()) + " ms; heard " + heard;
    }

    int fd_;
    Process recorder_;
    off_t read_ = 0;              // bytes of the recording taken
    std::vector<float> samples_;  // all of it, mono
    std::size_t watched_ = 0;     // samples the overlap watch has judged
    int together_ = 0;            // consecutive blocks holding two pitches
    std::string overlaps_;
};

// What the screen shows, seen from the player window's client area.
class Screenshot {
  public:
    using Test = bool (*)(const QColor&);
    Screenshot(QImage image, QPoint origin) : image_(std::move(image)), origin_(origin) {}

    // The colour most pixels of `client` have.
    QColor dominant(QRect client) const {
        std::map<QRgb, int> counts;
        std::pair<QRgb, int> best{0, 0};
        each(client, [&](const QColor& c) {
            if (++counts[c.rgb()] > best.second) {
                best = {c.rgb(), counts[c.rgb()]};
            }
        });
        return QColor::fromRgb(best.first);
    }
    // The brightest pixel of `client`, by its largest channel.
    QColor brightest(QRect client) const {
        QColor best(0, 0, 0);
        const auto level = [](const QColor& c) { return std::max({c.red(), c.green(), c.blue()}); };
        each(client, [&](const QColor& c) { best = level(c) > level(best) ? c : best; });
        return best;
    }
    int count(QRect client, Test test) const {
        int n = 0;
        each(client, [&](const QColor& c) { n += test(c) ? 1 : 0; });
        return n;
    }
    // The first row of each band of consecutive rows of `client` that hold a pixel passing.
    std::vector<int> bands(QRect client, Test test) const {
        std::vector<int> starts;
        for (int y = client.top(), previous = 0; y <= client.bottom(); ++y) {
            const int hits = count(QRect(client.left(), y, client.width(), 1), test);
            if (hits > 0 && previous == 0) {
                starts.push_back(y);
            }
            previous = hits;
        }
        return starts;
    }

  private:
    template <typename Visit>
    void each(QRect client, Visit&& visit) const {
        const QRect r = client.translated(origin_).intersected(image_.rect());
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                visit(image_.pixelColor(x, y));
            }
        }
    }
    QImage image_;
    QPoint origin_;
};

// The player as a person meets it: a process with a window, driven at pixels of its client area.
class Player {
  public:
    static constexpr const char* kTitle = "Brisanova Mp3 Player";
    // `launch` names the program, its working directory, and what of the desktop's environment
    // to override.
    Player(const Desktop& desktop, Launch launch)
        : desktop_(desktop), log_(desktop.path("korvel.log")) {
        launch.environment.merge(desktop.environment());
        launch.log = log_;
        process_ = std::make_unique<Process>(launch);
        // The window is this process's, named as the program names it, and mapped.
        const bool shown = waitUntil(
            [&] {
                std::istringstream(
                    runTool({"xdotool", "search", "--onlyvisible", "--pid", num(process_->pid()),
                             "--name", std::string("^") + kTitle + "$"},
                            desktop_.environment())
                        .out) >>
                    window_;
                return !window_.empty() || !process_->running();
            },
            20s, 50ms);
        if (const auto status = process_->waitForExit(0ms)) {
            throw std::runtime_error("korvel ended before showing its window: " +
                                     describeStatus(*status) + "\n" + log());
        }
        if (!shown) {
            throw std::runtime_error(std::string("no visible window named '") + kTitle +
                                     "' of the korvel process within 20 s\n" + log());
        }
    }

    Process& process() { return *process_; }
    std::string log() const { return "--- korvel's output\n" + readFile(log_); }

    // The client area's place on the screen.
    QPoint origin() const {
        const std::string shell =
            desktop_.tool({"xdotool", "getwindowgeometry", "--shell", window_});
        int x = 0;
        int y = 0;
        const auto at = shell.find("\nX=");
        if (at == std::string::npos ||
            std::sscanf(shell.c_str() + at, "\nX=%d\nY=%d", &x, &y) != 2) {
            throw std::runtime_error("no place in: " + shell);
        }
        return {x, y};
    }
    void click(QPoint client, int times = 1) const {
        const QPoint at = origin() + client;
        desktop_.tool({"xdotool", "mousemove", num(at.x()), num(at.y()), "click", "--repeat",
                       num(times), "--delay", "60", "1"});
    }
    // Arrives from one pixel to the left, so the control beneath sees a movement over itself.
    void hover(QPoint client) const {
        const QPoint at = origin() + client;
        desktop_.tool({"xdotool", "mousemove", num(at.x() - 1), num(at.y()), "mousemove",
                       num(at.x()), num(at.y())});
    }
    // Presses at `from`, moves by `by` in `steps` steps, waiting for the window to follow each,
    // and releases; "" when it followed, else where it was.
    std::string drag(QPoint from, QPoint by, int steps) const {
        const QPoint start = origin();
        const QPoint press = start + from;
        desktop_.tool({"xdotool", "mousemove", num(press.x()), num(press.y()), "mousedown", "1"});
        std::string failure;
        for (int step = 1; step <= steps && failure.empty(); ++step) {
            const QPoint to = start + by * step / steps;
            desktop_.tool({"xdotool", "mousemove", num(press.x() + to.x() - start.x()),
                           num(press.y() + to.y() - start.y())});
            QPoint now;
            if (!waitUntil([&] { return (now = origin()) == to; }, 5s, 25ms)) {
                failure = "in step " + num(step) + " the window is at " + describe(now) +
                          ", expected " + describe(to);
            }
        }
        desktop_.tool({"xdotool", "mouseup", "1"});
        return failure;
    }
    // The window state the window manager keeps: "Normal", "Iconic", ...
    std::string windowState() const {
        const std::string out =
            runTool({"xprop", "-id", window_, "WM_STATE"}, desktop_.environment()).out;
        const auto at = out.find("window state: ");
        return at == std::string::npos ? "unknown (" + out + ")"
                                       : out.substr(at + 14, out.find('\n', at) - at - 14);
    }
    void restore() const { desktop_.tool({"xdotool", "windowactivate", window_}); }
    Screenshot screenshot() const {
        const std::string png = desktop_.tool({"import", "-silent", "-window", "root", "PNG24:-"});
        QImage image;
        if (!image.loadFromData(reinterpret_cast<const uchar*>(png.data()),
                                static_cast<int>(png.size()), "PNG")) {
            throw std::runtime_error("cannot read the screenshot (" + num(std::ssize(png)) +
                                     " bytes)");
        }
        return Screenshot(image.convertToFormat(QImage::Format_RGB32), origin());
    }

  private:
    const Desktop& desktop_;
    std::string log_;
    std::unique_ptr<Process> process_;
    std::string window_;
};

// The window's controls, in pixels of its client area.
namespace layout {
inline const QRect kTitle(0, 0, 345, 17);
inline const QRect kMinimise(304, 0, 17, 17);
inline const QRect kClose(328, 0, 17, 17);
inline const QRect kDirectories(160, 24, 169, 38);
inline const QRect kFiles(160, 64, 169, 72);
inline const QRect kPrevious(32, 112, 9, 17);
inline const QRect kPause(48, 112, 41, 17);
inline const QRect kStop(96, 112, 25, 17);
inline const QRect kNext(128, 112, 9, 17);
inline const QRect kPlay(64, 136, 25, 17);
inline const QRect kMute(96, 136, 17, 17);
inline const QRect kCount(8, 168, 217, 17);
inline const QPoint kFirstShown(172, 95);
inline const QSize kClientSize(347, 197);

// A point on a label's glyphs: its captions start a blank or two in.
inline QPoint onGlyphs(const QRect& label) {
    return {label.right() - label.width() / 3, label.center().y()};
}
}  // namespace layout

// The middle of a list row: every row of both lists has the same height, `pitch`. The directory
// list shows the open directory in its top row and its subdirectories below.
inline QPoint row(const QRect& list, int row, int pitch) {
    return {list.left() + 40, list.top() + row * pitch + pitch / 2};
}

// Waits until the teal file list shows `files` entries in white and measures the rows' pitch
// (which needs two); throws, naming what it saw, when it does not.
inline int waitForFileList(const Player& player, int files) {
    std::string seen = "no screenshot taken";
    std::vector<int> rows;
    const bool shown = waitUntil(
        [&] {
            const Screenshot shot = player.screenshot();
            const QColor back = shot.dominant(layout::kFiles);
            rows = shot.bands(layout::kFiles, [](const QColor& c) { return c.red() > 100; });
            seen = "background " + describe(back) + ", " + num(std::ssize(rows)) + " rows of text";
            return back == QColor(0, 128, 128) && std::ssize(rows) == files;
        },
        10s, 50ms);
    if (!shown) {
        throw std::runtime_error("expected the teal file list with " + num(files) +
                                 " files within 10 s; saw " + seen);
    }
    return rows.size() >= 2 ? rows[1] - rows[0] : 0;
}

}  // namespace korvel::e2e

// Colours and points as a failure message shows them.
inline void PrintTo(const QColor& colour, std::ostream* out) {
    *out << korvel::e2e::describe(colour);
}
inline void PrintTo(const QPoint& point, std::ostream* out) {
    *out << korvel::e2e::describe(point);
}
