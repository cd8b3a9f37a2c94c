// The player as `cmake --install` leaves it: the files a desktop needs in their places, and a
// program that starts, plays and remembers its directory where it cannot write beside itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <filesystem>
#include <iostream>

#include "e2e/desktop.h"
#include "e2e/listener.h"
#include "e2e/player.h"
#include "e2e/session.h"
#include "support/temp_dir.h"

namespace korvel::e2e {
namespace {

namespace fs = std::filesystem;

#define STEP(check)                                                        \
    do {                                                                   \
        const std::string failure_ = (check);                              \
        ASSERT_TRUE(failure_.empty()) << failure_ << "\n" << korvel.log(); \
    } while (false)

constexpr const char* kMetainfo = "share/metainfo/io.github.korvel.korvel.metainfo.xml";

struct InstalledFile {
    const char* path;  // relative to the prefix
    bool executable;
};

const InstalledFile kInstalled[] = {
    {"bin/korvel", true},
    {"share/applications/korvel.desktop", false},
    {kMetainfo, false},
    {"share/icons/hicolor/16x16/apps/korvel.png", false},
    {"share/icons/hicolor/32x32/apps/korvel.png", false},
    {"share/icons/hicolor/scalable/apps/korvel.svg", false},
};

// A directory the program, which may run as another user than the test, can write to.
std::string writableByProgram(const std::string& path) {
    fs::create_directories(path);
    fs::permissions(path, fs::perms(0700));
    if (runningAsRoot() && chown(path.c_str(), unprivilegedUid(), unprivilegedGid()) != 0) {
        throw std::runtime_error("cannot hand " + path + " to the unprivileged user");
    }
    return path;
}

// The icon as the program draws it: a white sheet on a transparent ground with a cyan band
// across its top.
void expectIcon(const fs::path& file, int size) {
    QImage icon;
    ASSERT_TRUE(icon.load(QString::fromStdString(file.string()), "PNG")) << file;
    EXPECT_EQ(icon.size(), QSize(size, size)) << file;
    icon = icon.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(icon.pixelColor(size / 2, 2), QColor(0, 255, 255)) << "cyan band of " << file;
    EXPECT_EQ(icon.pixelColor(size / 2, size * 3 / 4), QColor(255, 255, 255))
        << "white sheet of " << file;
    EXPECT_EQ(icon.pixelColor(0, size / 2).alpha(), 0) << "transparent ground of " << file;
}

TEST(Installed, StartsPlaysAndRemembersItsDirectoryInTheUsersConfiguration) {
    const std::string music = musicDirectory();
    ASSERT_TRUE(fs::exists(fs::path(music) / kDeep.file)) << "the tone files are missing";

    korvel::test::TempDir dir;
    fs::permissions(dir.path(), fs::perms(0755));
    const fs::path prefix = dir / "prefix";
    const ToolResult install =
        runTool({KORVEL_CMAKE, "--install", KORVEL_BUILD_DIR, "--prefix", prefix.string()},
                {{"PATH", "/usr/local/bin:/usr/bin:/bin"}}, std::chrono::seconds(60));
    ASSERT_TRUE(install.ok()) << "cmake --install " << install.describe() << ":\n" << install.out;

    for (const InstalledFile& file : kInstalled) {
        const fs::path path = prefix / file.path;
        ASSERT_TRUE(fs::is_regular_file(path)) << "not installed: " << path;
        if (file.executable) {
            EXPECT_NE(fs::status(path).permissions() & fs::perms::others_exec, fs::perms::none)
                << path << " is executable";
        }
    }
    expectIcon(prefix / "share/icons/hicolor/16x16/apps/korvel.png", 16);
    expectIcon(prefix / "share/icons/hicolor/32x32/apps/korvel.png", 32);
    const Environment plain{{"PATH", "/usr/local/bin:/usr/bin:/bin"}};
    const ToolResult entry = runTool(
        {"desktop-file-validate", (prefix / "share/applications/korvel.desktop").string()}, plain);
    EXPECT_TRUE(entry.ok() && entry.out.empty()) << "desktop-file-validate: " << entry.out;
    const ToolResult metainfo =
        runTool({"appstreamcli", "validate", "--no-net", (prefix / kMetainfo).string()}, plain);
    EXPECT_TRUE(metainfo.ok()) << "appstreamcli validate: " << metainfo.out;

    // Installed where the user cannot write: the settings go to the user's configuration. Root
    // writes anywhere, so as root the program runs as an unprivileged user.
    const fs::path bin = prefix / "bin";
    fs::permissions(bin, fs::perms(0555));
    Desktop desktop;
    const std::string config = writableByProgram(desktop.path("user-config"));
    const Player::Options options{
        (bin / "korvel").string(),
        music,
        {{"XDG_CONFIG_HOME", config}, {"HOME", writableByProgram(desktop.path("user-home"))}},
        true};
    Listener ears(desktop, allPitches());
    int pitch = 0;
    {
        Player korvel(desktop, options);
        const ListRows rows = waitForFileList(korvel, 3);
        pitch = rows.pitch();
        korvel.doubleClick(rows.file(0));
        STEP(expectTone(ears, kLow, "a double click on the first file"));
        korvel.doubleClick(rows.directory(1));
        waitForFileList(korvel, 1);
        korvel.click(layout::onGlyphs(layout::kClose));
        const auto status = korvel.process().waitForExit(std::chrono::seconds(10));
        ASSERT_TRUE(status.has_value()) << "the program did not end within 10 s of close";
        EXPECT_EQ(describeStatus(*status), "exited with 0") << korvel.log();
    }
    EXPECT_FALSE(fs::exists(bin / "korvel.ini")) << "settings written beside a read-only program";
    const std::string ini = readFile(config + "/korvel/korvel.ini");
    const std::string subdirectory = music + "/" + kSubdirectory;
    EXPECT_NE(ini.find("path=" + subdirectory + "\n"), std::string::npos)
        << "the user's korvel.ini should remember " << subdirectory << "; it holds:\n"
        << ini;

    Player korvel(desktop, options);
    waitForFileList(korvel, 1);
    korvel.doubleClick(ListRows(pitch).file(0));
    STEP(expectTone(ears, kDeep, "starting again and double-clicking the first file listed"));
    EXPECT_TRUE(ears.overlaps().empty())
        << "two files sounded at once: " << ::testing::PrintToString(ears.overlaps());
    if (HasFailure()) {
        std::cerr << desktop.logs();
    }
}

}  // namespace
}  // namespace korvel::e2e
