// Real-world MP3 data that nobody in this project wrote (compliance streams, damaged and fuzzed
// files, odd tags): every file either plays or is refused with an error code, without a crash,
// a hang, a leak or a word on stderr.
#include "platform/mci.h"

#include "platform/shortpath.h"
#include "support/audio_probe.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace mci = platform::mci;

// Every file under the corpus folder, relative to it and sorted, so that each names its case.
std::vector<std::string> corpus() {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(KORVEL_CORPUS_DIR, ec)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().lexically_relative(KORVEL_CORPUS_DIR).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

MCIERROR send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, 0);
}

// Opens, plays a little and closes one file; the result of the open.
MCIERROR openPlayClose(const std::string& path, korvel::test::AudioProbe* probe) {
    const MCIERROR opened =
        send("open " + platform::encodeShortPath(path) + " type mpegvideo alias corpus");
    if (opened != mci::kNoError) {
        return opened;
    }
    EXPECT_EQ(send("play corpus"), mci::kNoError);
    if (probe != nullptr) {
        // A tenth of a second of output, however long the machine takes for it.
        EXPECT_TRUE(probe->waitForFrames(probe->framesSeen(), mci::kOutputRate / 10, 5s));
        // A very short file may be at its end already, and then both are refused alike.
        const MCIERROR paused = send("pause corpus");
        EXPECT_TRUE(paused == mci::kNoError || paused == mci::kNonapplicableFunction) << paused;
        EXPECT_EQ(send("resume corpus"), paused);
    } else {
        // Long enough for the mixer to decode some of the file.
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(send("stop corpus"), mci::kNoError);
    EXPECT_EQ(send("close corpus"), mci::kNoError);
    return opened;
}

class CorpusFileTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusFileTest, PlaysOrIsRefusedQuietly) {
    korvel::test::TempDir dir;
    const std::string copy = dir / "corpus file.mp3";
    ASSERT_TRUE(fs::copy_file(fs::path(KORVEL_CORPUS_DIR) / GetParam(), copy));
    korvel::test::AudioProbe probe;
    // Captured on the descriptor, so that what the C libraries write is seen too.
    testing::internal::CaptureStderr();
    const MCIERROR opened = openPlayClose(copy, &probe);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "nothing is printed";
    EXPECT_TRUE(opened == mci::kNoError || opened == mci::kInvalidFile) << opened;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusFileTest, ::testing::ValuesIn(corpus()));

long residentKilobytes() {
    long size = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::ptrdiff_t entries(const char* folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

// Every cycle loads a decoder (about 75 kB for a playable file) and opens and releases the sound
// output. After a warm-up pass, two more passes over the corpus grow the resident memory by a
// few kilobytes at most; 1 MB is far below what leaking even part of a decoder per cycle adds.
TEST(CorpusLeakTest, RepeatedOpenPlayCloseLeaksNothing) {
    korvel::test::TempDir dir;
    std::vector<std::string> copies;
    for (const std::string& file : corpus()) {
        copies.push_back(dir / (std::to_string(copies.size()) + ".mp3"));
        fs::copy_file(fs::path(KORVEL_CORPUS_DIR) / file, copies.back());
    }
    ASSERT_GE(copies.size(), 100u) << "the corpus is missing: " << KORVEL_CORPUS_DIR;

    int played = 0;
    auto pass = [&] {
        for (const std::string& copy : copies) {
            played += openPlayClose(copy, nullptr) == mci::kNoError ? 1 : 0;
        }
    };
    const std::ptrdiff_t descriptors = entries("/proc/self/fd");
    const std::ptrdiff_t threads = entries("/proc/self/task");
    pass();
    ASSERT_GT(played, 50) << "most of the corpus plays";
    malloc_trim(0);
    const long warm = residentKilobytes();
    pass();
    pass();
    malloc_trim(0);
    EXPECT_LT(residentKilobytes() - warm, 1024) << "kB grown over two passes";
    EXPECT_EQ(entries("/proc/self/fd"), descriptors) << "every file is closed again";
    EXPECT_EQ(entries("/proc/self/task"), threads) << "the audio thread ends with the output";
}

}  // namespace
