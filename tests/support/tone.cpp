#include "support/tone.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace korvel::test {

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr double kAmplitude = 0.5;
// Long enough that the start and the end of a tone do not click, short enough not to matter.
constexpr double kFadeSeconds = 0.01;
constexpr int kBlockFrames = 4096;

void quiet(const char* /*format*/, va_list /*args*/) {}

struct LameCloser {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::int16_t sampleAt(std::int64_t frame, std::int64_t frames, double hz) {
    const double t = static_cast<double>(frame) / kRate;
    const auto fadeFrames = static_cast<double>(kFadeSeconds * kRate);
    const double fromEdge = static_cast<double>(std::min(frame, frames - 1 - frame));
    double gain = 1.0;
    if (fromEdge < fadeFrames) {
        gain = 0.5 - 0.5 * std::cos(std::numbers::pi * fromEdge / fadeFrames);
    }
    const double value = kAmplitude * gain * std::sin(2.0 * std::numbers::pi * hz * t);
    return static_cast<std::int16_t>(std::lround(value * 32767.0));
}

}  // namespace

void writeToneMp3(const std::string& path, double hz, double seconds) {
    if (!(hz > 0.0) || !(seconds > 0.0)) {
        throw std::runtime_error("a tone needs a positive pitch and length");
    }
    std::unique_ptr<lame_global_flags, LameCloser> lame(lame_init());
    if (!lame) {
        throw std::runtime_error("cannot start the MP3 encoder");
    }
    lame_global_flags* gf = lame.get();
    lame_set_errorf(gf, quiet);
    lame_set_debugf(gf, quiet);
    lame_set_msgf(gf, quiet);
    lame_set_num_channels(gf, kChannels);
    lame_set_in_samplerate(gf, kRate);
    lame_set_out_samplerate(gf, kRate);
    lame_set_mode(gf, JOINT_STEREO);
    lame_set_brate(gf, 128);
    lame_set_quality(gf, 5);
    lame_set_write_id3tag_automatic(gf, 0);
    if (lame_init_params(gf) < 0) {
        throw std::runtime_error("cannot set up the MP3 encoder");
    }

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    auto put = [&](const unsigned char* data, std::size_t size) {
        if (size != 0 && std::fwrite(data, 1, size, file.get()) != size) {
            throw std::runtime_error("cannot write " + path);
        }
    };

    const auto frames = static_cast<std::int64_t>(std::llround(seconds * kRate));
    std::vector<short> pcm(static_cast<std::size_t>(kBlockFrames) * kChannels);
    std::vector<unsigned char> mp3(static_cast<std::size_t>(kBlockFrames) * 5 / 4 + 7200);
    for (std::int64_t start = 0; start < frames; start += kBlockFrames) {
        const int count = static_cast<int>(std::min<std::int64_t>(kBlockFrames, frames - start));
        for (int i = 0; i < count; ++i) {
            const std::int16_t s = sampleAt(start + i, frames, hz);
            pcm[static_cast<std::size_t>(i) * 2] = s;
            pcm[static_cast<std::size_t>(i) * 2 + 1] = s;
        }
        const int written = lame_encode_buffer_interleaved(gf, pcm.data(), count, mp3.data(),
                                                           static_cast<int>(mp3.size()));
        if (written < 0) {
            throw std::runtime_error("the MP3 encoder failed");
        }
        put(mp3.data(), static_cast<std::size_t>(written));
    }
    const int flushed = lame_encode_flush(gf, mp3.data(), static_cast<int>(mp3.size()));
    if (flushed < 0) {
        throw std::runtime_error("the MP3 encoder failed");
    }
    put(mp3.data(), static_cast<std::size_t>(flushed));

    // The first frame was kept free for the tag that tells decoders the exact length (without
    // the encoder's delay and padding); it can only be written now that the length is known.
    const std::size_t tagSize = lame_get_lametag_frame(gf, mp3.data(), mp3.size());
    if (tagSize > 0) {
        if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
            throw std::runtime_error("cannot write " + path);
        }
        put(mp3.data(), tagSize);
    }
    if (std::fclose(file.release()) != 0) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace korvel::test
