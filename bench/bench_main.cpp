// What a user waits for: a directory of many files listed and sorted, a file name turned into its
// short form, and a file opened and started.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/fs.h"
#include "platform/ini.h"
#include "platform/mci.h"
#include "platform/shortpath.h"
#include "platform/text.h"
#include "support/support.h"

namespace {

using korvel::test::TempDir;

void touch(const std::string& path) {
    std::ofstream(path).put('x');
}

// A large music folder: the file list must fill at once.
void BM_ListAndSortMusicFolder(benchmark::State& state) {
    TempDir dir;
    const int files = static_cast<int>(state.range(0));
    for (int i = 0; i < files; ++i) {
        touch(dir / ("Track " + std::to_string(i) + (i % 3 == 0 ? ".MP3" : ".mp3")));
        if (i % 4 == 0)
            touch(dir / ("cover " + std::to_string(i) + ".jpg"));
    }
    for (auto _ : state) {
        std::vector<QString> names;
        for (const std::string& name :
             platform::fs::list(dir.path(), platform::fs::Pattern("*.mp3")).files) {
            names.push_back(platform::fromAnsi(name));
        }
        platform::fs::sortNaturally(names);
        benchmark::DoNotOptimize(names.data());
    }
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_ListAndSortMusicFolder)->Arg(100)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_ShortPathOfAWindowsFormPath(benchmark::State& state) {
    TempDir dir;
    touch(dir / "Some Artist - 100% \"Live\" alias type.mp3");
    const std::string path = dir.path() + "\\Some Artist - 100% \"Live\" alias type.mp3";
    char buffer[1024];
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetShortPathNameA(path.c_str(), buffer, sizeof buffer));
    }
}
BENCHMARK(BM_ShortPathOfAWindowsFormPath);

void BM_ReadRememberedDirectory(benchmark::State& state) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    std::ofstream(file) << "; settings\n[other]\na=1\n[korvel]\npath=/home/user/Music/Albums\n";
    char buffer[255];
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            GetPrivateProfileStringA("korvel", "path", "", buffer, sizeof buffer, file.c_str()));
    }
}
BENCHMARK(BM_ReadRememberedDirectory);

// From the double click to the sound starting: stop, close, open, play.
void BM_OpenAndPlayATone(benchmark::State& state) {
    korvel::test::startSoundServer();
    TempDir dir;
    korvel::test::writeTone(dir / "tone.mp3", 440, 5);
    const std::string open =
        "open " + platform::encodeShortPath(dir / "tone.mp3") + " type mpegvideo alias tivoran";
    for (auto _ : state) {
        mciSendStringA("stop tivoran", nullptr, 0, 0);
        mciSendStringA("close tivoran", nullptr, 0, 0);
        if (mciSendStringA(open.c_str(), nullptr, 0, 0) != 0) {
            state.SkipWithError("the tone did not open");
            break;
        }
        mciSendStringA("play tivoran", nullptr, 0, 0);
    }
    mciSendStringA("close all", nullptr, 0, 0);
}
BENCHMARK(BM_OpenAndPlayATone)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
