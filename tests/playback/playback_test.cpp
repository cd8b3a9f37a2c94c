#include <gtest/gtest.h>

#include <filesystem>

#include "platform/mci.h"
#include "playback/tivoran_playback.h"
#include "support/audio_probe.h"
#include "support/command_log.h"
#include "support/temp_dir.h"
#include "support/tone.h"

namespace korvel::test {
namespace {

using Commands = std::vector<std::string>;
using namespace std::chrono_literals;

class PlaybackTest : public testing::Test {
  protected:
    void TearDown() override { mciSendStringA("close all", nullptr, 0, 0); }
    CommandLog log;
};

struct FlagCase {
    Tivoran::Flag flag;
    Commands mute;
    Commands pause;
};

// Only exactly -1 and exactly 0 mean anything; every other value sends nothing.
TEST_F(PlaybackTest, FlagsAreTestedForExactlyMinusOneThenZero) {
    const std::vector<FlagCase> rows = {
        {-1, {"set tivoran audio all off"}, {"pause tivoran"}},
        {0, {"set tivoran audio all on"}, {"resume tivoran"}},
        {1, {}, {}},
        {-2, {}, {}},
        {32767, {}, {}},
    };
    for (const FlagCase& row : rows) {
        SCOPED_TRACE(row.flag);
        log.clear();
        Tivoran::MciSetMute(row.flag);
        EXPECT_EQ(log.commands(), row.mute);
        log.clear();
        Tivoran::MciSetPause(row.flag);
        EXPECT_EQ(log.commands(), row.pause);
    }
}

TEST_F(PlaybackTest, StopAllStopsTheAliasThenClosesEverything) {
    Tivoran::MciStopAll();
    EXPECT_EQ(log.commands(), (Commands{"stop tivoran", "close all"}));
}

TEST_F(PlaybackTest, AMissingFileStopsWhatPlayedAndOpensNothing) {
    TempDir dir;
    writeToneMp3(dir / "tone.mp3", 440, 5);
    AudioProbe probe;
    Tivoran::MciPlayFile(QString::fromStdString(dir / "tone.mp3"));
    ASSERT_TRUE(probe.waitForTone(440, 3000ms));
    log.clear();
    Tivoran::MciPlayFile(QString::fromStdString(dir / "gone.mp3"));
    EXPECT_EQ(log.commands(), (Commands{"stop tivoran", "close tivoran",
                                        "open  type mpegvideo alias tivoran", "play tivoran"}));
    EXPECT_NE(log.results()[2], 0u);
    EXPECT_FALSE(platform::mci::anyDeviceOpen());
}

// The short form of a deep path does not fit the first buffer; it must still play.
TEST_F(PlaybackTest, APathWhoseShortFormIsLongerThanTheBufferPlays) {
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300) deep += "/a folder with blanks";
    std::filesystem::create_directories(deep);
    writeToneMp3(deep + "/tone.mp3", 660, 5);
    AudioProbe probe;
    Tivoran::MciPlayFile(QString::fromStdString(deep + "\\tone.mp3"));
    ASSERT_EQ(log.commands().size(), 4u);
    EXPECT_GT(log.commands()[2].size(), 300u);
    EXPECT_EQ(log.results()[2], 0u) << log.commands()[2];
    EXPECT_TRUE(probe.waitForTone(660, 3000ms));
}

TEST_F(PlaybackTest, AFileStartedMutedIsSilencedBeforeItPlays) {
    TempDir dir;
    writeToneMp3(dir / "tone.mp3", 440, 5);
    AudioProbe probe;
    Tivoran::MciPlayFile(QString::fromStdString(dir / "tone.mp3"), true);
    ASSERT_EQ(log.commands().size(), 5u);
    EXPECT_EQ(log.commands()[3], "set tivoran audio all off");
    EXPECT_EQ(log.commands()[4], "play tivoran");
    EXPECT_FALSE(probe.heardSoundWithin(500ms));
}

}  // namespace
}  // namespace korvel::test
