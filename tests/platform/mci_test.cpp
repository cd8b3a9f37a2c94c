#include "platform/mci.h"

#include "platform/shortpath.h"
#include "support/audio_probe.h"
#include "support/temp_dir.h"
#include "support/tone.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace mci = platform::mci;

constexpr double kLowHz = 440.0;
constexpr double kHighHz = 880.0;
// How far a measured length of sound may be off: the fades at both ends, the 10 ms blocks the
// probe judges and the moment between a test seeing a mark and sending its next command.
constexpr double kSlackSeconds = 0.3;
constexpr auto kHearing = 3s;

MCIERROR send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, 0);
}

std::string openCommand(const std::string& path, const std::string& alias) {
    return "open " + platform::encodeShortPath(path) + " type mpegvideo alias " + alias;
}

// Sends a command that must return at once; if it blocks instead, the process ends naming it,
// so that a hang fails by name instead of stalling the whole run.
MCIERROR sendWithWatchdog(const std::string& command) {
    std::future<MCIERROR> result = std::async(std::launch::async, send, command);
    if (result.wait_for(20s) == std::future_status::timeout) {
        std::fprintf(stderr, "FAILED: %s blocked\n", command.c_str());
        std::_Exit(1);
    }
    return result.get();
}

class MciTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<korvel::test::TempDir>();
        korvel::test::writeToneMp3(low(), kLowHz, 20.0);
        korvel::test::writeToneMp3(high(), kHighHz, 20.0);
        korvel::test::writeToneMp3(measured(), kLowHz, 3.0);
    }

    void SetUp() override {
        for (const std::string& path : {low(), high(), measured()}) {
            ASSERT_TRUE(fs::is_regular_file(path)) << path;
        }
        ASSERT_FALSE(mci::anyDeviceOpen());
    }
    void TearDown() override {
        EXPECT_EQ(send("close all"), mci::kNoError);
        EXPECT_FALSE(mci::anyDeviceOpen());
    }

    static std::string in(const std::string& name) { return *dir_ / name; }
    static std::string low() { return in("low.mp3"); }
    // A name that only its short form can carry through the command.
    static std::string high() { return in("01 Ä 100% \"quoted\" \\ type mpegvideo alias x.mp3"); }
    static std::string measured() { return in("three seconds.mp3"); }

    // True when output goes on (the sound output is open) and all of it is silent.
    bool silent() { return probe_.waitForSilence(kHearing); }

    // True when no output goes out at all: the sound output is released.
    bool released() {
        const std::uint64_t before = probe_.framesSeen();
        std::this_thread::sleep_for(250ms);
        return probe_.framesSeen() == before;
    }

    // Seconds of sound heard since `mark` (a soundFramesSeen() value).
    double soundSince(std::uint64_t mark) {
        return static_cast<double>(probe_.soundFramesSeen() - mark) / mci::kOutputRate;
    }
    bool waitForSoundSince(std::uint64_t mark, double seconds) {
        for (int i = 0; i < 2000 && soundSince(mark) < seconds; ++i) {
            std::this_thread::sleep_for(5ms);
        }
        return soundSince(mark) >= seconds;
    }

    korvel::test::AudioProbe probe_;
    static inline std::unique_ptr<korvel::test::TempDir> dir_;
};

// One device through every state, in any case of keywords and alias and with any blanks between
// the words: what each command returns and whether the tone is heard after it.
TEST_F(MciTest, EachCommandInEachState) {
    const std::vector<std::tuple<std::string, MCIERROR, bool>> steps = {
        {"pause tone", mci::kNonapplicableFunction, false},
        {"resume tone", mci::kNonapplicableFunction, false},
        {"PLAY tone", mci::kNoError, true},
        {"Pause TONE", mci::kNoError, false},
        {"RESUME tOnE", mci::kNoError, true},
        {"pause tone", mci::kNoError, false},
        {"  stop \t\t tone   ", mci::kNoError, false},
        {"resume tone", mci::kNonapplicableFunction, false},
        {"SET Tone AUDIO ALL OFF", mci::kNoError, false},
        {"\tplay  tone\t", mci::kNoError, false},
        {"set tone Audio All On", mci::kNoError, true},
        {"stop tone", mci::kNoError, false},
    };
    ASSERT_EQ(send("  OPEN   " + platform::encodeShortPath(low()) + "\tTYPE MpegVideo ALIAS Tone "),
              mci::kNoError);
    EXPECT_TRUE(silent()) << "an opened device is stopped";
    for (const auto& [command, result, tone] : steps) {
        SCOPED_TRACE(command);
        EXPECT_EQ(send(command), result);
        EXPECT_TRUE(tone ? probe_.waitForTone(kLowHz, kHearing) : silent());
    }
    EXPECT_EQ(send("CLOSE ALL"), mci::kNoError);
    EXPECT_TRUE(released()) << "the sound output is released with the device";
    EXPECT_EQ(send("play tone"), mci::kInvalidDeviceName);
}

// How much of a three-second file is heard, counted in output frames so that a slow machine
// does not change the answer.
TEST_F(MciTest, PauseKeepsThePositionStopStartsAgainAndMutedPlaybackGoesOn) {
    std::uint64_t start = probe_.soundFramesSeen();
    ASSERT_EQ(send(openCommand(measured(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 1.0));
    ASSERT_EQ(send("pause tone"), mci::kNoError);
    ASSERT_TRUE(silent());
    ASSERT_EQ(send("resume tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 1.5));
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_EQ(send("resume tone"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForSilence(10s)) << "the file plays to its end";
    EXPECT_NEAR(soundSince(start), 3.0, kSlackSeconds) << "the file is heard once through";
    EXPECT_EQ(send("pause tone"), mci::kNonapplicableFunction) << "played to its end, it stops";

    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 4.0));
    ASSERT_EQ(send("stop tone"), mci::kNoError);
    ASSERT_TRUE(silent());
    start = probe_.soundFramesSeen();
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 0.5));
    ASSERT_EQ(send("set tone audio all off"), mci::kNoError);
    const std::uint64_t offAt = probe_.framesSeen();
    ASSERT_TRUE(silent());
    ASSERT_TRUE(probe_.waitForFrames(offAt, mci::kOutputRate, kHearing));
    ASSERT_EQ(send("set tone audio all on"), mci::kNoError);
    const double offSeconds = static_cast<double>(probe_.framesSeen() - offAt) / mci::kOutputRate;
    ASSERT_TRUE(probe_.waitForTone(kLowHz, kHearing));
    ASSERT_TRUE(probe_.waitForSilence(10s)) << "the file plays to its end";
    EXPECT_NEAR(soundSince(start), 3.0 - offSeconds, kSlackSeconds)
        << "after stop the whole file plays again, and the muted part of it goes by unheard";
}

TEST_F(MciTest, ANewDeviceAfterAMutedOneSoundsItsOwnTone) {
    ASSERT_EQ(send(openCommand(low(), "first")), mci::kNoError);
    ASSERT_EQ(send("play first"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForTone(kLowHz, kHearing));
    ASSERT_EQ(send("set first audio all off"), mci::kNoError);
    ASSERT_TRUE(silent());
    ASSERT_EQ(send("close first"), mci::kNoError);
    EXPECT_TRUE(released()) << "the sound output is released with the device";
    // The two clauses may come in either order.
    ASSERT_EQ(send("open " + platform::encodeShortPath(high()) + " alias second type mpegvideo"),
              mci::kNoError);
    ASSERT_EQ(send("play second"), mci::kNoError);
    EXPECT_TRUE(probe_.waitForTone(kHighHz, kHearing));
}

// With a device playing, a wrong command returns its error and the same tone goes on.
TEST_F(MciTest, MalformedCommandsChangeNothing) {
    const std::string other = "open " + platform::encodeShortPath(high());
    const std::vector<std::tuple<std::string, MCIERROR>> rows = {
        {"", mci::kUnrecognizedCommand},
        {"plays tone", mci::kUnrecognizedCommand},
        {"open type mpegvideo alias other", mci::kMissingDeviceName},
        {other + " type mpegvideo", mci::kMissingDeviceName},
        {other + " type waveaudio alias other", mci::kInvalidDeviceName},
        {other + " type mpegvideo alias", mci::kUnrecognizedKeyword},
        {other + " type mpegvideo alias other wait", mci::kUnrecognizedKeyword},
        {other + " type mpegvideo type mpegvideo alias other", mci::kUnrecognizedKeyword},
        {other + " type mpegvideo alias TONE", mci::kDuplicateAlias},
        {other + " type mpegvideo alias other", mci::kMustUseShareable},
        {"play", mci::kMissingDeviceName},
        {"stop all", mci::kInvalidDeviceName},
        {"play tone\nstop tone", mci::kInvalidDeviceName},
        {"close all now", mci::kUnrecognizedKeyword},
        {"set tone audio all maybe", mci::kUnrecognizedKeyword},
    };
    ASSERT_EQ(send(openCommand(low(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForTone(kLowHz, kHearing));
    for (const auto& [command, result] : rows) {
        SCOPED_TRACE("\"" + command + "\"");
        EXPECT_EQ(send(command), result);
        EXPECT_TRUE(probe_.waitForTone(kLowHz, kHearing)) << "the same tone goes on";
    }
}

// With nothing open, a refused open leaves nothing open, not even the sound output, and never
// blocks whatever the name stands for.
TEST_F(MciTest, RefusedOpensLeaveNothingOpen) {
    std::ofstream(in("text.mp3")) << "This is not MPEG audio, whatever its name says.\n";
    ASSERT_TRUE(fs::create_directory(in("x.mp3")));
    ASSERT_EQ(mkfifo(in("fifo.mp3").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", in("zero.mp3"));
    fs::create_symlink(in("nowhere.mp3"), in("dangling.mp3"));
    const std::vector<std::tuple<std::string, MCIERROR>> rows = {
        {openCommand(in("text.mp3"), "x"), mci::kInvalidFile},
        {openCommand(in("x.mp3"), "x"), mci::kInvalidFile},
        {openCommand(in("fifo.mp3"), "x"), mci::kInvalidFile},
        {openCommand(in("zero.mp3"), "x"), mci::kInvalidFile},
        {openCommand(in("dangling.mp3"), "x"), mci::kFileNotFound},
        {"open %zz type mpegvideo alias x", mci::kFileNotFound},
    };
    for (const auto& [command, result] : rows) {
        SCOPED_TRACE(command);
        EXPECT_EQ(sendWithWatchdog(command), result);
        EXPECT_FALSE(mci::anyDeviceOpen());
        EXPECT_TRUE(released());
    }
    EXPECT_EQ(send(openCommand(low(), "x")), mci::kNoError) << "nothing stands in the way";
}

TEST_F(MciTest, AnOpenWithoutASoundOutputIsRefused) {
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "no-such-driver", 1), 0);
    const MCIERROR result = send(openCommand(low(), "tone"));
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 1), 0);
    EXPECT_EQ(result, mci::kHardware);
    EXPECT_FALSE(mci::anyDeviceOpen());
    EXPECT_EQ(send(openCommand(low(), "tone")), mci::kNoError) << "a later open still works";
}

TEST_F(MciTest, TheReturnStringReceivesTheEmptyTextWhenItHasRoom) {
    char text[2] = "x";
    EXPECT_EQ(mciSendStringA("close all", text, 0, 0), mci::kNoError);
    EXPECT_EQ(text[0], 'x') << "no room, nothing written";
    EXPECT_EQ(mciSendStringA("bogus", text, sizeof text, 0), mci::kUnrecognizedCommand);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(mciSendStringA(nullptr, nullptr, 0, 0), mci::kUnrecognizedCommand);
}

// An interrupt from the terminal must still end the program while a file is open.
TEST_F(MciTest, OpeningLeavesInterruptHandlingAlone) {
    for (const int signal : {SIGINT, SIGTERM}) {
        ASSERT_NE(std::signal(signal, SIG_DFL), SIG_ERR);
    }
    ASSERT_EQ(send(openCommand(low(), "tone")), mci::kNoError);
    for (const int signal : {SIGINT, SIGTERM}) {
        EXPECT_EQ(std::signal(signal, SIG_DFL), SIG_DFL) << signal;
    }
}

}  // namespace
