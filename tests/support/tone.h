#pragma once

#include <string>

namespace korvel::test {

// Writes an MP3 (MPEG-1 layer 3, stereo, 44.1 kHz) holding a sine tone of `hz` for `seconds`.
// Throws std::runtime_error when the file cannot be written, so a missing fixture fails loudly.
void writeToneMp3(const std::string& path, double hz, double seconds);

}  // namespace korvel::test
