#include "platform/mci.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/shortpath.h"
#include "support/support.h"

namespace korvel::test {
namespace {

namespace mci = platform::mci;

std::string openCommand(const std::string& path, const std::string& alias = "tone") {
    return "open " + platform::encodeShortPath(path) + " type mpegvideo alias " + alias;
}

class MciTest : public testing::Test {
  protected:
    void SetUp() override {
        writeTone(dir / "low.mp3", kLow);
        // A name that only its short form can carry through a command.
        writeTone(high, kHigh);
    }
    void TearDown() override {
        EXPECT_EQ(send("close all"), mci::kNoError);
        EXPECT_FALSE(mci::anyDeviceOpen());
    }
    TempDir dir;
    const std::string high = dir / "Ä 100% \"q\" \\ type mpegvideo alias x.mp3";
    Probe probe;
};

// One device through every state, in any case and spacing: each result and what is heard.
TEST_F(MciTest, EachCommandInEachState) {
    const std::vector<std::tuple<std::string, MCIERROR, bool>> steps = {
        {"pause tone", mci::kNonapplicableFunction, false},
        {"resume tone", mci::kNonapplicableFunction, false},
        {"PLAY tone", mci::kNoError, true},
        {"Pause TONE", mci::kNoError, false},
        {"RESUME tOnE", mci::kNoError, true},
        {"  stop \t tone ", mci::kNoError, false},
        {"resume tone", mci::kNonapplicableFunction, false},
        {"SET Tone AUDIO ALL OFF", mci::kNoError, false},
        {"\tplay  tone", mci::kNoError, false},
        {"set tone audio all on", mci::kNoError, true},
        {"close tone", mci::kNoError, false},
        {"play tone", mci::kInvalidDeviceName, false},
    };
    ASSERT_EQ(send("  OPEN " + platform::encodeShortPath(dir / "low.mp3") +
                   "\tTYPE MpegVideo ALIAS Tone"),
              mci::kNoError);
    EXPECT_TRUE(probe.quiet()) << "an opened device is stopped";
    for (const auto& [command, result, heard] : steps) {
        SCOPED_TRACE(command);
        EXPECT_EQ(send(command), result);
        EXPECT_TRUE(heard ? probe.tone(kLow) : probe.quiet());
    }
    // The clauses may come in either order, and a new device is not muted by an old one.
    ASSERT_EQ(send("open " + platform::encodeShortPath(high) + " alias x type mpegvideo"), 0u);
    ASSERT_EQ(send("play x"), mci::kNoError);
    EXPECT_TRUE(probe.tone(kHigh));
}

// With a device playing, a wrong command returns its error and the same tone goes on.
TEST_F(MciTest, MalformedCommandsChangeNothing) {
    const std::string other = "open " + platform::encodeShortPath(high);
    const std::vector<std::tuple<std::string, MCIERROR>> rows = {
        {"", mci::kUnrecognizedCommand},
        {"open type mpegvideo alias other", mci::kMissingDeviceName},
        {other + " type mpegvideo", mci::kMissingDeviceName},
        {other + " type waveaudio alias other", mci::kInvalidDeviceName},
        {other + " type mpegvideo alias", mci::kUnrecognizedKeyword},
        {other + " type mpegvideo alias TONE", mci::kDuplicateAlias},
        {other + " type mpegvideo alias other", mci::kMustUseShareable},
        {"stop all", mci::kInvalidDeviceName},
        {"play tone\nstop tone", mci::kInvalidDeviceName},
        {"set tone audio all maybe", mci::kUnrecognizedKeyword},
    };
    ASSERT_EQ(send(openCommand(dir / "low.mp3")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    for (const auto& [command, result] : rows) {
        SCOPED_TRACE("\"" + command + "\"");
        EXPECT_EQ(send(command), result);
        EXPECT_TRUE(probe.tone(kLow)) << "the same tone goes on";
    }
}

// A refused open leaves nothing open and never blocks, whatever the name stands for.
TEST_F(MciTest, RefusedOpensLeaveNothingOpen) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);  // before the first open brings up the output
    EXPECT_EQ(send(openCommand(dir / "low.mp3")), mci::kHardware) << "no sound output: refused";
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_FALSE(mci::anyDeviceOpen());
    std::ofstream(dir / "text.mp3") << "This is not MPEG audio, whatever its name says.\n";
    std::filesystem::create_directory(dir / "dir.mp3");
    ASSERT_EQ(mkfifo((dir / "fifo.mp3").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.mp3");
    const std::vector<std::tuple<std::string, MCIERROR>> rows = {
        {openCommand(dir / "text.mp3"), mci::kInvalidFile},
        {openCommand(dir / "dir.mp3"), mci::kInvalidFile},
        {openCommand(dir / "fifo.mp3"), mci::kInvalidFile},
        {openCommand(dir / "zero.mp3"), mci::kInvalidFile},
        {openCommand(dir / "missing.mp3"), mci::kFileNotFound},
        {"open /a%zz type mpegvideo alias tone", mci::kFileNotFound},
    };
    for (const auto& [command, result] : rows) {
        SCOPED_TRACE(command);
        EXPECT_EQ(send(command), result);
        EXPECT_FALSE(mci::anyDeviceOpen());
    }
    EXPECT_EQ(send(openCommand(dir / "low.mp3")), mci::kNoError) << "nothing stands in the way";
}

}  // namespace
}  // namespace korvel::test
