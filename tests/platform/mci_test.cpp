#include "platform/mci.h"

#include "platform/shortpath.h"
#include "support/audio_probe.h"
#include "support/command_log.h"
#include "support/temp_dir.h"
#include "support/tone.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using korvel::test::AudioProbe;
using korvel::test::TempDir;
namespace mci = platform::mci;

constexpr double kLowHz = 440.0;
constexpr double kHighHz = 880.0;
constexpr double kShortHz = 660.0;
constexpr double kFrameRate = mci::kOutputRate;
// Long enough never to end within a test that does not wait for the end.
constexpr double kLongSeconds = 20.0;
// Long enough to measure how much of it was heard.
constexpr double kMeasuredSeconds = 3.0;
constexpr double kShortSeconds = 0.5;
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

// Ends the process with a message if a step that must return at once blocks instead, so that a
// hang fails this test by name instead of stalling the whole run.
class Watchdog {
  public:
    Watchdog(std::chrono::seconds limit, std::string what) : what_(std::move(what)) {
        thread_ = std::thread([this, limit] {
            std::unique_lock lock(mutex_);
            if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                std::fprintf(stderr, "FAILED: %s blocked\n", what_.c_str());
                std::_Exit(1);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

class MciTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        korvel::test::writeToneMp3(lowPath(), kLowHz, kLongSeconds);
        korvel::test::writeToneMp3(highPath(), kHighHz, kLongSeconds);
        korvel::test::writeToneMp3(measuredPath(), kLowHz, kMeasuredSeconds);
        korvel::test::writeToneMp3(shortPath(), kShortHz, kShortSeconds);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    void SetUp() override {
        for (const std::string& path : {lowPath(), highPath(), measuredPath(), shortPath()}) {
            ASSERT_TRUE(std::filesystem::is_regular_file(path)) << path;
        }
        ASSERT_FALSE(mci::anyDeviceOpen());
    }
    void TearDown() override {
        EXPECT_EQ(send("close all"), mci::kNoError);
        EXPECT_FALSE(mci::anyDeviceOpen());
    }

    static std::string lowPath() { return *dir_ / "low 440.mp3"; }
    static std::string highPath() { return *dir_ / "high 880.mp3"; }
    static std::string measuredPath() { return *dir_ / "measured.mp3"; }
    static std::string shortPath() { return *dir_ / "short.mp3"; }
    static const TempDir& dir() { return *dir_; }

    // Seconds of sound heard since `mark` (a soundFramesSeen() value).
    double soundSince(std::uint64_t mark) {
        return static_cast<double>(probe_.soundFramesSeen() - mark) / kFrameRate;
    }

    // Waits until `seconds` of sound have been heard since `mark`.
    bool waitForSoundSince(std::uint64_t mark, double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (soundSince(mark) < seconds) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    // True when output goes on (the sound output is open) and all of it is silent.
    bool outputIsSilent() { return probe_.waitForSilence(kHearing); }

    // True when no output goes out at all: the sound output is released.
    bool outputIsReleased() {
        const std::uint64_t before = probe_.framesSeen();
        std::this_thread::sleep_for(250ms);
        return probe_.framesSeen() == before;
    }

    AudioProbe probe_;

  private:
    static TempDir* dir_;
};

TempDir* MciTest::dir_ = nullptr;

// --- Which file sounds --------------------------------------------------------------------

TEST_F(MciTest, PlaySoundsTheToneOfTheOpenedFile) {
    struct Row {
        std::string path;
        double hz;
        double otherHz;
    };
    const std::vector<Row> rows = {
        {lowPath(), kLowHz, kHighHz},
        {highPath(), kHighHz, kLowHz},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        ASSERT_EQ(send(openCommand(row.path, "tone")), mci::kNoError);
        EXPECT_TRUE(outputIsSilent()) << "an opened device is stopped";
        ASSERT_EQ(send("play tone"), mci::kNoError);
        EXPECT_TRUE(probe_.waitForTone(row.hz, kHearing));
        EXPECT_NEAR(probe_.dominantFrequency(), row.hz, 0.03 * row.hz);
        EXPECT_GT(std::abs(probe_.dominantFrequency() - row.otherHz), 0.1 * row.otherHz);
        ASSERT_EQ(send("close tone"), mci::kNoError);
    }
}

TEST_F(MciTest, OpensAFileWhoseNameNeedsTheShortForm) {
    const std::string path = dir() / "01 Ä 100% \"quoted\" \\ type mpegvideo alias x.mp3";
    std::filesystem::copy_file(highPath(), path);
    ASSERT_EQ(send(openCommand(path, "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    EXPECT_TRUE(probe_.waitForTone(kHighHz, kHearing));
}

// --- The states of a device ---------------------------------------------------------------

enum class Heard { Tone, Silence };

// Every command in every state of a device: what it returns and what is heard after it.
TEST_F(MciTest, CommandsInEveryState) {
    struct Row {
        std::vector<std::string> before;  // brings the device into the state
        std::string command;
        MCIERROR result;
        Heard heard;
    };
    const std::vector<std::string> stopped = {};
    const std::vector<std::string> playing = {"play tone"};
    const std::vector<std::string> paused = {"play tone", "pause tone"};
    const std::vector<std::string> stoppedAgain = {"play tone", "stop tone"};
    const std::vector<std::string> pausedThenStopped = {"play tone", "pause tone", "stop tone"};
    const std::vector<Row> rows = {
        {stopped, "play tone", mci::kNoError, Heard::Tone},
        {stopped, "pause tone", mci::kNonapplicableFunction, Heard::Silence},
        {stopped, "resume tone", mci::kNonapplicableFunction, Heard::Silence},
        {stopped, "stop tone", mci::kNoError, Heard::Silence},
        {playing, "play tone", mci::kNoError, Heard::Tone},
        {playing, "pause tone", mci::kNoError, Heard::Silence},
        {playing, "resume tone", mci::kNoError, Heard::Tone},
        {playing, "stop tone", mci::kNoError, Heard::Silence},
        {paused, "play tone", mci::kNoError, Heard::Tone},
        {paused, "pause tone", mci::kNoError, Heard::Silence},
        {paused, "resume tone", mci::kNoError, Heard::Tone},
        {paused, "stop tone", mci::kNoError, Heard::Silence},
        {stoppedAgain, "play tone", mci::kNoError, Heard::Tone},
        {stoppedAgain, "pause tone", mci::kNonapplicableFunction, Heard::Silence},
        {stoppedAgain, "resume tone", mci::kNonapplicableFunction, Heard::Silence},
        {stoppedAgain, "stop tone", mci::kNoError, Heard::Silence},
        {pausedThenStopped, "resume tone", mci::kNonapplicableFunction, Heard::Silence},
        {pausedThenStopped, "play tone", mci::kNoError, Heard::Tone},
    };
    for (const Row& row : rows) {
        std::string state;
        for (const std::string& step : row.before) {
            state += step + "; ";
        }
        SCOPED_TRACE("after [" + state + "] " + row.command);
        ASSERT_EQ(send(openCommand(lowPath(), "tone")), mci::kNoError);
        for (const std::string& step : row.before) {
            ASSERT_EQ(send(step), mci::kNoError);
        }
        EXPECT_EQ(send(row.command), row.result);
        if (row.heard == Heard::Tone) {
            EXPECT_TRUE(probe_.waitForTone(kLowHz, kHearing));
        } else {
            EXPECT_TRUE(outputIsSilent());
            EXPECT_FALSE(probe_.heardSoundWithin(300ms));
        }
        ASSERT_EQ(send("close tone"), mci::kNoError);
    }
}

TEST_F(MciTest, PauseSilencesAndResumeBringsTheSameToneBack) {
    ASSERT_EQ(send(openCommand(highPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForTone(kHighHz, kHearing));
    ASSERT_EQ(send("pause tone"), mci::kNoError);
    EXPECT_TRUE(outputIsSilent());
    ASSERT_EQ(send("resume tone"), mci::kNoError);
    EXPECT_TRUE(probe_.waitForTone(kHighHz, kHearing));
}

// The next three measure how much of a three-second file is heard in all, counted in output
// frames so that a slow machine does not change the answer.

TEST_F(MciTest, ResumeGoesOnFromThePausedPosition) {
    const std::uint64_t start = probe_.soundFramesSeen();
    ASSERT_EQ(send(openCommand(measuredPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 1.5));
    ASSERT_EQ(send("pause tone"), mci::kNoError);
    ASSERT_TRUE(outputIsSilent());
    ASSERT_TRUE(probe_.waitForFrames(probe_.framesSeen(), mci::kOutputRate / 2, kHearing));
    ASSERT_EQ(send("resume tone"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForTone(kLowHz, kHearing));
    ASSERT_TRUE(probe_.waitForSilence(10s)) << "the file plays to its end";
    EXPECT_NEAR(soundSince(start), kMeasuredSeconds, kSlackSeconds)
        << "paused and resumed, the file is heard once through";
}

TEST_F(MciTest, StopSilencesAndPlayStartsFromTheBeginning) {
    const std::uint64_t start = probe_.soundFramesSeen();
    ASSERT_EQ(send(openCommand(measuredPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 1.5));
    ASSERT_EQ(send("stop tone"), mci::kNoError);
    ASSERT_TRUE(outputIsSilent());
    const std::uint64_t again = probe_.soundFramesSeen();
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForTone(kLowHz, kHearing));
    ASSERT_TRUE(probe_.waitForSilence(10s)) << "the file plays to its end";
    EXPECT_NEAR(soundSince(again), kMeasuredSeconds, kSlackSeconds)
        << "after stop, play starts the whole file again";
}

TEST_F(MciTest, PlayOrResumeWhilePlayingChangesNothing) {
    const std::uint64_t start = probe_.soundFramesSeen();
    ASSERT_EQ(send(openCommand(measuredPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 1.0));
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 1.5));
    ASSERT_EQ(send("resume tone"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForSilence(10s)) << "the file plays to its end";
    EXPECT_NEAR(soundSince(start), kMeasuredSeconds, kSlackSeconds)
        << "neither command starts the file again";
}

TEST_F(MciTest, AudioOffSilencesWhilePlaybackGoesOn) {
    const std::uint64_t start = probe_.soundFramesSeen();
    ASSERT_EQ(send(openCommand(measuredPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(waitForSoundSince(start, 1.0));
    ASSERT_EQ(send("set tone audio all off"), mci::kNoError);
    const std::uint64_t offAt = probe_.framesSeen();
    ASSERT_TRUE(outputIsSilent());
    ASSERT_TRUE(probe_.waitForFrames(offAt, mci::kOutputRate, kHearing));
    ASSERT_EQ(send("set tone audio all on"), mci::kNoError);
    const double offSeconds = static_cast<double>(probe_.framesSeen() - offAt) / kFrameRate;
    EXPECT_TRUE(probe_.waitForTone(kLowHz, kHearing)) << "on brings the tone back";
    ASSERT_TRUE(probe_.waitForSilence(10s)) << "the file plays to its end";
    // The file went on while it was not heard: that part of it is never heard.
    EXPECT_NEAR(soundSince(start), kMeasuredSeconds - offSeconds, kSlackSeconds);
}

TEST_F(MciTest, AudioOffBeforePlayKeepsTheDeviceSilent) {
    ASSERT_EQ(send(openCommand(lowPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("set tone audio all off"), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    EXPECT_TRUE(outputIsSilent());
    EXPECT_FALSE(probe_.heardSoundWithin(300ms));
    ASSERT_EQ(send("set tone audio all on"), mci::kNoError);
    EXPECT_TRUE(probe_.waitForTone(kLowHz, kHearing));
}

TEST_F(MciTest, ANewDeviceAfterAMutedOneHasItsSoundOn) {
    ASSERT_EQ(send(openCommand(lowPath(), "first")), mci::kNoError);
    ASSERT_EQ(send("play first"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForTone(kLowHz, kHearing));
    ASSERT_EQ(send("set first audio all off"), mci::kNoError);
    ASSERT_TRUE(outputIsSilent());
    ASSERT_EQ(send("close first"), mci::kNoError);

    ASSERT_EQ(send(openCommand(highPath(), "second")), mci::kNoError);
    ASSERT_EQ(send("play second"), mci::kNoError);
    EXPECT_TRUE(probe_.waitForTone(kHighHz, kHearing));
}

TEST_F(MciTest, ADeviceThatPlayedToItsEndIsStopped) {
    ASSERT_EQ(send(openCommand(shortPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForTone(kShortHz, kHearing));
    ASSERT_TRUE(probe_.waitForSilence(kHearing)) << "the short file ends";
    EXPECT_EQ(send("pause tone"), mci::kNonapplicableFunction);
    EXPECT_EQ(send("resume tone"), mci::kNonapplicableFunction);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    EXPECT_TRUE(probe_.waitForTone(kShortHz, kHearing)) << "play starts it again";
}

// --- Opening and closing ------------------------------------------------------------------

TEST_F(MciTest, CloseReleasesTheDeviceAndTheOutput) {
    for (const std::string command : {"close tone", "close all", "CLOSE ALL", "close TONE"}) {
        SCOPED_TRACE(command);
        ASSERT_EQ(send(openCommand(lowPath(), "tone")), mci::kNoError);
        ASSERT_EQ(send("play tone"), mci::kNoError);
        ASSERT_TRUE(probe_.waitForTone(kLowHz, kHearing));
        EXPECT_TRUE(mci::anyDeviceOpen());
        EXPECT_EQ(send(command), mci::kNoError);
        EXPECT_FALSE(mci::anyDeviceOpen());
        EXPECT_TRUE(outputIsReleased());
        EXPECT_EQ(send("play tone"), mci::kInvalidDeviceName);
    }
}

TEST_F(MciTest, CloseAllWithNothingOpenSucceeds) {
    EXPECT_EQ(send("close all"), mci::kNoError);
    EXPECT_FALSE(mci::anyDeviceOpen());
    EXPECT_TRUE(outputIsReleased());
}

TEST_F(MciTest, AnOpenedDeviceCanBeOpenedAgainAfterClose) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(send(openCommand(lowPath(), "tone")), mci::kNoError);
        ASSERT_EQ(send("play tone"), mci::kNoError);
        EXPECT_TRUE(probe_.waitForTone(kLowHz, kHearing));
        ASSERT_EQ(send("close tone"), mci::kNoError);
    }
}

TEST_F(MciTest, KeywordsAndAliasesIgnoreCaseAndRunsOfBlanks) {
    struct Step {
        std::string command;
        Heard heard;
    };
    const std::vector<Step> steps = {
        {"PLAY tone", Heard::Tone},
        {"Pause TONE", Heard::Silence},
        {"RESUME tOnE", Heard::Tone},
        {"SET Tone AUDIO ALL OFF", Heard::Silence},
        {"set tone Audio All On", Heard::Tone},
        {"  stop \t\t tone   ", Heard::Silence},
        {"\tplay  tone\t", Heard::Tone},
    };
    const std::string open =
        "  OPEN   " + platform::encodeShortPath(lowPath()) + "\tTYPE MpegVideo   ALIAS Tone  ";
    ASSERT_EQ(send(open), mci::kNoError);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        ASSERT_EQ(send(step.command), mci::kNoError);
        if (step.heard == Heard::Tone) {
            EXPECT_TRUE(probe_.waitForTone(kLowHz, kHearing));
        } else {
            EXPECT_TRUE(outputIsSilent());
        }
    }
    ASSERT_EQ(send("Close tONE"), mci::kNoError);
    EXPECT_FALSE(mci::anyDeviceOpen());
    // Either order of the clauses is the same command.
    EXPECT_EQ(send("open " + platform::encodeShortPath(lowPath()) + " alias x type mpegvideo"),
              mci::kNoError);
}

// With a device playing, no wrong command changes anything: each returns its error and the
// same tone goes on.
TEST_F(MciTest, ErroneousCommandsReturnTheirErrorAndChangeNothing) {
    struct Row {
        std::string command;
        MCIERROR result;
    };
    const std::string other = platform::encodeShortPath(highPath());
    const std::vector<Row> rows = {
        {"", mci::kUnrecognizedCommand},
        {" \t  ", mci::kUnrecognizedCommand},
        {"plays tone", mci::kUnrecognizedCommand},
        {"status tone mode", mci::kUnrecognizedCommand},
        {"seek tone to start", mci::kUnrecognizedCommand},
        {"window tone", mci::kUnrecognizedCommand},
        {"tone play", mci::kUnrecognizedCommand},
        {"open", mci::kMissingDeviceName},
        {"open type mpegvideo alias other", mci::kMissingDeviceName},
        {"open alias other", mci::kMissingDeviceName},
        {"open " + other, mci::kMissingDeviceName},
        {"open " + other + " type mpegvideo", mci::kMissingDeviceName},
        {"open " + other + " alias other", mci::kInvalidDeviceName},
        {"open " + other + " type waveaudio alias other", mci::kInvalidDeviceName},
        {"open " + other + " type mpegvideo alias", mci::kUnrecognizedKeyword},
        {"open " + other + " type", mci::kUnrecognizedKeyword},
        {"open " + other + " type mpegvideo alias other extra", mci::kUnrecognizedKeyword},
        {"open " + other + " shareable type mpegvideo alias other", mci::kUnrecognizedKeyword},
        {"open " + other + " type mpegvideo alias other wait", mci::kUnrecognizedKeyword},
        {"open " + other + " type mpegvideo type mpegvideo alias other", mci::kUnrecognizedKeyword},
        {"open " + other + " type mpegvideo alias other alias more", mci::kUnrecognizedKeyword},
        {"open " + other + " type mpegvideo alias tone", mci::kDuplicateAlias},
        {"open " + other + " type mpegvideo alias TONE", mci::kDuplicateAlias},
        {"open " + other + " type mpegvideo alias other", mci::kMustUseShareable},
        {"play", mci::kMissingDeviceName},
        {"play other", mci::kInvalidDeviceName},
        {"play tone\nstop tone", mci::kInvalidDeviceName},
        {"play tone extra", mci::kUnrecognizedKeyword},
        {"play tone from 0", mci::kUnrecognizedKeyword},
        {"play tone notify", mci::kUnrecognizedKeyword},
        {"pause", mci::kMissingDeviceName},
        {"pause other", mci::kInvalidDeviceName},
        {"pause tone now", mci::kUnrecognizedKeyword},
        {"pause all", mci::kInvalidDeviceName},
        {"resume", mci::kMissingDeviceName},
        {"resume other", mci::kInvalidDeviceName},
        {"resume tone extra", mci::kUnrecognizedKeyword},
        {"stop", mci::kMissingDeviceName},
        {"stop other", mci::kInvalidDeviceName},
        {"stop tone now", mci::kUnrecognizedKeyword},
        {"stop all", mci::kInvalidDeviceName},
        {"close", mci::kMissingDeviceName},
        {"close other", mci::kInvalidDeviceName},
        {"close tone now", mci::kUnrecognizedKeyword},
        {"close all now", mci::kUnrecognizedKeyword},
        {"set", mci::kMissingDeviceName},
        {"set other audio all off", mci::kInvalidDeviceName},
        {"set tone", mci::kUnrecognizedKeyword},
        {"set tone audio", mci::kUnrecognizedKeyword},
        {"set tone audio all", mci::kUnrecognizedKeyword},
        {"set tone audio all maybe", mci::kUnrecognizedKeyword},
        {"set tone audio left off", mci::kUnrecognizedKeyword},
        {"set tone video all off", mci::kUnrecognizedKeyword},
        {"set tone audio all off now", mci::kUnrecognizedKeyword},
        {"set tone time format milliseconds", mci::kUnrecognizedKeyword},
    };
    ASSERT_EQ(send(openCommand(lowPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe_.waitForTone(kLowHz, kHearing));
    for (const Row& row : rows) {
        SCOPED_TRACE("\"" + row.command + "\"");
        EXPECT_EQ(send(row.command), row.result);
        EXPECT_TRUE(mci::anyDeviceOpen());
        EXPECT_TRUE(probe_.waitForTone(kLowHz, kHearing)) << "the same tone goes on";
    }
}

// With nothing open, a refused open leaves nothing open, not even the sound output, and never
// blocks whatever the name stands for.
TEST_F(MciTest, RefusedOpensLeaveNothingOpen) {
    const std::string text = dir() / "text.mp3";
    std::ofstream(text) << "This is not MPEG audio, whatever its name says.\n";
    const std::string empty = dir() / "empty.mp3";
    std::ofstream{empty};
    const std::string folder = dir() / "folder.mp3";
    std::filesystem::create_directory(folder);
    const std::string fifo = dir() / "fifo.mp3";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string toZero = dir() / "zero.mp3";
    std::filesystem::create_symlink("/dev/zero", toZero);
    const std::string toFifo = dir() / "to fifo.mp3";
    std::filesystem::create_symlink(fifo, toFifo);
    const std::string dangling = dir() / "dangling.mp3";
    std::filesystem::create_symlink(dir() / "nowhere.mp3", dangling);
    const std::string loop = dir() / "loop.mp3";
    std::filesystem::create_symlink(loop, loop);
    for (const std::string& made : {text, empty, folder, fifo}) {
        ASSERT_TRUE(std::filesystem::exists(made)) << made;
    }

    struct Row {
        std::string command;
        MCIERROR result;
    };
    auto open = [](const std::string& path) { return openCommand(path, "x"); };
    const std::vector<Row> rows = {
        {open(text), mci::kInvalidFile},
        {open(empty), mci::kInvalidFile},
        {open(folder), mci::kInvalidFile},
        {open(fifo), mci::kInvalidFile},
        {open(toZero), mci::kInvalidFile},
        {open(toFifo), mci::kInvalidFile},
        {open("/dev/zero"), mci::kInvalidFile},
        {open("/dev/null"), mci::kInvalidFile},
        {open(dangling), mci::kFileNotFound},
        {open(loop), mci::kFileNotFound},
        {open(dir() / "missing.mp3"), mci::kFileNotFound},
        {open(lowPath() + "/inside.mp3"), mci::kFileNotFound},
        {"open %zz type mpegvideo alias x", mci::kFileNotFound},
        {"open " + platform::encodeShortPath(lowPath()) + "%4 type mpegvideo alias x",
         mci::kFileNotFound},
        {"open " + platform::encodeShortPath(lowPath()) + "%00.mp3 type mpegvideo alias x",
         mci::kFileNotFound},
        {"open " + platform::encodeShortPath(lowPath()) + " type waveaudio alias x",
         mci::kInvalidDeviceName},
        {"open " + platform::encodeShortPath(lowPath()) + " type mpegvideo",
         mci::kMissingDeviceName},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        {
            Watchdog watchdog(20s, row.command);
            EXPECT_EQ(send(row.command), row.result);
        }
        EXPECT_FALSE(mci::anyDeviceOpen());
        EXPECT_EQ(send("play x"), mci::kInvalidDeviceName);
        EXPECT_TRUE(outputIsReleased());
    }
    // Nothing was left behind that stands in the way of the next open.
    ASSERT_EQ(send(openCommand(lowPath(), "x")), mci::kNoError);
    ASSERT_EQ(send("play x"), mci::kNoError);
    EXPECT_TRUE(probe_.waitForTone(kLowHz, kHearing));
}

// --- What surrounds the commands ----------------------------------------------------------

TEST_F(MciTest, TheObserverSeesEveryCommandWithItsResult) {
    const std::vector<std::string> commands = {openCommand(lowPath(), "tone"), "play tone", "bogus",
                                               "pause nothing", "close all"};
    korvel::test::CommandLog log;
    for (const std::string& command : commands) {
        send(command);
    }
    EXPECT_EQ(log.commands(), commands);
    EXPECT_EQ(log.results(),
              (std::vector<unsigned>{mci::kNoError, mci::kNoError, mci::kUnrecognizedCommand,
                                     mci::kInvalidDeviceName, mci::kNoError}));
}

TEST_F(MciTest, TheReturnStringReceivesTheEmptyTextOnlyWhenItHasRoom) {
    struct Row {
        std::string command;
        std::uint32_t length;
        char expected;
    };
    const std::vector<Row> rows = {
        {"close all", 8, '\0'},
        {"bogus", 8, '\0'},
        {"close all", 1, '\0'},
        {"close all", 0, 'x'},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command + " " + std::to_string(row.length));
        char buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
        mciSendStringA(row.command.c_str(), buffer, row.length, 0);
        EXPECT_EQ(buffer[0], row.expected);
    }
    EXPECT_EQ(mciSendStringA("close all", nullptr, 0, 0), mci::kNoError);
    EXPECT_EQ(mciSendStringA(nullptr, nullptr, 0, 0), mci::kUnrecognizedCommand);
}

TEST_F(MciTest, OpeningLeavesTheProcessInterruptHandlingAlone) {
    struct sigaction before[2]{};
    struct sigaction after[2]{};
    const int signals[2] = {SIGINT, SIGTERM};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(sigaction(signals[i], nullptr, &before[i]), 0);
    }
    ASSERT_EQ(send(openCommand(lowPath(), "tone")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(signals[i]);
        ASSERT_EQ(sigaction(signals[i], nullptr, &after[i]), 0);
        EXPECT_EQ(after[i].sa_handler, before[i].sa_handler);
    }
}

// The probe's waits mean something only if the output advances at about the pace of a real
// sound card; under SDL's dummy driver it must neither race ahead nor stall.
TEST_F(MciTest, OutputAdvancesAtAboutRealTime) {
    ASSERT_EQ(send(openCommand(lowPath(), "tone")), mci::kNoError);
    ASSERT_TRUE(probe_.waitForFrames(probe_.framesSeen(), 1, kHearing));
    const std::uint64_t before = probe_.framesSeen();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double heard = static_cast<double>(probe_.framesSeen() - before) / kFrameRate;
    EXPECT_LT(heard, 1.5 * wall);
    EXPECT_GT(heard, 0.3 * wall);
}

}  // namespace
