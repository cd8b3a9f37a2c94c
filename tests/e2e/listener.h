#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/desktop.h"
#include "e2e/process.h"

namespace korvel::e2e {

// Records what the desktop's sound server plays (the null sink's monitor, through parec) and
// answers what is heard: silence, or a tone of which pitch. It also watches the whole
// recording for two of the known pitches sounding at the same time.
//
// The waits judge only sound recorded after they are called, so what was heard before an
// action never answers for what is heard after it.
class Listener {
  public:
    static constexpr int kRate = 44100;
    // Quieter than this (RMS, full scale 1) is silence; every test tone is far louder, and
    // paused, stopped or muted output is exactly zero.
    static constexpr double kSilenceRms = 1e-3;

    // `pitches`: every pitch the test's files hold, for the check that no two sound at once.
    Listener(const Desktop& desktop, std::vector<double> pitches);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Waits (bounded) until the most recent 100 ms are a tone within 3% of `hz`. On failure the
    // message says what was heard instead.
    bool waitForTone(double hz, std::chrono::milliseconds timeout, std::string& heard);

    // Waits until the most recent 200 ms are silent.
    bool waitForSilence(std::chrono::milliseconds timeout, std::string& heard);

    // Every stretch of at least 150 ms in which two known pitches sounded together, described.
    std::vector<std::string> overlaps();

    // Seconds of sound recorded so far.
    double seconds();

  private:
    void readLoop(int fd);
    void watchOverlap();
    std::vector<float> recentSince(std::uint64_t mark, std::size_t frames);
    std::string describe(const std::vector<float>& samples) const;

    std::vector<double> pitches_;
    std::mutex mutex_;
    std::vector<float> samples_;  // everything recorded, mono
    std::size_t watched_ = 0;     // samples the overlap watch has judged
    int overlapBlocks_ = 0;       // consecutive blocks holding two pitches
    std::vector<std::string> overlaps_;
    std::unique_ptr<Process> recorder_;
    int readFd_ = -1;
    std::thread reader_;
};

}  // namespace korvel::e2e
