// Long runs that the tests do not make:
//
//   korvel-soak cycles N   N cycles of play, pause, resume, next and stop through the window's
//                          handlers on the offscreen platform; memory must stay flat, every
//                          command must be answered without error, and the count of open file
//                          descriptors must be the same at the end as at the start.
//   korvel-soak kills N    The built player killed with SIGKILL at N random moments while it
//                          closes and saves; its settings file must always be the whole old file
//                          or the whole new one, and what a kill leaves beside it must be gone
//                          after the next start.
//   korvel-soak faults     A file truncated, replaced or deleted while it plays, and a folder
//                          removed or made unreadable while it is shown: the window must keep
//                          answering, and the next action must go as it goes for a file or
//                          folder that is missing.
//
// Prints its figures and exits non-zero when a condition fails.
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/frmKORVEL.h"
#include "platform/controls/events.h"
#include "platform/mci.h"
#include "platform/program.h"
#include "platform/text.h"
#include "support/support.h"

namespace {

namespace fs = std::filesystem;

// Makes file permission bits bind this process as they bind an ordinary user: where it runs as
// root, the capabilities that read and write through them are dropped for good. True when a
// read-only file then really cannot be opened for writing.
// Drops the capabilities that override file permissions from the effective and the permitted
// set: the kernel's access() check uses the permitted set for root, so both must go.
void dropFileOverrides() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return;
    }
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        const unsigned bit = 1u << (cap % 32);
        data[cap / 32].effective &= ~bit;
        data[cap / 32].permitted &= ~bit;
        data[cap / 32].inheritable &= ~bit;
    }
    syscall(SYS_capset, &header, data);
}

bool permissionBitsBind() {
    dropFileOverrides();
    std::string probe = "/tmp/korvel-permission-probe-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        return false;
    }
    close(fd);
    chmod(probe.c_str(), 0444);
    const int writer = open(probe.c_str(), O_WRONLY);
    if (writer >= 0) {
        close(writer);
    }
    unlink(probe.c_str());
    return writer < 0;
}

using Clock = std::chrono::steady_clock;

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long openDescriptors() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

int cycles(int argc, char** argv, long count) {
    korvel::test::startSoundServer();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    korvel::test::TempDir dir;
    fs::create_directory(dir / "music");
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        korvel::test::writeTone(dir / "music/" + name, 440, 1.0);
    }
    platform::setProgramDirectoryForTesting(dir.path());

    long commands = 0;
    long errors = 0;
    platform::mci::setCommandObserver([&](std::string_view command, MCIERROR result) {
        ++commands;
        // A play first stops and closes what is open, which after a stop is nothing.
        const bool nothingOpen = result == platform::mci::kInvalidDeviceName &&
                                 (command.starts_with("stop ") || command.starts_with("close "));
        if (result != platform::mci::kNoError && !nothingOpen) {
            ++errors;
            std::fprintf(stderr, "%.*s -> %u\n", static_cast<int>(command.size()), command.data(),
                         result);
        }
    });
    auto window = std::make_unique<frmKORVEL>();
    window->Dir1->setPath(platform::fromAnsi(dir / "music"));
    window->File1->setListIndex(0);
    auto cycle = [&] {
        window->Label5_Click();  // play
        window->Label6_Click();  // pause
        window->Label6_Click();  // resume
        if (window->File1->ListIndex() == window->File1->ListCount() - 1) {
            window->File1->setListIndex(-1);  // next goes round to the first file
        }
        window->Label8_Click();  // next
        window->Label7_Click();  // stop
        QCoreApplication::processEvents();
    };
    // The first cycles open the sound output and fill the caches; the measure starts after them.
    const long warmUp = std::min(count / 10, 200L);
    for (long i = 0; i < warmUp; ++i) {
        cycle();
    }
    const long memoryBefore = residentKiB();
    const long descriptorsBefore = openDescriptors();
    const long commandsBefore = commands;
    const auto start = Clock::now();
    for (long i = warmUp; i < count; ++i) {
        cycle();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long memoryAfter = residentKiB();
    const long descriptorsAfter = openDescriptors();
    const long sent = commands - commandsBefore;
    // Two plays of four commands (stop, close, open, play), pause, resume, stop and close all.
    const long expected = (count - warmUp) * 12;

    std::printf("cycles: %ld (%ld before measuring) in %.1f s\n", count, warmUp, seconds);
    std::printf("commands: %ld answered, %ld expected, %ld errors\n", sent, expected, errors);
    std::printf("resident memory: %ld KiB before, %ld KiB after\n", memoryBefore, memoryAfter);
    std::printf("open descriptors: %ld before, %ld after\n", descriptorsBefore, descriptorsAfter);
    window.reset();
    platform::mci::setCommandObserver({});
    // Flat: what a glibc heap may keep back, not what thousands of leaked commands would take.
    const bool flat = memoryAfter - memoryBefore < 4096;
    const bool ok =
        flat && descriptorsAfter == descriptorsBefore && errors == 0 && sent == expected;
    std::printf("%s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

// Starts the player in `cwd` with a private environment; its output goes nowhere.
pid_t startPlayer(const std::string& program, const std::string& cwd, const std::string& home) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::string homeVariable = "HOME=" + home;
        char* env[] = {const_cast<char*>("PATH=/usr/bin:/bin"),
                       homeVariable.data(),
                       const_cast<char*>("QT_QPA_PLATFORM=offscreen"),
                       const_cast<char*>("PULSE_SERVER=unix:/nonexistent"),
                       const_cast<char*>("ALSA_CONFIG_PATH=/dev/null"),
                       nullptr};
        char* args[] = {const_cast<char*>(program.c_str()), nullptr};
        if (chdir(cwd.c_str()) == 0 && std::freopen("/dev/null", "w", stderr) != nullptr) {
            execve(program.c_str(), args, env);
        }
        _exit(127);
    }
    return pid;
}

// True once the player catches SIGTERM, which it does from the moment its window is up.
bool waitUntilReady(pid_t pid) {
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < until) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigCgt:", 0) == 0 &&
                (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGTERM - 1))) != 0) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

std::vector<std::string> leftovers(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind(".korvel-ini-", 0) == 0) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

int kills(long count) {
    korvel::test::TempDir dir;
    const std::string program = dir / "korvel";
    fs::copy_file(KORVEL_BINARY, program);
    fs::create_directory(dir / "music");
    const std::string ini = dir / "korvel.ini";
    // The remembered folder is gone, so the player falls back to the one above it and saves
    // that: every close makes a real write, and the lines around the value must stay as they are.
    auto oldFile = [&](long i) {
        return "; kept as it is\r\n[other]\r\nname = value\r\n\r\n[korvel]\r\npath=" +
               (dir / "music/gone") + std::to_string(i) + "\r\n# the end\r\n";
    };
    const std::string newFile =
        "; kept as it is\r\n[other]\r\nname = value\r\n\r\n[korvel]\r\npath=" + (dir / "music") +
        "\r\n# the end\r\n";

    // How long a close takes, so that the kills fall inside it.
    std::chrono::microseconds closing{0};
    for (int i = 0; i < 3; ++i) {
        writeFile(ini, oldFile(-1));
        const pid_t pid = startPlayer(program, dir / "music", dir.path());
        if (!waitUntilReady(pid)) {
            std::printf("the player never came up\n");
            kill(pid, SIGKILL);
            return 1;
        }
        const auto start = Clock::now();
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        closing = std::max(
            closing, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start));
    }
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<long> moment(0, closing.count() * 3 / 2);

    long oldKept = 0;
    long newWhole = 0;
    long torn = 0;
    long killedWhileClosing = 0;
    long leftBehind = 0;
    long notCleaned = 0;
    std::vector<std::string> fromLastKill;
    for (long i = 0; i < count; ++i) {
        writeFile(ini, oldFile(i));
        const pid_t pid = startPlayer(program, dir / "music", dir.path());
        if (!waitUntilReady(pid)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            std::printf("the player never came up\n");
            return 1;
        }
        // The start has cleaned up whatever the last kill left behind.
        for (const std::string& name : fromLastKill) {
            notCleaned += fs::exists(dir / name) ? 1 : 0;
        }
        kill(pid, SIGTERM);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        killedWhileClosing += WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? 1 : 0;
        const std::string now = readFile(ini);
        oldKept += now == oldFile(i) ? 1 : 0;
        newWhole += now == newFile ? 1 : 0;
        torn += now != oldFile(i) && now != newFile ? 1 : 0;
        fromLastKill = leftovers(dir.path());
        leftBehind += fromLastKill.empty() ? 0 : 1;
    }
    // One last start and close, which must leave nothing beside the settings.
    const pid_t pid = startPlayer(program, dir / "music", dir.path());
    const bool up = waitUntilReady(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    for (const std::string& name : fromLastKill) {
        notCleaned += fs::exists(dir / name) ? 1 : 0;
    }
    const bool clean = up && leftovers(dir.path()).empty();

    std::printf("kills: %ld within %ld us of the close request (a close takes about %ld us)\n",
                count, static_cast<long>(closing.count() * 3 / 2),
                static_cast<long>(closing.count()));
    std::printf("killed before the close ended: %ld; ended on its own first: %ld\n",
                killedWhileClosing, count - killedWhileClosing);
    std::printf("settings file: old file whole %ld, new file whole %ld, anything else %ld\n",
                oldKept, newWhole, torn);
    std::printf("temporary file left by a kill: %ld times; still there after the next start: %ld\n",
                leftBehind, notCleaned);
    const bool ok = torn == 0 && notCleaned == 0 && clean;
    std::printf("%s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

int faults(int argc, char** argv) {
    korvel::test::startSoundServer();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const bool bitsBind = permissionBitsBind();
    korvel::test::TempDir dir;
    const std::string music = dir / "music";
    fs::create_directories(music + "/shown");
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        korvel::test::writeTone(music + "/" + name, 440, 20.0);
        korvel::test::writeTone(music + "/shown/" + name, 440, 20.0);
    }
    platform::setProgramDirectoryForTesting(dir.path());
    std::vector<std::string> log;
    platform::mci::setCommandObserver([&](std::string_view command, MCIERROR result) {
        log.push_back(std::string(command.substr(0, command.find(' '))) + " " +
                      std::to_string(result));
    });
    frmKORVEL window;
    bool ok = true;
    // Runs `fault`, lets the window run a moment, then `action`; reports what the media layer
    // answered to the action and whether `expected` was among it.
    auto scenario = [&](const char* name, const std::function<void()>& fault,
                        const std::function<void()>& action, const std::string& expected) {
        fault();
        const auto start = Clock::now();
        while (Clock::now() - start < std::chrono::milliseconds(300)) {
            QCoreApplication::processEvents();
        }
        log.clear();
        const auto before = Clock::now();
        action();
        QCoreApplication::processEvents();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
        std::string answers;
        bool found = expected.empty();
        for (const std::string& entry : log) {
            answers += (answers.empty() ? "" : ", ") + entry;
            found = found || entry == expected;
        }
        const bool answered = ms < 1000;
        ok = ok && found && answered;
        std::printf("%-44s %6.1f ms  %s%s\n", name, ms, answers.empty() ? "-" : answers.c_str(),
                    found && answered ? "" : "  FAILED");
        std::fflush(stdout);
    };
    auto select = [&](const std::string& folder, std::int16_t index) {
        window.Dir1->setPath(platform::fromAnsi(folder));
        window.File1->setListIndex(index);
        window.Label5_Click();
    };
    auto play = [&] { window.Label5_Click(); };
    // A file that is not there has no short path, so the open names no file: as it goes for any
    // missing file.
    const std::string kMissing = "open " + std::to_string(platform::mci::kMissingDeviceName);
    scenario(
        "truncated while it plays, then played again",
        [&] {
            select(music, 0);
            fs::resize_file(music + "/a.mp3", 0);
        },
        play, "open 296");
    scenario(
        "replaced while it plays, then played again",
        [&] {
            select(music, 1);
            fs::copy_file(music + "/c.mp3", music + "/new.tmp");
            fs::rename(music + "/new.tmp", music + "/b.mp3");
        },
        play, "open 0");
    scenario(
        "deleted while it plays, then played again",
        [&] {
            select(music, 2);
            fs::remove(music + "/c.mp3");
        },
        play, kMissing);
    scenario(
        "deleted while it plays, then paused",
        [&] {
            writeFile(music + "/c.mp3", readFile(music + "/b.mp3"));
            select(music, 2);
            fs::remove(music + "/c.mp3");
        },
        [&] { window.Label6_Click(); }, "pause 0");
    window.Label6_Click();  // resumed, so that the caption is "pause" again
    scenario(
        "folder removed while shown, then next file", [&] { select(music + "/shown", 0); },
        [&] {
            fs::remove_all(music + "/shown");
            window.Label8_Click();
        },
        kMissing);
    scenario(
        "folder removed while shown, then opened", [] {},
        // As a double click on its entry does: the control's error goes no further.
        [&] {
            platform::raiseEvent(
                [&] { window.Dir1->setPath(platform::fromAnsi(music + "/shown")); });
        },
        "");
    if (bitsBind) {
        fs::create_directories(music + "/locked");
        writeFile(music + "/locked/d.mp3", readFile(music + "/b.mp3"));
        scenario(
            "folder made unreadable while shown, then play",
            [&] {
                select(music + "/locked", 0);
                window.Label7_Click();
                fs::permissions(music + "/locked", fs::perms::none);
            },
            play, kMissing);
        fs::permissions(music + "/locked", fs::perms::owner_all);
    } else {
        std::printf("folder made unreadable: not run (permission bits do not bind here)\n");
    }
    platform::mci::setCommandObserver({});
    std::printf("%s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const long count = argc > 2 ? std::atol(argv[2]) : 0;
    if (mode == "cycles" && count > 0) {
        return cycles(argc, argv, count);
    }
    if (mode == "kills" && count > 0) {
        return kills(count);
    }
    if (mode == "faults") {
        return faults(argc, argv);
    }
    std::fprintf(stderr, "usage: korvel-soak cycles N | kills N | faults\n");
    return 2;
}
