#include <filesystem>

#include "app/captions.h"
#include "platform/text.h"
#include "window_fixture.h"

namespace korvel::test {
namespace {

using Commands = std::vector<std::string>;

class PlayTest : public WindowTest {};

TEST_F(PlayTest, DoubleClickPlaysTheFileAndSendsTheFourCommands) {
    addTone("a low.mp3", kLow);
    addTone("b mid.mp3", kMid);
    openWindow();
    doubleClickFile(1);
    EXPECT_EQ(log.commands(), playCommands("b mid.mp3"));
    EXPECT_TRUE(probe.waitForTone(kMid, kHear)) << "the double-clicked file was not heard";
}

TEST_F(PlayTest, StartingAnotherFileStopsTheFirstForGood) {
    addTone("a low.mp3", kLow);
    addTone("b high.mp3", kHigh);
    openWindow();
    doubleClickFile(0);
    ASSERT_TRUE(probe.waitForTone(kLow, kHear));
    doubleClickFile(1);
    EXPECT_TRUE(probe.waitForTone(kHigh, kHear)) << "the second file was not heard";
    // From here on only the second file sounds: sample the output a few times.
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(80);
        const double heard = probe.dominantFrequency();
        EXPECT_NEAR(heard, kHigh, kHigh * 0.03) << "heard " << heard << " Hz";
    }
    EXPECT_EQ(log.commands().size(), 8u);
}

TEST_F(PlayTest, PlayLabelPlaysTheSelectedFile) {
    addTone("a low.mp3", kLow);
    addTone("b mid.mp3", kMid);
    openWindow();
    window->File1->setListIndex(0);
    click(window->Label5);
    EXPECT_EQ(log.commands(), playCommands("a low.mp3"));
    EXPECT_TRUE(probe.waitForTone(kLow, kHear));
}

// Names that carry command words, quotes, percent signs or a backslash must still play the
// right file: the short form they are sent in can carry none of them.
TEST_F(PlayTest, AnyFileNamePlaysTheRightFile) {
    const std::vector<std::string> names = {
        "x alias y.mp3",   "a type waveaudio.mp3", "100%.mp3", "\"quoted\".mp3", "back\\slash.mp3",
        "caf\xC3\xA9.mp3", "raw\xFF\xFE byte.mp3"};
    addTone("decoy.mp3", kHigh);  // any mix-up would play this one
    for (const std::string& name : names) {
        addTone(name, kLow);
    }
    openWindow();
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const QString shown = platform::fromAnsi(name);
        const auto found = window->File1->findItems(shown, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << "the list does not show the file";
        log.clear();
        doubleClickFile(window->File1->row(found.first()));
        ASSERT_EQ(log.commands().size(), 4u);
        EXPECT_EQ(log.commands()[2], "open " + shortPathOf(name) + " type mpegvideo alias tivoran");
        EXPECT_EQ(log.results()[2], 0u) << "the open was refused";
        EXPECT_TRUE(probe.waitForTone(kLow, kHear)) << "the file was not heard";
    }
}

TEST_F(PlayTest, PlayResetsThePausedCaption) {
    addTone("a low.mp3", kLow);
    openWindow();
    window->Label6->setCaption(captions::kResume);
    doubleClickFile(0);
    EXPECT_EQ(window->Label6->Caption(), captions::kPause);
}

// With nothing selected the play label only stops what plays: nothing new is opened.
TEST_F(PlayTest, PlayWithNothingSelectedOnlyStops) {
    addTone("a low.mp3", kLow);
    openWindow();
    doubleClickFile(0);
    ASSERT_TRUE(probe.waitForTone(kLow, kHear));
    window->File1->setListIndex(-1);
    log.clear();
    click(window->Label5);
    ASSERT_EQ(log.commands().size(), 4u);
    EXPECT_EQ(log.commands()[0], "stop tivoran");
    EXPECT_EQ(log.commands()[1], "close tivoran");
    EXPECT_NE(log.results()[2], 0u) << "a directory was opened as a file";
    EXPECT_TRUE(probe.waitForQuiet(kHear));
    EXPECT_FALSE(platform::mci::anyDeviceOpen());
}

TEST_F(PlayTest, ChangingTheDirectoryKeepsThePlayingFileAndRefillsTheList) {
    addTone("a low.mp3", kLow);
    std::filesystem::create_directory(*music / "sub");
    writeToneMp3(*music / "sub/one.mp3", kMid, 0.3);
    writeToneMp3(*music / "sub/two.MP3", kMid, 0.3);
    openWindow();
    doubleClickFile(0);
    ASSERT_TRUE(probe.waitForTone(kLow, kHear));

    // Open "sub" the way a user does: double-click its entry in the directory list.
    const auto entries = window->Dir1->findItems("sub", Qt::MatchEndsWith);
    ASSERT_EQ(entries.size(), 1);
    const QPoint at = window->Dir1->visualItemRect(entries.first()).center();
    QTest::mouseDClick(window->Dir1->viewport(), Qt::LeftButton, {}, at);

    EXPECT_EQ(window->Dir1->Path().toStdString(), *music / "sub");
    EXPECT_EQ(window->File1->Path(), window->Dir1->Path());
    EXPECT_EQ(window->File1->ListCount(), 2);
    EXPECT_EQ(window->File1->ListIndex(), -1);
    EXPECT_TRUE(probe.waitForTone(kLow, kHear)) << "changing the directory stopped the sound";
}

}  // namespace
}  // namespace korvel::test
