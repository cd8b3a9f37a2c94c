#include "support/audio_probe.h"

#include "platform/mci.h"
#include "support/tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <thread>

namespace korvel::test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kRate = platform::mci::kOutputRate;
constexpr int kChannels = platform::mci::kOutputChannels;
// Two seconds of history is more than any window a test asks about.
constexpr std::size_t kKeptFrames = 2 * kRate;
constexpr std::uint32_t kBlockFrames = kRate / 100;
constexpr milliseconds kPoll(10);

std::size_t framesIn(milliseconds window) {
    return static_cast<std::size_t>(window.count()) * kRate / 1000;
}

double rms(const std::vector<float>& samples) {
    return test::rms(samples);
}

double strongestFrequency(const std::vector<float>& samples) {
    return test::strongestFrequency(samples, kRate);
}

}  // namespace

AudioProbe::AudioProbe() {
    platform::mci::setOutputTap(
        [this](const std::int16_t* samples, std::size_t count) { take(samples, count); });
}

AudioProbe::~AudioProbe() {
    platform::mci::setOutputTap({});
}

void AudioProbe::take(const std::int16_t* samples, std::size_t count) {
    const std::size_t frames = count / kChannels;
    std::lock_guard lock(mutex_);
    for (std::size_t f = 0; f < frames; ++f) {
        float sum = 0.0f;
        for (int c = 0; c < kChannels; ++c) {
            sum += static_cast<float>(samples[f * kChannels + static_cast<std::size_t>(c)]);
        }
        const float mono = sum / (static_cast<float>(kChannels) * 32768.0f);
        mono_.push_back(mono);
        blockSquares_ += static_cast<double>(mono) * mono;
        if (++blockFrames_ == kBlockFrames) {
            if (std::sqrt(blockSquares_ / kBlockFrames) > kSilenceRms) {
                sound_ += kBlockFrames;
            }
            blockSquares_ = 0.0;
            blockFrames_ = 0;
        }
    }
    total_ += frames;
    if (mono_.size() > 2 * kKeptFrames) {
        mono_.erase(mono_.begin(), mono_.end() - static_cast<std::ptrdiff_t>(kKeptFrames));
    }
}

void AudioProbe::clear() {
    std::lock_guard lock(mutex_);
    mono_.clear();
    total_ = 0;
    sound_ = 0;
    blockSquares_ = 0.0;
    blockFrames_ = 0;
}

std::vector<float> AudioProbe::recent(milliseconds window) {
    std::lock_guard lock(mutex_);
    const std::size_t n = std::min(framesIn(window), mono_.size());
    return {mono_.end() - static_cast<std::ptrdiff_t>(n), mono_.end()};
}

std::vector<float> AudioProbe::recentSince(std::uint64_t mark, milliseconds window) {
    std::lock_guard lock(mutex_);
    const std::size_t n = std::min(framesIn(window), mono_.size());
    if (n == 0 || total_ < mark || total_ - mark < framesIn(window)) {
        return {};
    }
    return {mono_.end() - static_cast<std::ptrdiff_t>(n), mono_.end()};
}

std::uint64_t AudioProbe::framesSeen() {
    std::lock_guard lock(mutex_);
    return total_;
}

std::uint64_t AudioProbe::soundFramesSeen() {
    std::lock_guard lock(mutex_);
    return sound_;
}

// Polls until `condition` holds or `timeout` has passed; whether it held.
template <typename Condition>
bool AudioProbe::waitUntil(milliseconds timeout, Condition condition) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

bool AudioProbe::waitForFrames(std::uint64_t mark, std::uint64_t frames, milliseconds timeout) {
    return waitUntil(timeout, [&] { return framesSeen() >= mark + frames; });
}

bool AudioProbe::waitForTone(double hz, milliseconds timeout, milliseconds window) {
    const std::uint64_t mark = framesSeen();
    return waitUntil(timeout, [&] {
        const std::vector<float> samples = recentSince(mark, window);
        return !samples.empty() && rms(samples) > kSilenceRms &&
               std::abs(strongestFrequency(samples) - hz) <= 0.03 * hz;
    });
}

bool AudioProbe::waitForSilence(milliseconds timeout, milliseconds window) {
    const std::uint64_t mark = framesSeen();
    return waitUntil(timeout, [&] {
        const std::vector<float> samples = recentSince(mark, window);
        return !samples.empty() && rms(samples) <= kSilenceRms;
    });
}

bool AudioProbe::waitForQuiet(milliseconds timeout, milliseconds window) {
    const std::uint64_t mark = framesSeen();
    std::uint64_t lastCount = mark;
    auto lastChange = Clock::now();
    return waitUntil(timeout, [&] {
        const std::uint64_t now = framesSeen();
        if (now != lastCount) {
            lastCount = now;
            lastChange = Clock::now();
        } else if (Clock::now() - lastChange >= window) {
            return true;  // nothing goes out at all
        }
        const std::vector<float> samples = recentSince(mark, window);
        return !samples.empty() && rms(samples) <= kSilenceRms;
    });
}

bool AudioProbe::heardSoundWithin(milliseconds duration) {
    const std::uint64_t before = soundFramesSeen();
    std::this_thread::sleep_for(duration);
    return soundFramesSeen() > before;
}

double AudioProbe::dominantFrequency(milliseconds window) {
    const std::vector<float> samples = recent(window);
    if (rms(samples) <= kSilenceRms) {
        return 0.0;
    }
    return strongestFrequency(samples);
}

}  // namespace korvel::test
