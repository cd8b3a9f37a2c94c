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
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using korvel::test::AudioProbe;
using korvel::test::TempDir;
namespace fs = std::filesystem;
namespace mci = platform::mci;

struct CorpusFile {
    std::string path;
    std::string relative;  // to the corpus folder: what names the case
};

// Test runners show this after the case's name, so a failure names the file.
void PrintTo(const CorpusFile& file, std::ostream* out) {
    *out << file.relative;
}

std::vector<CorpusFile> corpusFiles() {
    std::vector<CorpusFile> files;
    std::error_code ec;
    const fs::path root(KORVEL_CORPUS_DIR);
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) {
            files.push_back({it->path().string(), it->path().lexically_relative(root).string()});
        }
    }
    std::sort(files.begin(), files.end(),
              [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
    return files;
}

const std::vector<CorpusFile>& corpus() {
    static const std::vector<CorpusFile> files = corpusFiles();
    return files;
}

MCIERROR send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, 0);
}

// Sends what the libraries would write to stderr into a file for the time it lives.
class StderrCapture {
  public:
    StderrCapture() {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        file_ = std::tmpfile();
        if (saved_ >= 0 && file_ != nullptr) {
            dup2(fileno(file_), STDERR_FILENO);
        }
    }
    ~StderrCapture() {
        restore();
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    bool valid() const { return saved_ >= 0 && file_ != nullptr; }

    // Everything written while it lived; stderr is its own again afterwards.
    std::string text() {
        restore();
        std::string out;
        if (file_ != nullptr) {
            std::rewind(file_);
            char buffer[4096];
            std::size_t got = 0;
            while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
                out.append(buffer, got);
            }
        }
        return out;
    }

  private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }

    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

// Opens, plays a little and closes one file; the result of the open.
MCIERROR openPlayClose(const std::string& path, AudioProbe* probe) {
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
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(send("stop corpus"), mci::kNoError);
    EXPECT_EQ(send("close corpus"), mci::kNoError);
    return opened;
}

TEST(CorpusTest, TheCorpusIsThere) {
    // The corpus has well over a hundred files; an empty or missing one must not pass quietly.
    EXPECT_GE(corpus().size(), 100u) << KORVEL_CORPUS_DIR;
}

class CorpusFileTest : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(CorpusFileTest, PlaysOrIsRefusedQuietly) {
    TempDir dir;
    const std::string copy = dir / "corpus file.mp3";
    fs::copy_file(GetParam().path, copy);
    ASSERT_TRUE(fs::is_regular_file(copy));

    AudioProbe probe;
    StderrCapture capture;
    ASSERT_TRUE(capture.valid());
    const MCIERROR opened = openPlayClose(copy, &probe);
    const std::string chatter = capture.text();

    EXPECT_TRUE(opened == mci::kNoError || opened == mci::kInvalidFile) << opened;
    EXPECT_FALSE(mci::anyDeviceOpen());
    EXPECT_EQ(chatter, "") << "nothing is printed";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusFileTest, ::testing::ValuesIn(corpus()));

// --- Leaks ----------------------------------------------------------------------------------

long residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

long threads() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stol(line.substr(8));
        }
    }
    return -1;
}

// Every cycle loads a decoder (about 75 kB of memory for a playable file) and opens and
// releases the sound output. After a warm-up pass, two more passes over the corpus (some 140
// plays and 100 refusals) grow the resident memory by a few kilobytes at most; a bound of 1 MB
// is far above that and far below what leaking even a small part of a decoder per cycle adds.
TEST(CorpusLeakTest, RepeatedOpenPlayCloseDoesNotGrowMemory) {
    TempDir dir;
    std::vector<std::string> copies;
    for (std::size_t i = 0; i < corpus().size(); ++i) {
        copies.push_back(dir / (std::to_string(i) + ".mp3"));
        fs::copy_file(corpus()[i].path, copies.back());
    }
    ASSERT_GE(copies.size(), 100u);

    int played = 0;
    auto pass = [&] {
        for (const std::string& copy : copies) {
            played += openPlayClose(copy, nullptr) == mci::kNoError ? 1 : 0;
        }
        ASSERT_FALSE(mci::anyDeviceOpen());
    };

    const std::size_t descriptorsBefore = openDescriptors();
    const long threadsBefore = threads();
    pass();
    ASSERT_GT(played, 50) << "most of the corpus plays";
    malloc_trim(0);
    const long warm = residentKilobytes();
    pass();
    pass();
    malloc_trim(0);
    const long after = residentKilobytes();

    RecordProperty("resident_kB_after_warm_up", static_cast<int>(warm));
    RecordProperty("resident_kB_after_two_passes", static_cast<int>(after));
    EXPECT_LT(after - warm, 1024) << "kB grown over two passes: " << after - warm;
    EXPECT_EQ(openDescriptors(), descriptorsBefore) << "every file is closed again";
    EXPECT_EQ(threads(), threadsBefore) << "the audio thread ends with the output";
}

}  // namespace
