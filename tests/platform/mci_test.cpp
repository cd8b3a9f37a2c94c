#include "platform/mci.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <random>
#include <regex>

#include "platform/mci_command.h"
#include "platform/shortpath.h"
#include "support/support.h"

namespace korvel::test {
namespace {

namespace mci = platform::mci;

std::string openCommand(const std::string& path, const std::string& alias = "tone") {
    return "open " + platform::encodeShortPath(path) + " type mpegvideo alias " + alias;
}

// Waits up to three seconds for the device to read `playback`.
bool reads(mci::Playback playback) {
    return within3s([=] { return mci::deviceStatus().playback == playback; });
}

// Bytes that are not audio and hold no frame sync (0xFF) either, which would start a frame.
std::string junk(std::size_t bytes) {
    std::mt19937 random(7);
    std::string noise(bytes, '\0');
    for (char& c : noise) c = char(random() % 0xFF);
    return noise;
}

// Opens `file`, sends each command once its pause (and 50 ms) has passed, and gives what was
// heard over `ms`; played to its end, the device must rest until it is told something.
std::string listen(const std::string& file, int ms, const std::vector<std::pair<int, const char*>>& commands) {
    EXPECT_EQ(send(openCommand(file)), mci::kNoError);
    auto letters = std::async(std::launch::async, [&] { return Probe().letters(ms); });
    for (const auto& [pause, command] : commands) {
        sleepFor(50 + pause);
        EXPECT_EQ(send(command), mci::kNoError);
    }
    const std::string got = letters.get();
    const double cpu = cpuSeconds();
    sleepFor(300);
    EXPECT_LT(cpuSeconds() - cpu, 0.1) << "busy after the end";
    EXPECT_EQ(send("close tone"), mci::kNoError);
    return got;
}

class MciTest : public testing::Test {
  protected:
    void SetUp() override {
        writeTone(dir / "low.mp3", kLow);
        // A name that only its short form can carry through a command, and a rate and a channel
        // count the output does not have.
        writeTone(high, kHigh, 6.0, 22050);
        ASSERT_TRUE(probe.quiet()) << "the sound server is not heard";
    }
    void TearDown() override {
        mci::setChangeNotifier({});
        mci::setFailureReporter({});
        EXPECT_EQ(send("close all"), mci::kNoError);
        EXPECT_FALSE(mci::anyDeviceOpen());
    }
    TempDir dir;
    const std::string high = dir / "Ä 100% \"q\" \\ type mpegvideo alias x.mp3";
    Probe probe;
};

// One device through every state, in any case and spacing, on the sound server and on ALSA (its
// pulse plugin, so that it is heard here too): each result and what is heard. Played while
// muted, not even its first buffer is heard; a wrong command while it plays changes nothing.
TEST_F(MciTest, EachCommandInEachState) {
    enum Heard { Quiet, Tone, Silent };
    const std::string other = "open " + platform::encodeShortPath(high);
    const std::vector<std::tuple<std::string, MCIERROR, Heard>> steps = {
        {"pause tone", mci::kNonapplicableFunction, Quiet},
        {"resume tone", mci::kNonapplicableFunction, Quiet},
        {"stop tone", mci::kNoError, Quiet},
        {"PLAY tone", mci::kNoError, Tone},
        {other + " type mpegvideo alias TONE", mci::kDuplicateAlias, Tone},
        {other + " type mpegvideo alias other", mci::kMustUseShareable, Tone},
        {"play tone b", mci::kUnrecognizedKeyword, Tone},
        {"stop all", mci::kInvalidDeviceName, Tone},
        {"play tone\nstop tone", mci::kInvalidDeviceName, Tone},
        {"set tone audio all maybe", mci::kUnrecognizedKeyword, Tone},
        {"play tone", mci::kNoError, Tone},
        {"resume tone", mci::kNoError, Tone},
        {"Pause TONE", mci::kNoError, Quiet},
        {"pause tone", mci::kNoError, Quiet},
        {"RESUME tOnE", mci::kNoError, Tone},
        {"  stop \t tone ", mci::kNoError, Quiet},
        {"stop tone", mci::kNoError, Quiet},
        {"resume tone", mci::kNonapplicableFunction, Quiet},
        {"SET Tone AUDIO ALL OFF", mci::kNoError, Quiet},
        {"\tplay  tone", mci::kNoError, Silent},
        {"set tone audio all on", mci::kNoError, Tone},
        {"close tone", mci::kNoError, Quiet},
        {"play tone", mci::kInvalidDeviceName, Quiet},
        {"pause tone", mci::kInvalidDeviceName, Quiet},
        {"set tone audio all on", mci::kInvalidDeviceName, Quiet},
        {"close all", mci::kNoError, Quiet},
    };
    for (const bool alsa : {false, true}) {
        SCOPED_TRACE(alsa ? "ALSA" : "sound server");
        std::optional<ThroughAlsa> through;
        if (alsa) through.emplace();
        ASSERT_TRUE(probe.quiet());
        ASSERT_EQ(send("  OPEN " + platform::encodeShortPath(dir / "low.mp3") + "\tTYPE MpegVideo ALIAS Tone"),
                  mci::kNoError);
        EXPECT_TRUE(probe.quiet()) << "an opened device is stopped";
        for (const auto& [command, result, heard] : steps) {
            SCOPED_TRACE("\"" + command + "\"");
            EXPECT_EQ(send(command), result);
            EXPECT_TRUE(heard == Tone ? probe.tone(kLow) : heard == Quiet ? probe.quiet() : probe.silentFor(400));
        }
        // The clauses may come in either order, and a new device is not muted by an old one.
        ASSERT_EQ(send("open " + platform::encodeShortPath(high) + " alias x type mpegvideo"), 0u);
        ASSERT_EQ(send("play x"), mci::kNoError);
        EXPECT_TRUE(probe.tone(kHigh));
        EXPECT_EQ(send("close x"), mci::kNoError);
    }
}

// Steps of a tenth of a second, through the commands that leave the sound on: each step is heard
// once, whole, in order and at its pitch; a pause holds the step it falls in, a stop starts again
// from the first; the end is told once it is heard. On both outputs.
TEST_F(MciTest, EveryStepIsHeardOnceAndInOrder) {
    // Longer than the second the decoder runs ahead, so that a stop comes after the queue wrapped.
    writeSteps(dir / "steps.mp3", "abcdefghabc");
    writeSteps(dir / "end.mp3", "abcd");
    const std::vector<std::tuple<const char*, std::vector<std::pair<int, const char*>>, const char*>> rows = {
        {"paused and resumed", {{0, "play tone"}, {350, "pause tone"}, {400, "resume tone"}}, "abcdefghabc"},
        {"played again, resumed playing", {{0, "play tone"}, {250, "play tone"}, {250, "resume tone"}}, "abcdefghabc"},
        {"stopped and played", {{0, "play tone"}, {350, "stop tone"}, {300, "play tone"}}, "abc[dD]?abcdefghabc"},
    };
    for (const bool alsa : {false, true}) {
        std::optional<ThroughAlsa> through;
        if (alsa) through.emplace();
        ASSERT_TRUE(probe.quiet());
        for (const auto& [what, commands, steps] : rows) {
            SCOPED_TRACE(std::string(alsa ? "ALSA, " : "sound server, ") + what);
            const std::string got = listen(dir / "steps.mp3", 2300, commands);
            EXPECT_TRUE(std::regex_match(stepsIn(got), std::regex(steps))) << got;
        }
        // The end is told once the last step is heard, not while the output still holds it.
        ASSERT_EQ(send(openCommand(dir / "end.mp3")), mci::kNoError);
        ASSERT_EQ(send("play tone"), mci::kNoError);
        EXPECT_TRUE(reads(mci::Playback::Stopped));
        const std::string after = probe.letters(300);
        EXPECT_LE(std::count_if(after.begin(), after.end(), [](char c) { return c != '.'; }), 5) << after;
        EXPECT_EQ(send("close tone"), mci::kNoError);
    }
}

// A damaged stretch in the middle of a file, however long, is stepped over and the audio after it
// is heard; so is junk before the first frame.
TEST_F(MciTest, DamagedStretchesAreSteppedOver) {
    writeSteps(dir / "first.mp3", "abcd");
    writeSteps(dir / "second.mp3", "efgh");
    writeSteps(dir / "slower.mp3", "efgh", 22050);
    const std::string first = contentsOf(dir / "first.mp3"), second = contentsOf(dir / "second.mp3");
    const std::vector<std::tuple<const char*, std::string, const char*>> rows = {
        {"1,100 bytes of junk in the middle", first + junk(1100) + second, "abcd.{0,3}fgh"},
        {"20 KB of junk in the middle", first + junk(20000) + second, "abcd.{0,3}fgh"},
        {"64 KB of junk in the middle", first + junk(65536) + second, "abcd.{0,3}fgh"},
        {"64 KB of junk before the first frame", junk(65536) + first, "abcd"},
        {"two files glued, the second at another rate", first + contentsOf(dir / "slower.mp3"), "abcd.{0,3}fgh"},
    };
    for (const auto& [what, bytes, steps] : rows) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(std::ofstream(dir / "damaged.mp3", std::ios::binary) << bytes);
        const std::string got = listen(dir / "damaged.mp3", 1100, {{0, "play tone"}});
        EXPECT_TRUE(std::regex_match(stepsIn(got), std::regex(steps))) << got;
    }
}

// While a file plays, the sound system fails in each way it can, or the decoder reads through
// 64 MB of nothing as a slow disk would: every command still answers at once, the device reads
// what is heard, and nothing spins.
TEST_F(MciTest, EveryCommandAnswersAtOnceWhateverTheSoundSystemDoes) {
    writeSteps(dir / "first.mp3", "ab");
    {
        std::ofstream file(dir / "hole.mp3", std::ios::binary);
        ASSERT_TRUE(file << contentsOf(dir / "first.mp3"));
        ASSERT_TRUE(file.seekp(64 << 20, std::ios::cur) << contentsOf(dir / "first.mp3"));
    }
    SilentServer silent;
    std::optional<ThroughAlsa> alsa;
    std::optional<ScopedEnv> env;
    const std::string pulse = getenv("PULSE_SERVER"), none = "/nonexistent";
    const std::function<void()> stop = [] { signalSoundServer(SIGSTOP); }, kill = [] { signalSoundServer(SIGKILL); };
    // Each fault, where ALSA's device (the pulse plugin) is used, and the player's own connection
    // to a sound server then; the state after the fault and after each command, played again on a
    // device of its own; "-" where the next command follows at once.
    // clang-format off
    const std::string commands[] = {"pause tone", "resume tone", "set tone audio all off", "set tone audio all on",
                                    "stop tone", "play tone", "close tone", openCommand(dir / "low.mp3"), "play tone",
                                    "close all"};
    const std::vector<std::tuple<const char*, const char*, std::function<void()>, const char*, const char*>> faults = {
        {"the decoder reading a hole", "hole.mp3", [] {}, nullptr, "LPLLLSL--L-"},
        {"the sound server stopped", "low.mp3", stop, nullptr, "LPLLLS---S-"},
        {"the sound server stopped, ALSA's device its plugin", "low.mp3", stop, pulse.c_str(), "LPLLLS---S-"},
        {"the sound server killed", "low.mp3", kill, nullptr, "SSSSSSS--S-"},
        {"a sound server that never answers", "low.mp3", [&] { kill(), env.emplace("PULSE_SERVER", silent.address()); }, nullptr, "SSSSSSS--S-"},
        {"ALSA's device failed", "low.mp3", kill, none.c_str(), "SSSSSSS--S-"},
    };
    // clang-format on
    const std::map<char, mci::Playback> states = {
        {'L', mci::Playback::Playing}, {'P', mci::Playback::Paused}, {'S', mci::Playback::Stopped}};
    for (const auto& [fault, file, make, alsaWith, after] : faults) {
        SCOPED_TRACE(fault);
        if (alsaWith) alsa.emplace(alsaWith);
        ASSERT_TRUE(probe.quiet());
        ASSERT_EQ(send(openCommand(dir / file)), mci::kNoError);
        ASSERT_EQ(send("play tone"), mci::kNoError);
        ASSERT_TRUE(file != std::string("low.mp3") || probe.tone(kLow));
        for (int i = 0; i < 11; ++i) {
            SCOPED_TRACE(i == 0 ? "the fault" : commands[i - 1]);
            sleepFor(50);  // the decoder is well into what it reads
            EXPECT_LT(msTaken([&] { i == 0 ? make() : (void)send(commands[i - 1]); }), 100.0);
            if (after[i] != '-') { EXPECT_TRUE(reads(states.at(after[i]))); }
        }
        const double cpu = cpuSeconds();
        sleepFor(500);
        EXPECT_LT(cpuSeconds() - cpu, 0.1) << "busy while the sound system failed";
        signalSoundServer(SIGCONT);
        alsa.reset();
        env.reset();
        startSoundServer();
    }
    ASSERT_EQ(send(openCommand(dir / "low.mp3")), mci::kNoError);
    EXPECT_EQ(send("play tone"), mci::kNoError);
    EXPECT_TRUE(probe.tone(kLow)) << "once the server is back, a file is heard";
}

// The length is the file's own, also where neither a header nor the file's size tells it: behind
// a big tag, and at a variable bit rate without a header; found after the first sound, it is told.
TEST_F(MciTest, TheLengthIsExact) {
    writeTone(dir / "tone.mp3", kLow, 6.0);
    writeTone(dir / "vbr.mp3", kLow, 12.0, 44100, /*vbr=*/true);
    // An ID3v2.4 tag of 5 MB: its size in four bytes of seven bits each, then padding.
    const std::string tag = std::string("ID3\x04\0\0\x02\x40\0\0", 10) + std::string(5 << 20, '\0');
    ASSERT_TRUE(std::ofstream(dir / "tagged.mp3", std::ios::binary) << tag << contentsOf(dir / "tone.mp3"));
    std::atomic<int> told = 0;  // the changes the device tells
    mci::setChangeNotifier([&] { ++told; });
    for (const auto& [name, seconds] : {std::pair{"tagged.mp3", 6.0}, {"vbr.mp3", 12.0}}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(send(openCommand(dir / name)), mci::kNoError);
        const int before = told;
        EXPECT_EQ(send("play tone"), mci::kNoError);
        within3s([] { return mci::deviceStatus().lengthUs >= 0; });
        EXPECT_NEAR(double(mci::deviceStatus().lengthUs) / 1e6, seconds, seconds / 100);
        EXPECT_TRUE(within3s([&] { return told >= before + 2; })) << "the play and the length found are told";
        EXPECT_EQ(send("close tone"), mci::kNoError);
    }
}

// The position is what has been heard: it stands still while paused and while the sound server
// stalls, and reads 0 once the output has failed; the failure is told once, and a play makes the
// output again on the server that came back.
TEST_F(MciTest, ThePositionIsWhatWasHeard) {
    std::vector<std::string> told;
    mci::setFailureReporter([&](std::string_view line) { told.emplace_back(line); });
    const auto position = [] { return double(mci::deviceStatus().positionUs) / 1e6; };
    ASSERT_EQ(send(openCommand(dir / "low.mp3")), mci::kNoError);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe.tone(kLow));
    sleepFor(700);
    const double played = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NEAR(position(), played, 0.15);
    EXPECT_EQ(send("pause tone"), mci::kNoError);
    const double paused = position();
    sleepFor(500);
    EXPECT_NEAR(position(), paused, 0.02);
    EXPECT_EQ(send("resume tone"), mci::kNoError);
    ASSERT_TRUE(probe.tone(kLow));
    signalSoundServer(SIGSTOP);
    const double stalled = position();
    sleepFor(1500);
    EXPECT_NEAR(position(), stalled, 0.55) << "it ran on while nothing was heard";
    EXPECT_EQ(mci::deviceStatus().playback, mci::Playback::Playing);
    signalSoundServer(SIGCONT);
    signalSoundServer(SIGKILL);
    EXPECT_TRUE(reads(mci::Playback::Stopped)) << "a lost output was told as playing";
    EXPECT_EQ(position(), 0.0);
    EXPECT_EQ(send("pause tone"), mci::kNonapplicableFunction);
    startSoundServer();
    EXPECT_EQ(send("play tone"), mci::kNoError);
    EXPECT_TRUE(probe.tone(kLow)) << "a play did not make the output again on the server that came back";
    mci::setFailureReporter({});
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].starts_with("the sound stopped: ")) << told[0];
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
        {"pause a b", 0, m::kUnrecognizedKeyword},
        {"resume a b", 0, m::kUnrecognizedKeyword},
        {"stop a b", 0, m::kUnrecognizedKeyword},
        {"close a b", 0, m::kUnrecognizedKeyword},
        {"resume", m::kMissingDeviceName, 0},
        {"close", m::kMissingDeviceName, 0},
        {"set", m::kMissingDeviceName, 0},
        {"close all now", 0, m::kUnrecognizedKeyword},
        {"set a video all off", 0, m::kUnrecognizedKeyword},
        {"set a audio all maybe", 0, m::kUnrecognizedKeyword},
        {"set a audio all", 0, m::kUnrecognizedKeyword},
        {"set a audio some off", 0, m::kUnrecognizedKeyword},
        {"set a audio all off now", 0, m::kUnrecognizedKeyword},
        {"Set A Audio All Off", 0, 0},
    };
    for (const auto& [text, error, malformed] : rows) {
        SCOPED_TRACE("\"" + text + "\"");
        const m::Command command = m::parseCommand(text);
        EXPECT_EQ(command.error, error);
        if (error == 0) { EXPECT_EQ(command.malformed, malformed); }
    }
    // The numbers are Windows MCI's own, which a caller written against it compares with.
    EXPECT_EQ((std::vector<MCIERROR>{m::kUnrecognizedKeyword, m::kUnrecognizedCommand, m::kInvalidDeviceName,
                                     m::kOutOfMemory, m::kFileNotFound, m::kDuplicateAlias, m::kMissingDeviceName,
                                     m::kInvalidFile, m::kMustUseShareable, m::kNonapplicableFunction}),
              (std::vector<MCIERROR>{259, 261, 263, 264, 275, 289, 292, 296, 298, 302}));
}

// A refused open leaves nothing open and never blocks, whatever the name stands for.
TEST_F(MciTest, RefusedOpensLeaveNothingOpen) {
    ASSERT_TRUE(std::ofstream(dir / "text.mp3") << "Not MPEG audio, whatever its name says.\n");
    ASSERT_TRUE(std::ofstream(dir / "junk.mp3", std::ios::binary) << junk(2 << 20));
    std::filesystem::create_directory(dir / "dir.mp3");
    ASSERT_EQ(mkfifo((dir / "fifo.mp3").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.mp3");
    std::filesystem::create_symlink("loop.mp3", dir / "loop.mp3");
    const std::vector<std::tuple<std::string, MCIERROR>> rows = {
        {openCommand(dir / "text.mp3"), mci::kInvalidFile},
        {openCommand(dir / "junk.mp3"), mci::kInvalidFile},
        {openCommand(dir / "dir.mp3"), mci::kInvalidFile},
        {openCommand(dir / "fifo.mp3"), mci::kInvalidFile},
        {openCommand(dir / "zero.mp3"), mci::kInvalidFile},
        {openCommand(dir / "missing.mp3"), mci::kFileNotFound},
        {openCommand(dir / "low.mp3/in a file.mp3"), mci::kFileNotFound},
        {openCommand(dir / (std::string(300, 'n') + ".mp3")), mci::kFileNotFound},
        {openCommand(dir / "loop.mp3"), mci::kFileNotFound},
        {"open /a%zz type mpegvideo alias tone", mci::kFileNotFound},
    };
    for (const auto& [command, result] : rows) {
        SCOPED_TRACE(command);
        EXPECT_EQ(send(command), result);
        EXPECT_FALSE(mci::anyDeviceOpen());
    }
    EXPECT_EQ(send(openCommand(dir / "low.mp3")), mci::kNoError) << "nothing stands in the way";
}

// ALSA's device opens but cannot play two channels, and no sound server runs (the one the player
// was connected to has just gone), or one never answers: each play ends stopped, says why once, in
// the words of both, and keeps no descriptor.
TEST_F(MciTest, WhenNothingCanPlayWhyIsToldOnceAndNothingIsKept) {
    const std::string config = dir / "mono.conf";
    ASSERT_TRUE(std::ofstream(config) << "pcm.!default { type multi slaves.a.pcm { type null } slaves.a.channels 1 "
                                         "bindings.0 { slave a channel 0 } }\n");
    SilentServer silent;
    SinklessServer sinkless;
    // A connection the player keeps for later devices, whose server then goes: the next open
    // does not take the kept one for the server that is named now.
    ASSERT_EQ(send(openCommand(dir / "low.mp3")), mci::kNoError);
    ASSERT_EQ(send("play tone"), mci::kNoError);
    ASSERT_TRUE(probe.tone(kLow));
    ASSERT_EQ(send("close tone"), mci::kNoError);
    signalSoundServer(SIGKILL);
    const struct Restart {
        ~Restart() { startSoundServer(); }
    } restart;
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"unix:/nonexistent", "no sound: no sound server: "},
        {silent.address(), "no sound: the sound server did not answer in time; "},
        {sinkless.address(), "no sound: the sound server refused a stream: No such entity; "},
    };
    for (const auto& [server, why] : rows) {
        SCOPED_TRACE(server);
        ScopedEnv env({{"PULSE_SERVER", server}, {"ALSA_CONFIG_PATH", config}});
        std::vector<std::string> told;
        mci::setFailureReporter([&](std::string_view line) { told.emplace_back(line); });
        long descriptors = 0;  // after the first, which may leave the libraries' own behind
        for (int i = 0; i < 3; ++i) {
            if (i == 1) descriptors = entriesIn("/proc/self/fd");
            ASSERT_EQ(send(openCommand(dir / "low.mp3")), mci::kNoError);
            EXPECT_EQ(send("play tone"), mci::kNoError);
            sleepFor(100);
            EXPECT_TRUE(reads(mci::Playback::Stopped));
            EXPECT_EQ(send("close tone"), mci::kNoError);
        }
        mci::setFailureReporter({});
        EXPECT_TRUE(within3s([&] { return entriesIn("/proc/self/fd") == descriptors; }));
        ASSERT_EQ(told.size(), 1u);
        EXPECT_TRUE(told[0].starts_with(why)) << told[0];
        EXPECT_NE(told[0].find("ALSA's default device cannot play: "), std::string::npos) << told[0];
    }
}

// Opens, plays a little of and closes one file; the result of the open.
MCIERROR openPlayClose(const std::string& path) {
    const MCIERROR opened = send("open " + platform::encodeShortPath(path) + " type mpegvideo alias corpus");
    if (opened == 0) {
        EXPECT_EQ(send("play corpus"), 0u);
        sleepFor(30);
        // At its end, both refuse: it is stopped.
        const MCIERROR paused = send("pause corpus");
        EXPECT_TRUE(paused == 0 || paused == platform::mci::kNonapplicableFunction) << paused;
        EXPECT_EQ(send("resume corpus"), paused);
        EXPECT_EQ(send("close corpus"), 0u);
    }
    return opened;
}

// Real-world MP3 data that nobody in this project wrote: every file plays or is refused with an
// error code, without a crash, a hang, a descriptor or thread left behind, or a word on stderr.
TEST(Corpus, EveryFilePlaysOrIsRefusedQuietlyAndNothingLeaks) {
    TempDir dir;
    std::vector<std::string> copies;
    for (const auto& entry : std::filesystem::directory_iterator(KORVEL_TEST_CORPUS)) {
        copies.push_back(dir / (entry.path().filename().string() + " copy.mp3"));
        ASSERT_TRUE(std::filesystem::copy_file(entry.path(), copies.back()));
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

    // Memory is measured by the soak run; what must not grow at all is counted here, and what a
    // device keeps of its file once closed shows over a few hundred opens.
    const auto residentMB = [] {
        long pages = 0, resident = 0;
        std::ifstream("/proc/self/statm") >> pages >> resident;
        return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1 << 20);
    };
    const long descriptors = entriesIn("/proc/self/fd"), threads = entriesIn("/proc/self/task");
    const double resident = residentMB();
    for (int i = 0; i < 300; ++i) openPlayClose(copies[std::size_t(i) % copies.size()]);
    EXPECT_LT(residentMB() - resident, 8.0) << "MB kept by closed devices";
    // A device's threads end on their own once closed, soon after.
    within3s([&] { return entriesIn("/proc/self/task") == threads; });
    EXPECT_EQ(entriesIn("/proc/self/fd"), descriptors) << "every file is closed again";
    EXPECT_EQ(entriesIn("/proc/self/task"), threads) << "a device's threads end with it";
}

}  // namespace
}  // namespace korvel::test
