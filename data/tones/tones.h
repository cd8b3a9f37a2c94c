#pragma once

#include <cstddef>
#include <functional>
#include <string>

// MP3 files of sine tones, which the sample folder of `make run` and the tests' fixtures are made
// of: made here, by libmp3lame, so that no MP3 file of anyone else's is needed.
namespace korvel::tones {

// Writes `samples` mono samples at `rate`, the pitch at sample i being `hz(i)` (the phase runs on
// across changes, so a change of pitch makes no click), at a constant bit rate or (`vbr`) a
// variable one with no header that would give the length. Throws std::runtime_error when it
// cannot.
void writeMp3(const std::string& path, std::size_t samples, int rate,
              const std::function<double(std::size_t)>& hz, bool vbr = false);

// A tone of `hz` for `seconds`.
void writeTone(const std::string& path, double hz, double seconds = 6.0, int rate = 44100,
               bool vbr = false);

}  // namespace korvel::tones
