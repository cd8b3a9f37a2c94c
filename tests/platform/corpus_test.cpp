// Real-world MP3 data that nobody in this project wrote: every file plays or is refused with an
// error code, without a crash, a hang, a descriptor or thread left behind, or a word on stderr.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/mci.h"
#include "platform/shortpath.h"
#include "support/support.h"

namespace korvel::test {
namespace {

namespace fs = std::filesystem;

// Opens, plays a little of and closes one file; the result of the open.
MCIERROR openPlayClose(const std::string& path) {
    const MCIERROR opened = send("open " + platform::encodeShortPath(path) + " type mpegvideo alias corpus");
    if (opened == 0) {
        EXPECT_EQ(send("play corpus"), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        // At its end, both refuse: it is stopped.
        const MCIERROR paused = send("pause corpus");
        EXPECT_TRUE(paused == 0 || paused == platform::mci::kNonapplicableFunction) << paused;
        EXPECT_EQ(send("resume corpus"), paused);
        EXPECT_EQ(send("close corpus"), 0u);
    }
    return opened;
}

TEST(Corpus, EveryFilePlaysOrIsRefusedQuietlyAndNothingLeaks) {
    TempDir dir;
    std::vector<std::string> copies;
    for (const auto& entry : fs::directory_iterator(KORVEL_TEST_CORPUS)) {
        copies.push_back(dir / (entry.path().filename().string() + " copy.mp3"));
        ASSERT_TRUE(fs::copy_file(entry.path(), copies.back()));
    }
    ASSERT_GE(copies.size(), 20u);
    int played = 0;
    testing::internal::CaptureStderr();  // on the descriptor, so the C libraries are heard too
    for (const std::string& copy : copies) {
        const MCIERROR opened = openPlayClose(copy);
        EXPECT_TRUE(opened == 0 || opened == platform::mci::kInvalidFile) << copy << ": " << opened;
        played += opened == 0;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_GE(played, 5);

    // Memory is measured by the soak run; what must not grow at all is counted here.
    const long descriptors = entriesIn("/proc/self/fd"), threads = entriesIn("/proc/self/task");
    for (const std::string& copy : copies) openPlayClose(copy);
    // A device's threads end on their own once closed, soon after.
    for (int i = 0; i < 300 && entriesIn("/proc/self/task") != threads; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(entriesIn("/proc/self/fd"), descriptors) << "every file is closed again";
    EXPECT_EQ(entriesIn("/proc/self/task"), threads) << "a device's threads end with it";
}

}  // namespace
}  // namespace korvel::test
