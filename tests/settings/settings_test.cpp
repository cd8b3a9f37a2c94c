#include "settings/tivoran_settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/program.h"
#include "platform/text.h"
#include "support/support.h"

namespace korvel::test {
namespace {

// Settings live beside the program where they can be written there, else in the user's
// configuration directory, and always there for a program installed as the package lays it out
// (PREFIX/bin beside PREFIX/share/applications/korvel.desktop), whoever runs it: nothing is ever
// written under the prefix. A value written through the chosen file reads back whole, however
// long, so a long directory path never comes back as another directory.
TEST(Settings, TheChosenFileKeepsALongPathWhole) {
    TempDir dir;
    namespace fs = std::filesystem;
    ASSERT_TRUE(fs::create_directories(dir / "usr/share/applications") && fs::create_directories(dir / "usr/bin") &&
                fs::create_directories(dir / "opt/bin"));
    ASSERT_TRUE(std::ofstream(dir / "usr/share/applications/korvel.desktop").good());
    // A user other than root, where the tests run as root: the saved ID stays root's, so the
    // test can come back. The user may pass through the test's folder and owns its own one.
    const uid_t user = geteuid() == 0 ? 65534 : geteuid();
    ASSERT_TRUE(chmod(dir.path().c_str(), 0755) == 0 && fs::create_directory(dir / "user") &&
                chown((dir / "user").c_str(), user, user) == 0);
    // Put back for the tests after this one in the same process, however this one ends: the sound
    // server's client keeps its cookie under these, and a relative one would land in the working
    // directory.
    ScopedEnv env{{"HOME", dir / "home"}, {"XDG_CONFIG_HOME", ""}};
    const uid_t tests = geteuid();
    const ProgramDirectory restored;
    const std::shared_ptr<void> asTests(nullptr, [tests](void*) { setresuid(tests, tests, tests); });
    const std::vector<std::tuple<std::string, std::string, std::string, uid_t>> rows = {
        {dir.path(), "", dir / "korvel.ini", tests},               // a build tree
        {dir / "opt/bin", "", dir / "opt/bin/korvel.ini", tests},  // a bin folder with no entry
        {dir / "absent", dir / "config", dir / "config/korvel/korvel.ini", tests},
        {dir / "absent", "relative/config", dir / "home/.config/korvel/korvel.ini", tests},
        {dir / "usr/bin", dir / "config", dir / "config/korvel/korvel.ini", tests},  // installed
        {dir / "usr/bin", dir / "user", dir / "user/korvel/korvel.ini", user},
    };
    const QString value = QString::fromStdString("/" + std::string(400, 'v') + " \xC3\xA9");
    for (const auto& [program, config, expected, uid] : rows) {
        SCOPED_TRACE(expected);
        platform::setProgramDirectoryForTesting(program);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        ASSERT_EQ(setresuid(uid, uid, tests), 0);
        const QString file = Tivoran::SettingsFile();
        EXPECT_EQ(platform::toAnsi(file), expected);
        Tivoran::IniWrite("korvel", "path", value, file);
        EXPECT_EQ(Tivoran::IniRead("korvel", "path", file), value);
        ASSERT_EQ(setresuid(tests, tests, tests), 0);
    }
    EXPECT_EQ(entriesIn(dir / "usr/bin"), 0);
    setenv("HOME", "", 1), setenv("XDG_CONFIG_HOME", "", 1);  // neither: the home the password database gives
    EXPECT_EQ(platform::toAnsi(Tivoran::SettingsFile()),
              std::string(getpwuid(getuid())->pw_dir) + "/.config/korvel/korvel.ini");
}

// A start and a save touch nothing beside the settings file that the program did not make:
// files named like a temporary file, one another user owns, one another process holds locked.
TEST(Settings, AStartAndASaveLeaveEveryOtherFileAlone) {
    const ProgramDirectory dir;
    const std::vector<std::string> names = {".korvel-ini-backup", ".korvel-ini-keepme", ".korvel-ini-README",
                                            ".korvel-ini-Ab12Cd", ".korvel-ini-locked", "korvel.ini.Ab12Cd",
                                            ".korvel-ini-theirs"};
    for (const std::string& name : names) ASSERT_TRUE(std::ofstream(dir / name) << name);
    const int held = open((dir / ".korvel-ini-locked").c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(lockf(held, F_LOCK, 0), 0);
    if (geteuid() == 0) {  // another user's private file, as root meets it
        ASSERT_EQ(chown((dir / ".korvel-ini-theirs").c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod((dir / ".korvel-ini-theirs").c_str(), 0600), 0);
    }
    const QString file = Tivoran::SettingsFile();
    Tivoran::IniWrite("korvel", "path", "/music", file);
    EXPECT_EQ(Tivoran::IniRead("korvel", "path", file), "/music");
    close(held);
    for (const std::string& name : names) EXPECT_EQ(contentsOf(dir / name), name);
    EXPECT_EQ(entriesIn(dir.path()), static_cast<long>(names.size()) + 1);
}

}  // namespace
}  // namespace korvel::test
