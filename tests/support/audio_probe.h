#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace korvel::test {

// A tap on the mixed output of the media layer: what would reach the speakers. Installed for its
// lifetime. Under SDL's dummy driver the output still advances in real time, so waits are real.
class AudioProbe {
public:
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

    // Listens for `duration` from now and tells whether any of it was sound.
    bool heardSoundWithin(std::chrono::milliseconds duration);

    // The strongest frequency in the most recent `window` of output, 0 when it is silent.
    double dominantFrequency(std::chrono::milliseconds window = std::chrono::milliseconds(100));

private:
    void take(const std::int16_t* samples, std::size_t count);
    std::vector<float> recent(std::chrono::milliseconds window);

    std::mutex mutex_;
    std::vector<float> mono_;  // mixed to mono, newest at the end, bounded
    std::uint64_t total_ = 0;  // frames seen since construction
};

}  // namespace korvel::test
