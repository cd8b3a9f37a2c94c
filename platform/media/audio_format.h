#pragma once

#include <cstddef>
#include <cstdint>

// The one format every file is decoded to and every output plays: interleaved signed 16-bit
// samples, stereo, at 44.1 kHz. The decoder resamples and spreads mono to both sides, so each
// file plays at its own pitch whatever rate and channel count it has.
namespace platform::media {

using Sample = std::int16_t;

inline constexpr int kRate = 44100;
inline constexpr int kChannels = 2;
inline constexpr std::size_t kFrameBytes = sizeof(Sample) * kChannels;

inline constexpr std::int64_t framesToUs(std::int64_t frames) {
    return frames * 1000000 / kRate;
}

inline constexpr std::size_t framesIn(double seconds) {
    return static_cast<std::size_t>(seconds * kRate);
}

}  // namespace platform::media
