#include "support/audio_probe.h"

#include "platform/mci.h"

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
    if (samples.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (const float s : samples) {
        sum += static_cast<double>(s) * s;
    }
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

// The power of one frequency in a block (Goertzel's recurrence).
double powerAt(const std::vector<double>& x, double hz) {
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / kRate);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (const double value : x) {
        const double current = value + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious -
           coefficient * previous * beforePrevious;
}

// Searches the audible range coarsely (half a frequency bin apart, so no tone falls between two
// candidates), then finely around the strongest candidate. A Hann window keeps the strong tone's
// leakage from hiding where its peak is.
double strongestFrequency(const std::vector<float>& samples) {
    const std::size_t n = samples.size();
    if (n < 64) {
        return 0.0;
    }
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                                 static_cast<double>(n - 1));
        x[i] = hann * samples[i];
    }
    const double bin = static_cast<double>(kRate) / static_cast<double>(n);
    double best = 0.0;
    double bestPower = -1.0;
    for (double hz = 40.0; hz <= 8000.0; hz += bin / 2.0) {
        const double power = powerAt(x, hz);
        if (power > bestPower) {
            bestPower = power;
            best = hz;
        }
    }
    const double coarse = best;
    for (double hz = coarse - bin / 2.0; hz <= coarse + bin / 2.0; hz += bin / 40.0) {
        const double power = powerAt(x, hz);
        if (power > bestPower) {
            bestPower = power;
            best = hz;
        }
    }
    return best;
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

bool AudioProbe::waitForFrames(std::uint64_t mark, std::uint64_t frames, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        if (framesSeen() >= mark + frames) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

bool AudioProbe::waitForTone(double hz, milliseconds timeout, milliseconds window) {
    const std::uint64_t mark = framesSeen();
    const auto deadline = Clock::now() + timeout;
    std::uint64_t judged = mark;
    while (true) {
        const std::uint64_t now = framesSeen();
        if (now != judged) {
            judged = now;
            const std::vector<float> samples = recentSince(mark, window);
            if (!samples.empty() && rms(samples) > kSilenceRms &&
                std::abs(strongestFrequency(samples) - hz) <= 0.03 * hz) {
                return true;
            }
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

bool AudioProbe::waitForSilence(milliseconds timeout, milliseconds window) {
    const std::uint64_t mark = framesSeen();
    const auto deadline = Clock::now() + timeout;
    while (true) {
        const std::vector<float> samples = recentSince(mark, window);
        if (!samples.empty() && rms(samples) <= kSilenceRms) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

bool AudioProbe::waitForQuiet(milliseconds timeout, milliseconds window) {
    const std::uint64_t mark = framesSeen();
    const auto deadline = Clock::now() + timeout;
    std::uint64_t lastCount = mark;
    auto lastChange = Clock::now();
    while (true) {
        const std::uint64_t now = framesSeen();
        if (now != lastCount) {
            lastCount = now;
            lastChange = Clock::now();
        } else if (Clock::now() - lastChange >= window) {
            return true;  // nothing goes out at all
        }
        const std::vector<float> samples = recentSince(mark, window);
        if (!samples.empty() && rms(samples) <= kSilenceRms) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
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
