#pragma once

#include <span>

namespace korvel::test {

// Pure analysis of sound, whether tapped from the mixer or recorded from a sound server (mono, full
// scale 1): how loud it is and which pitch it holds.

// Root mean square; 0 for no samples.
double rms(std::span<const float> samples);

// The strongest frequency between 40 Hz and 8 kHz, found to a fraction of a frequency bin; 0
// when there are too few samples to tell.
double strongestFrequency(std::span<const float> samples, int rate);

// The amplitude (peak, full scale 1) of the sine of frequency `hz` in the samples.
double amplitudeAt(std::span<const float> samples, double hz, int rate);

}  // namespace korvel::test
