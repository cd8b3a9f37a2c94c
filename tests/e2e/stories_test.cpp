// Each test is one whole story of a person using the player: the built (or installed) program
// on a private desktop, driven by real pointer input, heard at the sound server, seen on screen.
#include <gtest/gtest.h>

#include <climits>
#include <iostream>

#include "e2e/harness.h"

namespace korvel::e2e {
namespace {

using namespace layout;

// Stops a story at the first step that went wrong: what follows depends on it.
#define STEP(check)                                                        \
    do {                                                                   \
        const std::string failure_ = (check);                              \
        ASSERT_TRUE(failure_.empty()) << failure_ << "\n" << korvel.log(); \
    } while (false)

class Stories : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(fs::path(music_) / kDeep.file)) << "the tone files are missing";
        ASSERT_TRUE(fs::exists(KORVEL_BINARY)) << "the program is not built: " << KORVEL_BINARY;
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << desktop_.logs();
        }
    }

    // A copy of the program, so the settings it writes beside itself stay in this story.
    Launch copied() {
        fs::create_directories(desktop_.path("app"));
        fs::copy_file(KORVEL_BINARY, desktop_.path("app/korvel"));
        return {.argv = {desktop_.path("app/korvel")}, .directory = music_};
    }

    void close(Player& korvel) {
        korvel.click(onGlyphs(kClose));
        const auto status = korvel.process().waitForExit(10s);
        ASSERT_TRUE(status.has_value()) << "the program did not end within 10 s of close";
        EXPECT_EQ(describeStatus(*status), "exited with 0") << korvel.log();
    }

    // After the program was closed in the subdirectory, `ini` remembers it and the next start
    // opens there.
    void comesBackToTheSubdirectory(const Launch& launch, const std::string& ini, int pitch) {
        const std::string settings = readFile(ini);
        const std::string path = "path=" + music_ + "/" + kSubdirectory + "\n";
        EXPECT_TRUE(settings.find("[korvel]") != std::string::npos &&
                    settings.find(path) != std::string::npos)
            << ini << " should hold [korvel] and " << path << "; it holds:\n"
            << settings;
        Player korvel(desktop_, launch);
        waitForFileList(korvel, 1);
        korvel.click(row(kFiles, 0, pitch), 2);
        STEP(ears_.expectTone(kDeep, "starting again and double-clicking the first file listed"));
        close(korvel);
        EXPECT_EQ(ears_.overlaps(), "") << "two files sounded at once";
    }

    const std::string music_ = musicDirectory();
    Desktop desktop_;
    Listener ears_{desktop_};
};

// A double click plays the file under the pointer; pause, stop and mute silence it, and resume,
// play and unmute bring the same file back; next and previous move along the list; opening a
// subdirectory leaves the file playing until another is chosen. Never two files at once.
TEST_F(Stories, ListeningThroughTheTransportRow) {
    Player korvel(desktop_, copied());
    const int pitch = waitForFileList(korvel, 3);
    STEP(ears_.expectSilence("the window first shows"));
    struct Action {
        const char* what;
        QPoint at;
        int clicks;
        const Tone* heard;  // silence when null
    };
    const Action actions[] = {
        {"a double click on the second file", row(kFiles, 1, pitch), 2, &kMiddle},
        {"a click on pause", onGlyphs(kPause), 1, nullptr},
        {"a second click on pause (resume)", onGlyphs(kPause), 1, &kMiddle},
        {"a click on next ('>')", onGlyphs(kNext), 1, &kHigh},
        {"a click on previous ('<')", onGlyphs(kPrevious), 1, &kMiddle},
        {"a click on mute", onGlyphs(kMute), 1, nullptr},
        {"a second click on mute (unmute)", onGlyphs(kMute), 1, &kMiddle},
        {"a click on stop", onGlyphs(kStop), 1, nullptr},
        {"a click on play after stop", onGlyphs(kPlay), 1, &kMiddle},
        {"opening the subdirectory (the playing file goes on)", row(kDirectories, 1, pitch), 2,
         &kMiddle},
    };
    for (const Action& action : actions) {
        korvel.click(action.at, action.clicks);
        STEP(action.heard != nullptr ? ears_.expectTone(*action.heard, action.what)
                                     : ears_.expectSilence(action.what));
    }
    waitForFileList(korvel, 1);
    korvel.click(row(kFiles, 0, pitch), 2);
    STEP(ears_.expectTone(kDeep, "a double click on the subdirectory's file"));
    EXPECT_EQ(ears_.overlaps(), "") << "two files sounded at once";
    EXPECT_TRUE(korvel.process().running()) << "the program ended during the story";
}

// The window first shows where it was placed, follows the title strip when it is dragged,
// minimises without stopping the sound, and closes cleanly, remembering its directory.
TEST_F(Stories, DragMinimiseCloseAndComeBack) {
    const Launch launch = copied();
    int pitch = 0;
    {
        Player korvel(desktop_, launch);
        pitch = waitForFileList(korvel, 3);
        EXPECT_EQ(korvel.origin(), kFirstShown) << "where the window first shows";
        korvel.click(row(kDirectories, 1, pitch), 2);
        waitForFileList(korvel, 1);
        korvel.click(row(kFiles, 0, pitch), 2);
        STEP(ears_.expectTone(kDeep, "a double click on the subdirectory's file"));

        const QPoint before = korvel.origin();
        EXPECT_EQ(korvel.drag(QPoint(60, 8), QPoint(90, 60), 3), "")
            << "the window should follow the dragged title strip";
        EXPECT_EQ(korvel.origin(), before + QPoint(90, 60)) << "the window moves as far as dragged";

        korvel.click(onGlyphs(kMinimise));
        EXPECT_TRUE(waitUntil([&] { return korvel.windowState() == "Iconic"; }, 5s))
            << "expected the window minimised (Iconic); it is " << korvel.windowState();
        STEP(ears_.expectTone(kDeep, "minimising (the file plays on)"));
        korvel.restore();
        EXPECT_TRUE(waitUntil([&] { return korvel.windowState() == "Normal"; }, 5s))
            << "expected the window back after it was activated; it is " << korvel.windowState();
        waitForFileList(korvel, 1);

        close(korvel);
        STEP(ears_.expectSilence("closing the window (the sound ends with the program)"));
    }
    comesBackToTheSubdirectory(launch, desktop_.path("app/korvel.ini"), pitch);
}

// "highlight" when a label's brightest pixel is white, "grey" when it is the grey of the
// others, else the colour seen. Thin glyphs such as "<" cover no pixel whole, so their brightest
// pixel is a blend of the text colour and black; grey text never gets brighter than the grey.
std::string textColour(const Screenshot& shot, const QRect& label) {
    const QColor c = shot.brightest(label);
    const bool grey = std::abs(c.red() - c.green()) <= 8 && std::abs(c.green() - c.blue()) <= 8;
    if (grey && c.red() >= 160) {
        return "highlight";
    }
    return grey && c.red() >= 64 && c.red() <= 136 ? "grey" : describe(c);
}

bool notBlack(const QColor& c) {
    return c != QColor(0, 0, 0);
}
bool white(const QColor& c) {
    return c.red() >= 230 && c.green() >= 230 && c.blue() >= 230;
}
bool red(const QColor& c) {
    return c.red() >= 160 && c.green() <= 60 && c.blue() <= 60;
}

// Every control in its colours where the layout puts it, and the hovered transport label in the
// highlight colour while the others are grey.
TEST_F(Stories, TheScreenShowsTheLayoutAndTheHoveredLabel) {
    Player korvel(desktop_, copied());
    waitForFileList(korvel, 3);

    const std::pair<const char*, QRect> labels[] = {
        {"previous", kPrevious}, {"pause", kPause}, {"stop", kStop},        {"next", kNext},
        {"play", kPlay},         {"mute", kMute},   {"count line", kCount},
    };
    // The labels start white before any movement, so only the whole pattern tells that the
    // hover has been drawn.
    for (const auto& hovered : labels) {
        korvel.hover(onGlyphs(hovered.second));
        std::string seen;
        const bool shown = waitUntil(
            [&] {
                const Screenshot shot = korvel.screenshot();
                bool match = true;
                seen.clear();
                for (const auto& [name, label] : labels) {
                    const std::string colour = textColour(shot, label);
                    match = match && colour == (label == hovered.second ? "highlight" : "grey");
                    seen += std::string(" ") + name + ": " + colour + ";";
                }
                return match;
            },
            5s, 50ms);
        EXPECT_TRUE(shown) << "with the pointer on " << hovered.first
                           << ", expected it in the highlight colour and the others grey; saw"
                           << seen;
    }

    const Screenshot shot = korvel.screenshot();
    const QRect titleText(0, 0, 300, 17);  // left of minimise
    const std::tuple<const char*, QRect, QColor> backgrounds[] = {
        {"the window", QRect(QPoint(0, 0), kClientSize), QColor(0, 0, 0)},
        {"the title strip", kTitle, QColor(0, 0, 0)},
        {"minimise", kMinimise, QColor(0, 0, 0)},
        {"close", kClose, QColor(0, 0, 0)},
        {"the directory list", kDirectories, QColor(0, 0, 128)},
        {"the file list", kFiles, QColor(0, 128, 128)},
        {"below the file list", kFiles.translated(0, kFiles.height() + 4), QColor(0, 0, 0)},
    };
    for (const auto& [what, area, colour] : backgrounds) {
        EXPECT_EQ(shot.dominant(area), colour) << "the background of " << what;
    }
    const std::tuple<const char*, QRect, Screenshot::Test, int, int> pixels[] = {
        {"not black in the empty left part", QRect(8, 24, 140, 80), notBlack, 0, 0},
        {"white in the title text", titleText, white, 21, INT_MAX},
        {"red in the title text", titleText, red, 0, 0},
        {"red in minimise", kMinimise, red, 4, INT_MAX},
        {"white in minimise", kMinimise, white, 0, 0},
        {"red in close", kClose, red, 4, INT_MAX},
        {"white in close", kClose, white, 0, 0},
        {"white in the file names", kFiles, white, 31, INT_MAX},
    };
    for (const auto& [what, area, test, least, most] : pixels) {
        const int n = shot.count(area, test);
        EXPECT_TRUE(n >= least && n <= most)
            << "pixels " << what << ": " << n << ", expected " << least << " to " << most;
    }
}

// The icon as the program draws it: a white sheet on a transparent ground, a cyan band on top.
void expectIcon(const fs::path& file, int size) {
    SCOPED_TRACE(file);
    QImage icon;
    ASSERT_TRUE(icon.load(QString::fromStdString(file.string()), "PNG"));
    EXPECT_EQ(icon.size(), QSize(size, size));
    icon = icon.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(icon.pixelColor(size / 2, 2), QColor(0, 255, 255)) << "cyan band";
    EXPECT_EQ(icon.pixelColor(size / 2, size * 3 / 4), QColor(255, 255, 255)) << "white sheet";
    EXPECT_EQ(icon.pixelColor(0, size / 2).alpha(), 0) << "transparent ground";
}

using Installed = Stories;

// `cmake --install` puts what a desktop needs in place, and the installed program, which cannot
// write beside itself, remembers its directory in the user's configuration.
TEST_F(Installed, StartsPlaysAndRemembersItsDirectoryInTheUsersConfiguration) {
    const fs::path prefix = desktop_.path("prefix");
    const ToolResult install =
        runTool({KORVEL_CMAKE, "--install", KORVEL_BUILD_DIR, "--prefix", prefix.string()},
                {{"PATH", kPath}}, 60s);
    ASSERT_EQ(install.status, 0) << "cmake --install: " << describeStatus(install.status) << ":\n"
                                 << install.out;
    for (const char* file : {"bin/korvel", "share/applications/korvel.desktop",
                             "share/metainfo/io.github.korvel.korvel.metainfo.xml",
                             "share/icons/hicolor/scalable/apps/korvel.svg"}) {
        EXPECT_TRUE(fs::is_regular_file(prefix / file)) << "not installed: " << file;
    }
    EXPECT_NE(fs::status(prefix / "bin/korvel").permissions() & fs::perms::others_exec,
              fs::perms::none)
        << "bin/korvel is executable";
    for (const int size : {16, 32}) {
        const std::string dir = std::to_string(size) + "x" + std::to_string(size);
        expectIcon(prefix / "share/icons/hicolor" / dir / "apps/korvel.png", size);
    }

    // As root, which writes anywhere, the program runs as an unprivileged user.
    fs::permissions(prefix / "bin", fs::perms(0555));
    const std::string config = writableByProgram(desktop_.path("user-config"));
    const Launch launch{.argv = {prefix / "bin/korvel"},
                        .environment = {{"XDG_CONFIG_HOME", config},
                                        {"HOME", writableByProgram(desktop_.path("user-home"))}},
                        .directory = music_,
                        .unprivileged = true};
    int pitch = 0;
    {
        Player korvel(desktop_, launch);
        pitch = waitForFileList(korvel, 3);
        korvel.click(row(kFiles, 0, pitch), 2);
        STEP(ears_.expectTone(kLow, "a double click on the first file"));
        korvel.click(row(kDirectories, 1, pitch), 2);
        waitForFileList(korvel, 1);
        close(korvel);
    }
    EXPECT_FALSE(fs::exists(prefix / "bin/korvel.ini")) << "settings beside a read-only program";
    comesBackToTheSubdirectory(launch, config + "/korvel/korvel.ini", pitch);
}

}  // namespace
}  // namespace korvel::e2e
