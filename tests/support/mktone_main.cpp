// Writes the sample tones that a new user finds in the folder `make run` opens: a few seconds
// each, of pitches far enough apart to tell by ear which one is playing. The names hold blanks
// on purpose, as real music files do.
#include "support/tone.h"

#include <cstdio>
#include <exception>
#include <filesystem>

namespace {

struct Sample {
    const char* name;
    double hz;
};

constexpr Sample kSamples[] = {
    {"01 A4 440 Hz.mp3", 440.0},
    {"02 E5 660 Hz.mp3", 660.0},
    {"03 A5 880 Hz.mp3", 880.0},
};
constexpr double kSeconds = 5.0;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvel-mktone OUTDIR\n");
        return 2;
    }
    try {
        const std::filesystem::path dir(argv[1]);
        std::filesystem::create_directories(dir);
        for (const Sample& sample : kSamples) {
            korvel::test::writeToneMp3((dir / sample.name).string(), sample.hz, kSeconds);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvel-mktone: %s\n", e.what());
        return 1;
    }
    return 0;
}
