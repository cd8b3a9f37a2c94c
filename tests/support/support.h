#pragma once

#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "data/tones/tones.h"

namespace korvel::test {

inline void sleepFor(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Pitches far enough apart that no file is ever taken for another.
inline constexpr double kLow = 440.0, kMid = 660.0, kHigh = 990.0;

// A sine tone of `hz`, as the samples are made (tones.h).
using tones::writeTone;

// Steps of a tenth of a second, each at the pitch of the letter it is heard as ('a' to 'h'):
// written from letters ("abcdefgh..."), a recording is read back as letters, one for each
// 10 ms, with '.' for silence and '?' for anything else. What is heard dropped, doubled,
// reordered, too fast or too slow reads differently.
void writeSteps(const std::string& path, const std::string& steps, int rate = 44100);
// The steps heard in `letters`, in order, silence and the odd letters where two steps meet left
// out: each step as its letter when it was heard whole (80 to 120 ms: a pause may hear again the
// little the server had rendered, and takes back), in capitals when not.
std::string stepsIn(const std::string& letters);

// A PulseAudio server of this process's own, with one null sink, so that what plays is heard by
// a Probe and by no one else, on any machine. Started by every test program before its tests
// run (PULSE_SERVER names it), and ended with the program. ALSA is pointed at no device, so
// that while the server is stopped nothing at all can play. Throws when it does not start.
void startSoundServer();
// Sends `signal` to the sound server: SIGSTOP makes it silent, SIGCONT wakes it, SIGKILL ends it.
void signalSoundServer(int signal);
// Environment variables set until destroyed, and then put back as they were, also when a test
// ends early.
class ScopedEnv {
  public:
    ScopedEnv(std::initializer_list<std::pair<const char*, std::string>> values);
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv({{name, value}}) {}
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Until destroyed, the player's own connection to a sound server points at `pulse` (nowhere by
// default) and ALSA's default device is the pulse plugin aimed at the private sound server. The
// server is started anew first, so that no connection made before is left to play on.
class ThroughAlsa {
  public:
    explicit ThroughAlsa(const std::string& pulse = "/nonexistent");

  private:
    std::optional<ScopedEnv> env_;
};

// A sound server that takes every connection and never answers.
struct SilentServer {
    SilentServer();
    ~SilentServer();
    std::string address() const { return "unix:" + path; }
    std::string path;
    int fd;
};

// A sound server that answers but has nowhere to play: no sink at all.
struct SinklessServer {
    SinklessServer();
    ~SinklessServer();
    std::string address() const { return "unix:" + path; }
    std::string path;
    pid_t pid;
};

// Waits up to three seconds, looking every 10 ms, for `done()` to hold; whether it did.
template <typename Condition>
bool within3s(Condition done) {
    for (int i = 0; i < 300; ++i, sleepFor(10)) {
        if (done()) return true;
    }
    return false;
}

// How long `f` takes, in milliseconds; and the process's CPU time so far, in seconds.
template <typename F>
double msTaken(F f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
double cpuSeconds();

// Sends one media command, as the playback procedures do.
std::uint32_t send(const std::string& command);

// How many entries a directory holds; a file's bytes, whole ("" when it cannot be read).
long entriesIn(const std::string& directory);
std::string contentsOf(const std::string& path);

// A fresh directory that goes away with everything in it.
struct TempDir : QTemporaryDir {
    TempDir() = default;
    // One made in `parent` rather than in the usual place for temporary files.
    explicit TempDir(const std::string& parent) : QTemporaryDir(QString::fromStdString(parent + "/korvel-XXXXXX")) {}
    // Qt's own removal leaves behind names that are not UTF-8.
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path(), ignored);
    }
    std::string path() const { return QTemporaryDir::path().toStdString(); }
    std::string operator/(const std::string& name) const { return path() + "/" + name; }
};

// A folder that stands for the program's own until destroyed, so that settings written by one
// test never reach another.
struct ProgramDirectory : TempDir {
    ProgramDirectory();
    ~ProgramDirectory();
};

// What the private sound server plays, as a recording of its sink hears it: what would reach
// the speakers. It flows in real time, silent when nothing plays. Each question is about sound
// that is heard after it is asked, so what was heard before a command never answers for what is
// heard after it; the first question waits for the recording's first piece, from when on every
// sound is heard as it plays, and throws when none comes.
class Probe {
  public:
    // Waits up to three seconds for the newest 100 ms to be a tone within 3% of `hz`.
    bool tone(double hz);
    // Waits up to three seconds until nothing is heard: silent output, or none at all.
    bool quiet();
    // Listens for `ms` and tells whether all of it was silent.
    bool silentFor(int ms);
    // Listens to `ms` of sound and gives what was heard as letters (see writeSteps).
    std::string letters(int ms);

  private:
    static std::uint64_t mark();
    static std::uint64_t frames();
    static std::vector<float> since(std::uint64_t mark);
};

}  // namespace korvel::test
