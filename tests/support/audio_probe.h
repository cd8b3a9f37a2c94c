#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace korvel::test {

// A tap on the mixed output of the media layer: what would reach the speakers. Installed for its
// lifetime. Under SDL's dummy driver the output still advances in real time, so waits are real.
//
// The waits judge only output that goes out after they are called, so what was heard before a
// command never answers for what is heard after it; when no output goes out at all (no device
// is open), they wait in vain and return false.
class AudioProbe {
  public:
    // Output quieter than this (RMS, full scale 1) is silence; every tone of the tests is far
    // louder, and paused, stopped or muted output is exactly zero.
    static constexpr double kSilenceRms = 1e-3;

    AudioProbe();
    ~AudioProbe();
    AudioProbe(const AudioProbe&) = delete;
    AudioProbe& operator=(const AudioProbe&) = delete;

    // Forgets everything heard so far.
    void clear();

    // Waits (bounded by `timeout`) until the most recent `window` of output is a tone near `hz`
    // (within 3%); true when it was heard.
    bool waitForTone(double hz, std::chrono::milliseconds timeout,
                     std::chrono::milliseconds window = std::chrono::milliseconds(100));

    // Waits until the most recent `window` of output is silent; true when it was.
    bool waitForSilence(std::chrono::milliseconds timeout,
                        std::chrono::milliseconds window = std::chrono::milliseconds(150));

    // Waits until nothing can be heard: the most recent `window` of output is silent, or no
    // output has gone out for `window` at all (the sound output is released). This is what a
    // listener hears; waitForSilence asks for silent output that still flows.
    bool waitForQuiet(std::chrono::milliseconds timeout,
                      std::chrono::milliseconds window = std::chrono::milliseconds(150));

    // Listens for `duration` from now and tells whether any of it was sound.
    bool heardSoundWithin(std::chrono::milliseconds duration);

    // The strongest frequency in the most recent `window` of output, 0 when it is silent.
    double dominantFrequency(std::chrono::milliseconds window = std::chrono::milliseconds(100));

    // Frames (one sample per channel) of output seen since construction or clear(), and how
    // many of them held sound, judged in blocks of 10 ms. Counting frames rather than wall time
    // measures how much of a file was heard however slowly the machine runs.
    std::uint64_t framesSeen();
    std::uint64_t soundFramesSeen();

    // Waits until `frames` frames have gone out after `mark` (a framesSeen() value); false when
    // they did not within `timeout`.
    bool waitForFrames(std::uint64_t mark, std::uint64_t frames, std::chrono::milliseconds timeout);

  private:
    template <typename Condition>
    bool waitUntil(std::chrono::milliseconds timeout, Condition condition);
    void take(const std::int16_t* samples, std::size_t count);
    std::vector<float> recent(std::chrono::milliseconds window);
    // The most recent `window` of output when all of it went out after `mark`; empty otherwise.
    std::vector<float> recentSince(std::uint64_t mark, std::chrono::milliseconds window);

    std::mutex mutex_;
    std::vector<float> mono_;  // mixed to mono, newest at the end, bounded
    std::uint64_t total_ = 0;  // frames seen since construction
    std::uint64_t sound_ = 0;  // frames of them in blocks that held sound
    double blockSquares_ = 0.0;
    std::uint32_t blockFrames_ = 0;
};

}  // namespace korvel::test
