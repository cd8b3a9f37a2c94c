// The player seen from outside, as a person meets it: the built program runs as a separate
// process on a private X desktop with a window manager, plays through a private sound server,
// and is driven by real pointer input at its window's pixels. Each test is one whole story.
#include <gtest/gtest.h>

#include <QColor>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "e2e/desktop.h"
#include "e2e/listener.h"
#include "e2e/player.h"
#include "e2e/session.h"
#include "e2e/wait.h"

namespace korvel::e2e {
namespace {

namespace fs = std::filesystem;

// Stops a story at the first step that went wrong: what follows depends on it.
#define STEP(check)                                                        \
    do {                                                                   \
        const std::string failure_ = (check);                              \
        ASSERT_TRUE(failure_.empty()) << failure_ << "\n" << korvel.log(); \
    } while (false)

class Stories : public ::testing::Test {
  protected:
    void SetUp() override {
        music_ = musicDirectory();
        ASSERT_TRUE(fs::exists(fs::path(music_) / kDeep.file)) << "the tone files are missing";
        ASSERT_TRUE(fs::exists(KORVEL_BINARY)) << "the program is not built: " << KORVEL_BINARY;
    }

    void TearDown() override {
        if (HasFailure() && desktop_) {
            std::cerr << desktop_->logs();
        }
    }

    Desktop& desktop() {
        if (!desktop_) {
            desktop_ = std::make_unique<Desktop>();
        }
        return *desktop_;
    }

    Player::Options inMusic(const std::string& program) const {
        return {program, music_, {}, false};
    }

    std::string music_;
    std::unique_ptr<Desktop> desktop_;
};

// Browsing and the transport row: a double click plays the file under the pointer; pause,
// stop and mute silence it, and resume, play and unmute bring the same file back; next and
// previous move along the list; opening a subdirectory leaves the file playing until another is
// chosen. Never two files at once.
TEST_F(Stories, ListeningThroughTheTransportRow) {
    Desktop& d = desktop();
    Listener ears(d, allPitches());
    Player korvel(d, inMusic(copyProgram(KORVEL_BINARY, d.path("app"))));
    const ListRows rows = waitForFileList(korvel, 3);
    using namespace layout;

    STEP(expectSilence(ears, "the window first shows"));

    korvel.doubleClick(rows.file(1));
    STEP(expectTone(ears, kMiddle, "a double click on the second file"));

    korvel.click(onGlyphs(kPause));
    STEP(expectSilence(ears, "a click on pause"));
    korvel.click(onGlyphs(kPause));
    STEP(expectTone(ears, kMiddle, "a second click on the pause label (resume)"));

    korvel.click(onGlyphs(kNext));
    STEP(expectTone(ears, kHigh, "a click on next ('>')"));
    korvel.click(onGlyphs(kPrevious));
    STEP(expectTone(ears, kMiddle, "a click on previous ('<')"));

    korvel.click(onGlyphs(kMute));
    STEP(expectSilence(ears, "a click on mute"));
    korvel.click(onGlyphs(kMute));
    STEP(expectTone(ears, kMiddle, "a second click on the mute label (unmute)"));

    korvel.click(onGlyphs(kStop));
    STEP(expectSilence(ears, "a click on stop"));
    korvel.click(onGlyphs(kPlay));
    STEP(expectTone(ears, kMiddle, "a click on play after stop"));

    korvel.doubleClick(rows.directory(1));
    waitForFileList(korvel, 1);
    STEP(expectTone(ears, kMiddle, "opening the subdirectory (the playing file goes on)"));
    korvel.doubleClick(rows.file(0));
    STEP(expectTone(ears, kDeep, "a double click on the subdirectory's file"));

    EXPECT_TRUE(ears.overlaps().empty())
        << "two files sounded at once: " << ::testing::PrintToString(ears.overlaps());
    EXPECT_TRUE(korvel.process().running()) << "the program ended during the story";
}

// The window's own chrome: it first shows where it was placed, follows the title strip when it
// is dragged, minimises without stopping the sound, and closes cleanly, remembering the
// directory it showed, so the next start opens there.
TEST_F(Stories, DragMinimiseCloseAndComeBack) {
    Desktop& d = desktop();
    Listener ears(d, allPitches());
    const std::string program = copyProgram(KORVEL_BINARY, d.path("app"));
    const std::string settings = d.path("app/korvel.ini");
    const std::string subdirectory = music_ + "/" + kSubdirectory;
    using namespace layout;
    int pitch = 0;
    {
        Player korvel(d, inMusic(program));
        const ListRows rows = waitForFileList(korvel, 3);
        pitch = rows.pitch();
        EXPECT_EQ(korvel.origin(), kFirstShown) << "where the window first shows";

        korvel.doubleClick(rows.directory(1));
        waitForFileList(korvel, 1);
        korvel.doubleClick(rows.file(0));
        STEP(expectTone(ears, kDeep, "a double click on the subdirectory's file"));

        const QPoint before = korvel.origin();
        std::string seen;
        EXPECT_TRUE(korvel.drag(QPoint(60, 8), QPoint(90, 60), 3, seen))
            << "the window should follow the dragged title strip: " << seen;
        EXPECT_EQ(korvel.origin(), before + QPoint(90, 60))
            << "the window moves by the distance the title strip was dragged";

        korvel.click(onGlyphs(kMinimise));
        EXPECT_TRUE(waitUntil([&] { return korvel.windowState() == "Iconic"; }, 5s))
            << "expected the window manager to show the window minimised (Iconic); it is "
            << korvel.windowState();
        STEP(expectTone(ears, kDeep, "minimising (the file plays on)"));

        korvel.restore();
        EXPECT_TRUE(waitUntil([&] { return korvel.windowState() == "Normal"; }, 5s))
            << "expected the window back after it was activated; it is " << korvel.windowState();
        waitForFileList(korvel, 1);

        korvel.click(onGlyphs(kClose));
        const auto status = korvel.process().waitForExit(10s);
        ASSERT_TRUE(status.has_value()) << "the program did not end within 10 s of close";
        EXPECT_EQ(describeStatus(*status), "exited with 0") << korvel.log();
        STEP(expectSilence(ears, "closing the window (the sound ends with the program)"));
    }
    const std::string ini = readFile(settings);
    EXPECT_NE(ini.find("[korvel]"), std::string::npos) << "korvel.ini: " << ini;
    EXPECT_NE(ini.find("path=" + subdirectory + "\n"), std::string::npos)
        << "korvel.ini should remember " << subdirectory << "; it holds:\n"
        << ini;

    // Started again from the same working directory, it opens where it was closed.
    Player korvel(d, inMusic(program));
    waitForFileList(korvel, 1);
    korvel.doubleClick(ListRows(pitch).file(0));
    STEP(expectTone(ears, kDeep, "starting again and double-clicking the first file listed"));
    korvel.click(onGlyphs(kClose));
    const auto status = korvel.process().waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "the program did not end within 10 s of close";
    EXPECT_EQ(describeStatus(*status), "exited with 0") << korvel.log();
    EXPECT_TRUE(ears.overlaps().empty())
        << "two files sounded at once: " << ::testing::PrintToString(ears.overlaps());
}

bool grey(const QColor& c) {
    return std::abs(c.red() - c.green()) <= 8 && std::abs(c.green() - c.blue()) <= 8;
}

// What a label's text shows: "highlight" when its brightest pixel is the highlight colour
// (white on this desktop), "grey" when it is the grey of the others, else the colour seen.
std::string textColour(const Screenshot& shot, const QRect& label) {
    const QColor c = shot.brightest(label);
    // Thin glyphs such as "<" cover no pixel whole, so their brightest pixel is a blend of the
    // text colour and black; grey text never gets brighter than the grey itself.
    if (grey(c) && c.red() >= 160) {
        return "highlight";
    }
    if (grey(c) && c.red() >= 64 && c.red() <= 136) {
        return "grey";
    }
    return describe(c);
}

struct HoverCase {
    const char* name;
    QRect label;
};

// Every control in its colours where the layout puts it, and the hovered transport label in
// the highlight colour while the others are grey, as the screen shows them.
TEST_F(Stories, TheScreenShowsTheLayoutAndTheHoveredLabel) {
    Desktop& d = desktop();
    Player korvel(d, inMusic(copyProgram(KORVEL_BINARY, d.path("app"))));
    waitForFileList(korvel, 3);
    using namespace layout;

    const HoverCase palette[] = {
        {"previous", kPrevious}, {"pause", kPause}, {"stop", kStop},        {"next", kNext},
        {"play", kPlay},         {"mute", kMute},   {"count line", kCount},
    };
    // The labels start white before any movement, so only the whole pattern tells that the
    // hover has been drawn.
    for (const HoverCase& hovered : palette) {
        korvel.hover(onGlyphs(hovered.label));
        std::string seen;
        const bool shown = waitUntil(
            [&] {
                const Screenshot shot = korvel.screenshot();
                bool match = true;
                seen.clear();
                for (const HoverCase& member : palette) {
                    const std::string colour = textColour(shot, member.label);
                    const bool on = member.label == hovered.label;
                    match = match && colour == (on ? "highlight" : "grey");
                    seen += std::string(" ") + member.name + ": " + colour + ";";
                }
                return match;
            },
            5s, 50ms);
        EXPECT_TRUE(shown) << "with the pointer on " << hovered.name
                           << ", expected it in the highlight colour and the others grey; saw"
                           << seen;
    }

    const Screenshot shot = korvel.screenshot();
    const auto black = [](const QColor& c) { return c == QColor(0, 0, 0); };
    const auto white = [](const QColor& c) {
        return c.red() >= 230 && c.green() >= 230 && c.blue() >= 230;
    };
    const auto red = [](const QColor& c) {
        return c.red() >= 160 && c.green() <= 60 && c.blue() <= 60;
    };
    EXPECT_EQ(shot.dominant(QRect(QPoint(0, 0), kClientSize)), QColor(0, 0, 0))
        << "the window is black";
    EXPECT_EQ(shot.count(QRect(8, 24, 140, 80), [&](const QColor& c) { return !black(c); }), 0)
        << "the window's empty left part is all black";
    EXPECT_EQ(shot.dominant(kTitle), QColor(0, 0, 0)) << "title strip background";
    EXPECT_GT(shot.count(QRect(0, 0, 300, 17), white), 20) << "title strip text is white";
    EXPECT_EQ(shot.count(QRect(0, 0, 300, 17), red), 0) << "no red left of minimise";
    for (const QRect& r : {kMinimise, kClose}) {
        EXPECT_EQ(shot.dominant(r), QColor(0, 0, 0)) << "minimise/close background";
        EXPECT_GT(shot.count(r, red), 3) << "minimise/close glyphs are red";
        EXPECT_EQ(shot.count(r, white), 0) << "minimise/close glyphs are red, not white";
    }
    EXPECT_EQ(shot.dominant(kDirectories), QColor(0, 0, 128)) << "directory list is navy";
    EXPECT_EQ(shot.dominant(kFiles), QColor(0, 128, 128)) << "file list is teal";
    EXPECT_GT(shot.count(kFiles, white), 30) << "file names are white";
    EXPECT_EQ(shot.dominant(kFiles.translated(0, kFiles.height() + 4)), QColor(0, 0, 0))
        << "black below the file list";
}

}  // namespace
}  // namespace korvel::e2e
