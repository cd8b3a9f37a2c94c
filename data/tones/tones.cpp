#include "data/tones/tones.h"

#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace korvel::tones {

void writeMp3(const std::string& path, std::size_t samples, int rate,
              const std::function<double(std::size_t)>& hz, bool vbr) {
    const std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(),
                                                                               lame_close);
    lame_set_num_channels(lame.get(), 1);
    lame_set_in_samplerate(lame.get(), rate);
    lame_set_bWriteVbrTag(lame.get(), 0);
    lame_set_VBR(lame.get(), vbr ? vbr_default : vbr_off);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                               fclose);
    if (lame_init_params(lame.get()) < 0 || !file) {
        throw std::runtime_error("cannot write " + path);
    }
    // Half of the loudest a sample can be: loud enough to be measured, never clipped.
    constexpr double kAmplitude = 16000;
    std::vector<short> pcm(samples);
    double phase = 0;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<short>(kAmplitude * std::sin(phase));
        phase += 2 * std::numbers::pi * hz(i) / rate;
    }
    // The size libmp3lame asks to be ready for: a quarter more than the samples, and a frame.
    std::vector<unsigned char> mp3(pcm.size() * 5 / 4 + 7200);
    int n = lame_encode_buffer(lame.get(), pcm.data(), pcm.data(), static_cast<int>(pcm.size()),
                               mp3.data(), static_cast<int>(mp3.size()));
    n += lame_encode_flush(lame.get(), mp3.data() + n, static_cast<int>(mp3.size()) - n);
    if (n < 0 || std::fwrite(mp3.data(), 1, static_cast<std::size_t>(n), file.get()) !=
                     static_cast<std::size_t>(n)) {
        throw std::runtime_error("cannot write " + path);
    }
}

void writeTone(const std::string& path, double hz, double seconds, int rate, bool vbr) {
    writeMp3(
        path, static_cast<std::size_t>(seconds * rate), rate, [hz](std::size_t) { return hz; },
        vbr);
}

}  // namespace korvel::tones
