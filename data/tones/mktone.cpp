// Writes the sample tones of the folder `make run` opens; the names hold blanks, as real music
// files do.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "data/tones/tones.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    try {
        std::filesystem::create_directories(argv[1]);
        const std::string dir = argv[1];
        korvel::tones::writeTone(dir + "/01 A4 440 Hz.mp3", 440.0, 5.0);
        korvel::tones::writeTone(dir + "/02 E5 660 Hz.mp3", 660.0, 5.0);
        korvel::tones::writeTone(dir + "/03 A5 880 Hz.mp3", 880.0, 5.0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvel-mktone: %s\n", e.what());
        return 1;
    }
    return 0;
}
