#include "e2e/listener.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "e2e/wait.h"
#include "support/tone_analysis.h"

namespace korvel::e2e {

namespace {

using namespace std::chrono_literals;
using test::amplitudeAt;
using test::rms;
using test::strongestFrequency;

constexpr std::size_t kToneWindow = Listener::kRate / 10;    // 100 ms
constexpr std::size_t kSilenceWindow = Listener::kRate / 5;  // 200 ms
constexpr std::size_t kOverlapBlock = 2048;                  // about 46 ms
constexpr int kOverlapBlocks = 3;                            // about 140 ms together
constexpr double kPresentAmplitude = 0.05;                   // a test tone is about 0.5

std::string hertz(double hz) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f Hz", hz);
    return text;
}

}  // namespace

Listener::Listener(const Desktop& desktop, std::vector<double> pitches)
    : pitches_(std::move(pitches)) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe for the recorder");
    }
    Launch launch;
    launch.argv = {"parec",          "--device=" + std::string(Desktop::kSink) + ".monitor",
                   "--format=s16le", "--rate=" + std::to_string(kRate),
                   "--channels=1",   "--latency-msec=20",
                   "--raw"};
    launch.environment = desktop.environment();
    launch.logFile = desktop.path("parec.log");
    launch.stdoutFd = fds[1];
    try {
        recorder_ = std::make_unique<Process>(launch);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);
    readFd_ = fds[0];
    reader_ = std::thread([this] { readLoop(readFd_); });
    // The null sink's monitor streams silence while nothing plays, so the recording runs from
    // the start.
    if (!waitUntil([this] { return seconds() > 0.05; }, 10s)) {
        throw std::runtime_error("the recorder (parec) delivered no sound within 10 s: " +
                                 readFile(desktop.path("parec.log")));
    }
}

Listener::~Listener() {
    recorder_.reset();  // its output closes, which ends the reader
    if (reader_.joinable()) {
        reader_.join();
    }
    close(readFd_);
}

void Listener::readLoop(int fd) {
    std::vector<std::int16_t> buffer(4096);
    std::size_t carry = 0;  // a byte of a sample split between two reads
    std::uint8_t partial = 0;
    while (true) {
        auto* bytes = reinterpret_cast<std::uint8_t*>(buffer.data());
        if (carry != 0) {
            bytes[0] = partial;
        }
        const ssize_t n = read(fd, bytes + carry, buffer.size() * 2 - carry);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        const std::size_t total = carry + static_cast<std::size_t>(n);
        const std::size_t count = total / 2;
        carry = total % 2;
        if (carry != 0) {
            partial = bytes[total - 1];
        }
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < count; ++i) {
            samples_.push_back(static_cast<float>(buffer[i]) / 32768.0f);
        }
        watchOverlap();
    }
}

// Judges each whole block once. A change of file puts the end of one tone and the start of the
// next into one block; only two pitches lasting together over several blocks are two files at
// once.
void Listener::watchOverlap() {
    while (samples_.size() - watched_ >= kOverlapBlock) {
        const std::span<const float> block(samples_.data() + watched_, kOverlapBlock);
        std::vector<double> present;
        for (const double hz : pitches_) {
            if (amplitudeAt(block, hz, kRate) > kPresentAmplitude) {
                present.push_back(hz);
            }
        }
        if (present.size() >= 2) {
            if (++overlapBlocks_ == kOverlapBlocks) {
                std::string text;
                for (const double hz : present) {
                    text += (text.empty() ? "" : " and ") + hertz(hz);
                }
                char at[64];
                std::snprintf(at, sizeof at, " together at %.2f s of the recording",
                              static_cast<double>(watched_) / kRate);
                overlaps_.push_back(text + at);
            }
        } else {
            overlapBlocks_ = 0;
        }
        watched_ += kOverlapBlock;
    }
}

std::vector<float> Listener::recentSince(std::uint64_t mark, std::size_t frames) {
    std::lock_guard lock(mutex_);
    if (samples_.size() < mark + frames) {
        return {};
    }
    return {samples_.end() - static_cast<std::ptrdiff_t>(frames), samples_.end()};
}

std::string Listener::describe(const std::vector<float>& samples) const {
    if (samples.empty()) {
        return "nothing recorded";
    }
    if (rms(samples) <= kSilenceRms) {
        return "silence";
    }
    return "a tone of " + hertz(strongestFrequency(samples, kRate));
}

double Listener::seconds() {
    std::lock_guard lock(mutex_);
    return static_cast<double>(samples_.size()) / kRate;
}

bool Listener::waitForTone(double hz, std::chrono::milliseconds timeout, std::string& heard) {
    std::uint64_t mark;
    {
        std::lock_guard lock(mutex_);
        mark = samples_.size();
    }
    heard = "nothing recorded";
    return waitUntil(
        [&] {
            const std::vector<float> samples = recentSince(mark, kToneWindow);
            if (samples.empty()) {
                return false;
            }
            heard = describe(samples);
            return rms(samples) > kSilenceRms &&
                   std::abs(strongestFrequency(samples, kRate) - hz) <= 0.03 * hz;
        },
        timeout, 25ms);
}

bool Listener::waitForSilence(std::chrono::milliseconds timeout, std::string& heard) {
    std::uint64_t mark;
    {
        std::lock_guard lock(mutex_);
        mark = samples_.size();
    }
    heard = "nothing recorded";
    return waitUntil(
        [&] {
            const std::vector<float> samples = recentSince(mark, kSilenceWindow);
            if (samples.empty()) {
                return false;
            }
            heard = describe(samples);
            return rms(samples) <= kSilenceRms;
        },
        timeout, 25ms);
}

std::vector<std::string> Listener::overlaps() {
    std::lock_guard lock(mutex_);
    return overlaps_;
}

}  // namespace korvel::e2e
