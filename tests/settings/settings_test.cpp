#include "settings/tivoran_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QString>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "platform/program.h"
#include "platform/text.h"
#include "support/permissions.h"
#include "support/temp_dir.h"

namespace {

using korvel::test::TempDir;
using platform::fromAnsi;
using platform::toAnsi;

const QString kSection = QStringLiteral("korvel");
const QString kKey = QStringLiteral("path");

// The file lives in a directory whose name is not UTF-8, so names and values both have to pass
// through as bytes; the long rows need more than the first read buffer holds.
TEST(SettingsIni, ValuesReadBackWhole) {
    TempDir dir;
    const std::string odd = dir / "M\xFCsik \xFF";
    ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
    const QString file = fromAnsi(odd + "/korvel.ini");
    EXPECT_EQ(Tivoran::IniRead(kSection, kKey, file), QString()) << "a first start reads empty";
    const auto path = [](int length) { return "/" + QString(length - 1, QChar('p')); };
    const QString values[] = {fromAnsi(odd), path(254),    path(300),
                              path(4000),    " /odd dir ", "/home/zo\u00eb/\u041c\u0443"};
    for (const QString& value : values) {
        SCOPED_TRACE(value.size());
        Tivoran::IniWrite(kSection, kKey, value, file);
        EXPECT_EQ(Tivoran::IniRead(kSection, kKey, file), value);
    }
    EXPECT_TRUE(std::filesystem::exists(odd + "/korvel.ini")) << "the file went to another name";
}

// Each test gets its own program directory, configuration directory and home.
class SettingsFileTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(program_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(home_.c_str(), 0755), 0);
        setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        setenv("HOME", home_.c_str(), 1);
        platform::setProgramDirectoryForTesting(program_);
    }
    void TearDown() override { platform::setProgramDirectoryForTesting(std::nullopt); }

    // The chosen file, which must also keep a value written through it until the next start.
    static std::string chosen() {
        Tivoran::IniWrite(kSection, kKey, QStringLiteral("/music"), Tivoran::SettingsFile());
        EXPECT_EQ(Tivoran::IniRead(kSection, kKey, Tivoran::SettingsFile()), "/music");
        return toAnsi(Tivoran::SettingsFile());
    }

    TempDir dir_;
    const std::string program_ = dir_ / "program", config_ = dir_ / "config", home_ = dir_ / "home";
};

TEST_F(SettingsFileTest, BesideTheProgramWhenItsDirectoryIsWritable) {
    EXPECT_EQ(chosen(), program_ + "/korvel.ini");
}

TEST_F(SettingsFileTest, RootDirectoryHasNoDoubledSlash) {
    platform::setProgramDirectoryForTesting("/");
    const std::string expected =
        access("/", W_OK | X_OK) == 0 ? "/korvel.ini" : config_ + "/korvel/korvel.ini";
    EXPECT_EQ(toAnsi(Tivoran::SettingsFile()), expected);
}

// A writable file in a read-only directory cannot be replaced either, so it must not be chosen.
TEST_F(SettingsFileTest, ConfigurationDirectoryWhenBesideTheProgramIsReadOnly) {
    if (!korvel::test::permissionBitsBind()) {
        GTEST_SKIP() << "running with privileges that write through permission bits";
    }
    const std::string beside = program_ + "/korvel.ini";
    for (const std::string& locked : {program_, beside}) {
        SCOPED_TRACE(locked);
        ASSERT_TRUE(std::ofstream(beside) << "[korvel]\npath=/old\n");
        ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
        EXPECT_EQ(chosen(), config_ + "/korvel/korvel.ini");
        ASSERT_EQ(chmod(locked.c_str(), 0755), 0);
    }
}

// An unset, empty or relative XDG_CONFIG_HOME is not usable, and ~/.config stands in for it.
TEST_F(SettingsFileTest, ConfigurationDirectoryWhenTheProgramsCannotBeWritten) {
    platform::setProgramDirectoryForTesting(dir_ / "absent");  // unwritable whoever runs it
    const std::string inHome = home_ + "/.config/korvel/korvel.ini";
    const std::pair<std::optional<std::string>, std::string> rows[] = {
        {config_, config_ + "/korvel/korvel.ini"},
        {std::nullopt, inHome},
        {"", inHome},
        {"rel/cfg", inHome}};
    for (const auto& [xdg, expected] : rows) {
        SCOPED_TRACE(xdg.value_or("unset"));
        if (xdg) {
            setenv("XDG_CONFIG_HOME", xdg->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        EXPECT_EQ(chosen(), expected);
    }
}

}  // namespace
