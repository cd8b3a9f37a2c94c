#include "support/support.h"

#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <thread>

#include "platform/mci.h"

namespace korvel::test {
namespace {

constexpr int kRate = platform::mci::kOutputRate;
constexpr std::size_t kWindow = kRate / 10;
constexpr double kSilence = 1e-3;  // RMS; paused, stopped and muted output is exactly zero

double rms(const std::vector<float>& s) {
    double sum = 0;
    for (float x : s) sum += double(x) * x;
    return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

double pitchOf(const std::vector<float>& s) {
    if (s.size() < kWindow || rms(s) < kSilence)
        return 0;
    std::size_t first = 0, last = 0, rises = 0;
    for (std::size_t i = s.size() - kWindow + 1; i < s.size(); ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            (rises++ == 0 ? first : last) = i;
        }
    }
    return rises < 3 ? 0 : double(rises - 1) * kRate / double(last - first);
}

template <typename Condition>
bool within3s(Condition done) {
    for (int i = 0; i < 300; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        if (done())
            return true;
    }
    return false;
}

}  // namespace

std::uint32_t send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, 0);
}

long entriesIn(const std::string& directory) {
    return std::distance(std::filesystem::directory_iterator(directory), {});
}

void writeTone(const std::string& path, double hz, double seconds) {
    std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
    lame_set_num_channels(lame.get(), 1);
    lame_set_in_samplerate(lame.get(), kRate);
    lame_set_bWriteVbrTag(lame.get(), 0);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), fclose);
    if (lame_init_params(lame.get()) < 0 || !file)
        throw std::runtime_error("cannot write " + path);
    std::vector<short> pcm(std::size_t(seconds * kRate));
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = short(16000 * std::sin(2 * std::numbers::pi * hz * double(i) / kRate));
    }
    std::vector<unsigned char> mp3(pcm.size() * 5 / 4 + 7200);
    int n = lame_encode_buffer(lame.get(), pcm.data(), pcm.data(), int(pcm.size()), mp3.data(),
                               int(mp3.size()));
    n += lame_encode_flush(lame.get(), mp3.data() + n, int(mp3.size()) - n);
    if (std::fwrite(mp3.data(), 1, std::size_t(n), file.get()) != std::size_t(n)) {
        throw std::runtime_error("cannot write " + path);
    }
}

Probe::Probe() {
    platform::mci::setOutputTap([this](const std::int16_t* s, std::size_t count) {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i + 1 < count; i += 2)
            mono_.push_back(float(s[i] + s[i + 1]) / 65536);
        total_ += count / 2;
        if (mono_.size() > 2 * kRate)
            mono_.erase(mono_.begin(), mono_.end() - kRate);
    });
}

Probe::~Probe() {
    platform::mci::setOutputTap({});
}

std::vector<float> Probe::since(std::uint64_t mark) {
    std::lock_guard lock(mutex_);
    const std::size_t n = std::min<std::uint64_t>(total_ - mark, mono_.size());
    return {mono_.end() - std::ptrdiff_t(n), mono_.end()};
}

std::uint64_t Probe::frames() {
    std::lock_guard lock(mutex_);
    return total_;
}

double Probe::pitch() {
    return pitchOf(since(0));
}

bool Probe::tone(double hz) {
    const std::uint64_t mark = frames();
    return within3s([&] { return std::abs(pitchOf(since(mark)) - hz) < hz * 0.03; });
}

bool Probe::quiet() {
    const std::uint64_t mark = frames();
    std::uint64_t before = mark;
    int still = 0;  // polls in a row with no output: the output is released
    return within3s([&] {
        const std::vector<float> heard = since(mark);
        still = frames() == before ? still + 1 : 0;
        before = frames();
        return still > 20 ||
               (heard.size() >= kWindow && rms({heard.end() - kWindow, heard.end()}) < kSilence);
    });
}

bool Probe::silentFor(int ms) {
    const std::uint64_t mark = frames();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return rms(since(mark)) < kSilence;
}

}  // namespace korvel::test
