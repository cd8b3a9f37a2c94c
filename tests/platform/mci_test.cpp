#include "platform/mci.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/mci_command.h"
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
        // A name that only its short form can carry through a command, and a rate and a channel
        // count the output does not have.
        writeTone(high, kHigh, 6.0, 22050);
    }
    void TearDown() override {
        EXPECT_EQ(send("close all"), mci::kNoError);
        EXPECT_FALSE(mci::anyDeviceOpen());
    }
    TempDir dir;
    const std::string high = dir / "Ä 100% \"q\" \\ type mpegvideo alias x.mp3";
    Probe probe;
};

// One device through every state, in any case and spacing: each result and what is heard. Played
// while muted, not even its first buffer is heard.
TEST_F(MciTest, EachCommandInEachState) {
    enum Heard { Quiet, Tone, Silent };
    const std::vector<std::tuple<std::string, MCIERROR, Heard>> steps = {
        {"pause tone", mci::kNonapplicableFunction, Quiet},
        {"resume tone", mci::kNonapplicableFunction, Quiet},
        {"PLAY tone", mci::kNoError, Tone},
        {"Pause TONE", mci::kNoError, Quiet},
        {"RESUME tOnE", mci::kNoError, Tone},
        {"  stop \t tone ", mci::kNoError, Quiet},
        {"resume tone", mci::kNonapplicableFunction, Quiet},
        {"SET Tone AUDIO ALL OFF", mci::kNoError, Quiet},
        {"\tplay  tone", mci::kNoError, Silent},
        {"set tone audio all on", mci::kNoError, Tone},
        {"close tone", mci::kNoError, Quiet},
        {"play tone", mci::kInvalidDeviceName, Quiet},
    };
    ASSERT_EQ(send("  OPEN " + platform::encodeShortPath(dir / "low.mp3") +
                   "\tTYPE MpegVideo ALIAS Tone"),
              mci::kNoError);
    EXPECT_TRUE(probe.quiet()) << "an opened device is stopped";
    for (const auto& [command, result, heard] : steps) {
        SCOPED_TRACE(command);
        EXPECT_EQ(send(command), result);
        EXPECT_TRUE(heard == Tone    ? probe.tone(kLow)
                    : heard == Quiet ? probe.quiet()
                                     : probe.silentFor(400));
    }
    // The clauses may come in either order, and a new device is not muted by an old one.
    ASSERT_EQ(send("open " + platform::encodeShortPath(high) + " alias x type mpegvideo"), 0u);
    ASSERT_EQ(send("play x"), mci::kNoError);
    EXPECT_TRUE(probe.tone(kHigh));
}

// The parser alone, with no audio at all: the error each shape earns before any device is looked
// at, and the one it earns once its alias is found open.
TEST(MciCommand, EachShapeEarnsItsError) {
    namespace m = platform::mci;
    const std::vector<std::tuple<std::string, MCIERROR, MCIERROR>> rows = {
        {"", m::kUnrecognizedCommand, 0},
        {" \t ", m::kUnrecognizedCommand, 0},
        {"seek tone", m::kUnrecognizedCommand, 0},
        {"open", m::kMissingDeviceName, 0},
        {"open type mpegvideo alias a", m::kMissingDeviceName, 0},
        {"open alias a type mpegvideo", m::kMissingDeviceName, 0},
        {"open x type mpegvideo", m::kMissingDeviceName, 0},
        {"open x alias a", m::kInvalidDeviceName, 0},
        {"open x type waveaudio alias a", m::kInvalidDeviceName, 0},
        {"open x type mpegvideo alias", m::kUnrecognizedKeyword, 0},
        {"open x alias a type mpegvideo alias b", m::kUnrecognizedKeyword, 0},
        {"open x type mpegvideo alias a wait", m::kUnrecognizedKeyword, 0},
        {"OPEN x ALIAS a TYPE MPEGVIDEO", 0, 0},
        {"play", m::kMissingDeviceName, 0},
        {"play a b", 0, m::kUnrecognizedKeyword},
        {"close all now", 0, m::kUnrecognizedKeyword},
        {"set a audio all", 0, m::kUnrecognizedKeyword},
        {"set a audio some off", 0, m::kUnrecognizedKeyword},
        {"set a audio all off now", 0, m::kUnrecognizedKeyword},
        {"Set A Audio All Off", 0, 0},
    };
    for (const auto& [text, error, malformed] : rows) {
        SCOPED_TRACE("\"" + text + "\"");
        const m::Command command = m::parseCommand(text);
        EXPECT_EQ(command.error, error);
        EXPECT_EQ(command.error == 0 ? command.malformed : 0u, malformed);
    }
}

// With a device playing, a wrong command returns its error and the same tone goes on.
TEST_F(MciTest, MalformedCommandsChangeNothing) {
    const std::string other = "open " + platform::encodeShortPath(high);
    const std::vector<std::tuple<std::string, MCIERROR>> rows = {
        {"", mci::kUnrecognizedCommand},
        {other + " type waveaudio alias other", mci::kInvalidDeviceName},
        {other + " type mpegvideo alias TONE", mci::kDuplicateAlias},
        {other + " type mpegvideo alias other", mci::kMustUseShareable},
        {"play tone b", mci::kUnrecognizedKeyword},
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

// Stop drops what the output holds and goes back to the start: the next play begins with the
// file's first note.
TEST_F(MciTest, StopGoesBackToTheStart) {
    writeTone(dir / "a.mp3", kLow, 2.0);
    writeTone(dir / "b.mp3", kHigh, 6.0);
    std::ofstream(dir / "ab.mp3") << std::ifstream(dir / "a.mp3").rdbuf()
                                  << std::ifstream(dir / "b.mp3").rdbuf();
    ASSERT_EQ(send(openCommand(dir / "ab.mp3")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe.tone(kHigh));
    EXPECT_EQ(send("stop tone"), mci::kNoError);
    EXPECT_TRUE(probe.quiet());
    EXPECT_EQ(send("play tone"), mci::kNoError);
    EXPECT_TRUE(probe.startsWith(kLow));
}

// The sound server goes away while a file plays: the commands go on answering, an open with no
// sound output at all (and ALSA pointing nowhere) is refused, and once the server is back the
// next file is heard.
TEST_F(MciTest, TheSoundServerGoesAwayAndComesBack) {
    ASSERT_EQ(send(openCommand(dir / "low.mp3")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe.tone(kLow));
    stopSoundServer();
    for (const char* command : {"pause tone", "play tone", "set tone audio all off", "close tone"})
        EXPECT_EQ(send(command), mci::kNoError) << command;
    EXPECT_EQ(send(openCommand(dir / "low.mp3")), mci::kHardware) << "no sound output: refused";
    EXPECT_FALSE(mci::anyDeviceOpen());
    startSoundServer();
    ASSERT_EQ(send(openCommand(high, "x")), mci::kNoError);
    ASSERT_EQ(send("play x"), mci::kNoError);
    EXPECT_TRUE(probe.tone(kHigh));
}

// With no sound server, ALSA's default device plays: here one that writes to a file.
TEST_F(MciTest, WithoutASoundServerAlsaPlays) {
    const std::string config = dir / "alsa.conf", out = dir / "out.raw";
    std::ofstream(config) << "pcm.!default { type file slave.pcm { type null } file \"" << out
                          << "\" format raw }\n";
    const std::string pulse = getenv("PULSE_SERVER"), alsa = getenv("ALSA_CONFIG_PATH");
    setenv("PULSE_SERVER", (dir / "nothing").c_str(), 1);
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    stopSoundServer();  // and a connection kept from before goes with it
    ASSERT_EQ(send(openCommand(high)), mci::kNoError);
    EXPECT_EQ(send("play tone"), mci::kNoError);
    for (int i = 0; i < 300 && mci::deviceStatus().playback == mci::Playback::Playing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(mci::deviceStatus().playback, mci::Playback::Stopped) << "played to its end";
    setenv("PULSE_SERVER", pulse.c_str(), 1);
    setenv("ALSA_CONFIG_PATH", alsa.c_str(), 1);
    startSoundServer();
    std::ifstream file(out, std::ios::binary);
    std::vector<std::int16_t> stereo(44100 * 2);  // the first second
    file.read(reinterpret_cast<char*>(stereo.data()), std::streamsize(stereo.size() * 2));
    std::vector<float> mono;
    for (std::size_t i = 0; i + 1 < stereo.size(); i += 2)
        mono.push_back(float(stereo[i] + stereo[i + 1]) / 65536);
    EXPECT_NEAR(pitchOf(mono), kHigh, kHigh * 0.03);
}

}  // namespace
}  // namespace korvel::test
