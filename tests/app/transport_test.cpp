#include "app/captions.h"
#include "window_fixture.h"

namespace korvel::test {
namespace {

using Commands = std::vector<std::string>;

// Three files of distinct pitch, in list order: low, mid, high.
class TransportTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        addTone("1 low.mp3", kLow);
        addTone("2 mid.mp3", kMid);
        addTone("3 high.mp3", kHigh);
        openWindow();
    }
    void playRow(int row) {
        doubleClickFile(row);
        ASSERT_TRUE(probe.waitForTone(pitch(row), kHear)) << "row " << row << " not heard";
        log.clear();
    }
    static double pitch(int row) { return row == 0 ? kLow : row == 1 ? kMid : kHigh; }
    static std::string name(int row) {
        return row == 0 ? "1 low.mp3" : row == 1 ? "2 mid.mp3" : "3 high.mp3";
    }
};

TEST_F(TransportTest, PauseSilencesAndResumeContinuesTheSameFile) {
    playRow(1);
    click(window->Label6);
    EXPECT_EQ(log.commands(), Commands{"pause tivoran"});
    EXPECT_EQ(window->Label6->Caption(), captions::kResume);
    EXPECT_TRUE(probe.waitForQuiet(kHear)) << "still sounding while paused";

    log.clear();
    click(window->Label6);
    EXPECT_EQ(log.commands(), Commands{"resume tivoran"});
    EXPECT_EQ(window->Label6->Caption(), captions::kPause);
    EXPECT_TRUE(probe.waitForTone(kMid, kHear)) << "the same file did not go on";
}

TEST_F(TransportTest, StopSilencesClosesAllAndShowsPauseAgain) {
    playRow(0);
    click(window->Label6);  // paused
    log.clear();
    click(window->Label7);
    EXPECT_EQ(log.commands(), (Commands{"stop tivoran", "close all"}));
    EXPECT_EQ(window->Label6->Caption(), captions::kPause) << "a stopped device is not paused";
    EXPECT_TRUE(probe.waitForQuiet(kHear));
    EXPECT_FALSE(platform::mci::anyDeviceOpen());
}

TEST_F(TransportTest, NextAndPreviousPlayTheNeighbourAndResetPause) {
    playRow(1);
    click(window->Label6);  // paused
    log.clear();
    click(window->Label8);
    EXPECT_EQ(window->File1->ListIndex(), 2);
    EXPECT_EQ(log.commands(), playCommands(name(2)));
    EXPECT_EQ(window->Label6->Caption(), captions::kPause);
    EXPECT_TRUE(probe.waitForTone(kHigh, kHear)) << "next did not play the next file";

    log.clear();
    click(window->Label9);
    click(window->Label9);
    EXPECT_EQ(window->File1->ListIndex(), 0);
    EXPECT_EQ(log.commands().size(), 8u);
    EXPECT_TRUE(probe.waitForTone(kLow, kHear)) << "previous did not play the first file";
}

TEST_F(TransportTest, AQuickDoubleClickOnNextMovesTwoFiles) {
    playRow(0);
    QTest::mouseDClick(window->Label8, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(window->File1->ListIndex(), 2);
    EXPECT_TRUE(probe.waitForTone(kHigh, kHear));
}

TEST_F(TransportTest, NextWithNothingSelectedPlaysTheFirstFile) {
    click(window->Label8);
    EXPECT_EQ(window->File1->ListIndex(), 0);
    EXPECT_EQ(log.commands(), playCommands(name(0)));
    EXPECT_TRUE(probe.waitForTone(kLow, kHear));
}

// The guards: each of these leaves the playing file alone and sends nothing.
struct GuardCase {
    const char* name;
    int playing;   // row playing before the click
    int selected;  // selection at the click (-1: none)
    platform::Label* frmKORVEL::*label;
};

TEST_F(TransportTest, GuardsSendNothingAndKeepTheSound) {
    const std::vector<GuardCase> rows = {
        {"next on the last file", 2, 2, &frmKORVEL::Label8},
        {"previous on the first file", 0, 0, &frmKORVEL::Label9},
        {"previous with nothing selected", 1, -1, &frmKORVEL::Label9},
        {"pause with nothing selected", 1, -1, &frmKORVEL::Label6},
        {"stop with nothing selected", 1, -1, &frmKORVEL::Label7},
    };
    for (const GuardCase& row : rows) {
        SCOPED_TRACE(row.name);
        playRow(row.playing);
        window->File1->setListIndex(static_cast<std::int16_t>(row.selected));
        const QString pauseCaption = window->Label6->Caption();
        click(window.get()->*row.label);
        EXPECT_TRUE(log.commands().empty());
        EXPECT_EQ(window->File1->ListIndex(), row.selected);
        EXPECT_EQ(window->Label6->Caption(), pauseCaption);
        EXPECT_TRUE(probe.waitForTone(pitch(row.playing), kHear)) << "the sound changed";
    }
}

TEST_F(TransportTest, MuteSilencesAndUnmuteBringsTheSameFileBack) {
    playRow(2);
    click(window->Label4);
    EXPECT_EQ(log.commands(), Commands{"set tivoran audio all off"});
    EXPECT_EQ(window->Label4->Caption(), captions::kUnmute);
    EXPECT_TRUE(probe.waitForQuiet(kHear));
    log.clear();
    click(window->Label4);
    EXPECT_EQ(log.commands(), Commands{"set tivoran audio all on"});
    EXPECT_EQ(window->Label4->Caption(), captions::kMute);
    EXPECT_TRUE(probe.waitForTone(kHigh, kHear));
}

// While the caption says muted, no newly started file may be heard.
TEST_F(TransportTest, MuteHoldsAcrossFiles) {
    playRow(0);
    click(window->Label4);
    ASSERT_TRUE(probe.waitForQuiet(kHear));
    log.clear();
    doubleClickFile(1);
    Commands expected = playCommands(name(1));
    expected.insert(expected.begin() + 3, "set tivoran audio all off");
    EXPECT_EQ(log.commands(), expected);
    EXPECT_FALSE(probe.heardSoundWithin(std::chrono::milliseconds(400)));
    click(window->Label8);
    EXPECT_FALSE(probe.heardSoundWithin(std::chrono::milliseconds(400)));
    click(window->Label4);
    EXPECT_TRUE(probe.waitForTone(kHigh, kHear)) << "unmute did not bring the new file back";
}

TEST_F(TransportTest, MuteSendsItsCommandEvenWithNothingOpen) {
    click(window->Label4);
    EXPECT_EQ(log.commands(), Commands{"set tivoran audio all off"});
    EXPECT_EQ(window->Label4->Caption(), captions::kUnmute);
}

TEST_F(WindowTest, EveryTransportLabelIsHarmlessInAnEmptyDirectory) {
    openWindow();
    ASSERT_EQ(window->File1->ListCount(), 0);
    for (platform::Label* label :
         {window->Label5, window->Label6, window->Label7, window->Label8, window->Label9}) {
        click(label);
    }
    EXPECT_EQ(window->File1->ListIndex(), -1);
    EXPECT_EQ(window->Label6->Caption(), captions::kPause);
    EXPECT_FALSE(platform::mci::anyDeviceOpen());
    EXPECT_FALSE(probe.heardSoundWithin(std::chrono::milliseconds(200)));
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace korvel::test
