#pragma once

#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace korvel::test {

// Pitches far enough apart that no file is ever taken for another.
inline constexpr double kLow = 440.0, kMid = 660.0, kHigh = 990.0;

// Writes an MP3 holding a sine tone of `hz` for `seconds`; throws when it cannot.
void writeTone(const std::string& path, double hz, double seconds = 6.0);

// Sends one media command, as the playback procedures do.
std::uint32_t send(const std::string& command);

// How many entries a directory holds.
long entriesIn(const std::string& directory);

// A fresh directory that goes away with everything in it.
struct TempDir : QTemporaryDir {
    TempDir() = default;
    // One made in `parent` rather than in the usual place for temporary files.
    explicit TempDir(const std::string& parent)
        : QTemporaryDir(QString::fromStdString(parent + "/korvel-XXXXXX")) {}
    std::string path() const { return QTemporaryDir::path().toStdString(); }
    std::string operator/(const std::string& name) const { return path() + "/" + name; }
};

// A tap on the media layer's mixed output: what would reach the speakers. Under SDL's dummy
// driver output still flows in real time. Each question is about output that goes out after it
// is asked, so what was heard before a command never answers for what is heard after it.
class Probe {
  public:
    Probe();
    ~Probe();
    // Waits up to three seconds for the newest 100 ms to be a tone within 3% of `hz`.
    bool tone(double hz);
    // Waits up to three seconds until nothing is heard: silent output, or none at all.
    bool quiet();
    // Listens for `ms` and tells whether all of it was silent.
    bool silentFor(int ms);
    // The pitch of the newest 100 ms, found from its rising zero crossings; 0 for silence.
    double pitch();

  private:
    std::uint64_t frames();
    std::vector<float> since(std::uint64_t mark);
    std::mutex mutex_;
    std::vector<float> mono_;  // newest last, bounded
    std::uint64_t total_ = 0;  // frames seen
};

}  // namespace korvel::test
