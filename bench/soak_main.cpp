// A long run that the tests do not make, measured:
//
//   korvel-soak cycles N   N cycles of play, pause, resume, next and stop through the window's
//                          handlers on the offscreen platform: how long they take, how resident
//                          memory and the count of open file descriptors move over them, and how
//                          many commands were answered with an error.
//
// Prints its figures; what must hold is for the tests to say.
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/frmKORVEL.h"
#include "platform/mci.h"
#include "platform/program.h"
#include "platform/text.h"
#include "support/support.h"

namespace {

namespace fs = std::filesystem;

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
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const long count = argc > 2 ? std::atol(argv[2]) : 0;
    if (mode == "cycles" && count > 0) {
        return cycles(argc, argv, count);
    }
    std::fprintf(stderr, "usage: korvel-soak cycles N\n");
    return 2;
}
