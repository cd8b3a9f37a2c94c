#include "support/tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace korvel::test {

namespace {

// A Hann window keeps a strong tone's leakage from hiding where its peak is, and keeps it from
// showing up at the other pitches the tests listen for.
std::vector<double> hann(std::span<const float> samples, double& gain) {
    const std::size_t n = samples.size();
    std::vector<double> x(n);
    gain = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(n - 1));
        gain += w;
        x[i] = w * samples[i];
    }
    return x;
}

// The power of one frequency in a block (Goertzel's recurrence).
double powerAt(const std::vector<double>& x, double hz, int rate) {
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / rate);
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

}  // namespace

double rms(std::span<const float> samples) {
    if (samples.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (const float s : samples) {
        sum += static_cast<double>(s) * s;
    }
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

// Searches coarsely (half a frequency bin apart, so no tone falls between two candidates), then
// finely around the strongest candidate.
double strongestFrequency(std::span<const float> samples, int rate) {
    const std::size_t n = samples.size();
    if (n < 64) {
        return 0.0;
    }
    double gain = 0.0;
    const std::vector<double> x = hann(samples, gain);
    const double bin = static_cast<double>(rate) / static_cast<double>(n);
    double best = 0.0;
    double bestPower = -1.0;
    for (double hz = 40.0; hz <= 8000.0; hz += bin / 2.0) {
        const double power = powerAt(x, hz, rate);
        if (power > bestPower) {
            bestPower = power;
            best = hz;
        }
    }
    const double coarse = best;
    for (double hz = coarse - bin / 2.0; hz <= coarse + bin / 2.0; hz += bin / 40.0) {
        const double power = powerAt(x, hz, rate);
        if (power > bestPower) {
            bestPower = power;
            best = hz;
        }
    }
    return best;
}

double amplitudeAt(std::span<const float> samples, double hz, int rate) {
    if (samples.size() < 2) {
        return 0.0;
    }
    double gain = 0.0;
    const std::vector<double> x = hann(samples, gain);
    return 2.0 * std::sqrt(std::max(0.0, powerAt(x, hz, rate))) / gain;
}

}  // namespace korvel::test
