#include "settings/tivoran_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QString>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/program.h"
#include "platform/text.h"
#include "support/permissions.h"
#include "support/temp_dir.h"

namespace {

using korvel::test::permissionBitsBind;
using korvel::test::TempDir;
using platform::fromAnsi;
using platform::toAnsi;

const QString kSection = QStringLiteral("korvel");
const QString kKey = QStringLiteral("path");

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A test name from the row's description: letters and digits kept, anything else "_".
template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& row) {
    std::string name;
    for (const char* p = row.param.what; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return name;
}

// ---- IniRead and IniWrite ----------------------------------------------------------------

struct RoundTripCase {
    const char* what;
    QString value;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.what;
}

class SettingsRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(SettingsRoundTripTest, WrittenValueReadsBackWhole) {
    const RoundTripCase& c = GetParam();
    TempDir dir;
    const QString file = fromAnsi(dir / "korvel.ini");
    EXPECT_TRUE(Tivoran::IniWrite(kSection, kKey, c.value, file).isEmpty());
    EXPECT_EQ(Tivoran::IniRead(kSection, kKey, file), c.value);
}

QString repeated(char c, int n) {
    return QString(n, QChar::fromLatin1(c));
}

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsRoundTripTest,
    testing::Values(
        RoundTripCase{"plain", QStringLiteral("/home/user/Music")},
        RoundTripCase{"blanks inside", QStringLiteral("/home/user/My Music")},
        RoundTripCase{"blanks at the ends", QStringLiteral(" /odd dir ")},
        RoundTripCase{"non ASCII",
                      QString::fromUtf8("/home/zo\u00eb/\u041c\u0443\u0437\u044b\u043a\u0430")},
        RoundTripCase{"non UTF-8 bytes", fromAnsi("/music/caf\xE9")},
        RoundTripCase{"254 characters", "/" + repeated('a', 253)},
        RoundTripCase{"255 characters", "/" + repeated('b', 254)},
        RoundTripCase{"300 characters", "/" + repeated('c', 149) + "/" + repeated('d', 149)},
        RoundTripCase{"509 characters", "/" + repeated('e', 508)},
        RoundTripCase{"510 characters", "/" + repeated('f', 509)},
        RoundTripCase{"4000 characters", "/" + repeated('g', 3999)}),
    caseName<RoundTripCase>);

TEST(SettingsIni, FirstStartReadsEmpty) {
    TempDir dir;
    EXPECT_EQ(Tivoran::IniRead(kSection, kKey, fromAnsi(dir / "korvel.ini")), QString());
}

TEST(SettingsIni, ValueIsStoredAsTheFileShows) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    Tivoran::IniWrite(kSection, kKey, QStringLiteral("/home/user/My Music"), fromAnsi(file));
    EXPECT_EQ(readBytes(file), "[korvel]\npath=/home/user/My Music\n");
    Tivoran::IniWrite(kSection, kKey, QStringLiteral("/srv/mp3"), fromAnsi(file));
    EXPECT_EQ(readBytes(file), "[korvel]\npath=/srv/mp3\n");
}

TEST(SettingsIni, FileInANonUtf8Directory) {
    TempDir dir;
    const std::string odd = dir / "M\xFC\x73ik \xFF";  // Latin-1 name, not valid UTF-8
    ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
    const std::string file = odd + "/korvel.ini";
    const QString value = fromAnsi(odd);

    Tivoran::IniWrite(kSection, kKey, value, fromAnsi(file));

    ASSERT_TRUE(std::filesystem::exists(file)) << "the file went to another name";
    EXPECT_EQ(readBytes(file), "[korvel]\npath=" + odd + "\n");
    EXPECT_EQ(Tivoran::IniRead(kSection, kKey, fromAnsi(file)), value);
    EXPECT_EQ(toAnsi(Tivoran::IniRead(kSection, kKey, fromAnsi(file))), odd);
}

TEST(SettingsIni, LongPathInTheFileName) {
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300) {
        deep += "/" + std::string(40, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0) << deep;
    }
    const QString file = fromAnsi(deep + "/korvel.ini");
    const QString value = fromAnsi(deep);
    ASSERT_GT(value.size(), 300);
    Tivoran::IniWrite(kSection, kKey, value, file);
    EXPECT_EQ(Tivoran::IniRead(kSection, kKey, file), value);
}

// ---- SettingsFile ------------------------------------------------------------------------

// Each test gets its own program directory and environment, restored afterwards.
class SettingsFileTest : public testing::Test {
  protected:
    void SetUp() override {
        save("XDG_CONFIG_HOME", savedXdg_);
        save("HOME", savedHome_);
        program_ = dir_ / "program";
        config_ = dir_ / "config";
        home_ = dir_ / "home";
        ASSERT_EQ(mkdir(program_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(home_.c_str(), 0755), 0);
        setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        setenv("HOME", home_.c_str(), 1);
        platform::setProgramDirectoryForTesting(program_);
    }

    void TearDown() override {
        platform::setProgramDirectoryForTesting(std::nullopt);
        restore("XDG_CONFIG_HOME", savedXdg_);
        restore("HOME", savedHome_);
    }

    // A program directory that cannot be written whoever runs the test: it does not exist.
    void useMissingProgramDirectory() { platform::setProgramDirectoryForTesting(dir_ / "absent"); }

    std::string file() const { return toAnsi(Tivoran::SettingsFile()); }

    // Writing through the chosen file and reading back is what the user meets at the next start.
    void expectRoundTrip() {
        const QString value = QStringLiteral("/home/user/Music");
        Tivoran::IniWrite(kSection, kKey, value, Tivoran::SettingsFile());
        EXPECT_EQ(Tivoran::IniRead(kSection, kKey, Tivoran::SettingsFile()), value);
    }

    TempDir dir_;
    std::string program_;
    std::string config_;
    std::string home_;

  private:
    static void save(const char* name, std::optional<std::string>& slot) {
        const char* value = std::getenv(name);
        slot = value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& slot) {
        if (slot) {
            setenv(name, slot->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    std::optional<std::string> savedXdg_;
    std::optional<std::string> savedHome_;
};

TEST_F(SettingsFileTest, BesideTheProgramWhenItsDirectoryIsWritable) {
    EXPECT_EQ(file(), program_ + "/korvel.ini");
    EXPECT_FALSE(std::filesystem::exists(config_)) << "no configuration directory is needed";
    expectRoundTrip();
    EXPECT_TRUE(std::filesystem::exists(program_ + "/korvel.ini"));
}

TEST_F(SettingsFileTest, ExistingWritableFileBesideTheProgram) {
    std::ofstream(program_ + "/korvel.ini") << "[korvel]\npath=/old\n";
    EXPECT_EQ(file(), program_ + "/korvel.ini");
    EXPECT_EQ(Tivoran::IniRead(kSection, kKey, Tivoran::SettingsFile()), QStringLiteral("/old"));
}

TEST_F(SettingsFileTest, RootDirectoryHasNoDoubledSlash) {
    platform::setProgramDirectoryForTesting("/");
    const std::string expected =
        access("/", W_OK | X_OK) == 0 ? "/korvel.ini" : config_ + "/korvel/korvel.ini";
    EXPECT_EQ(file(), expected);
}

TEST_F(SettingsFileTest, ConfigurationDirectoryWhenTheProgramsCannotBeWritten) {
    useMissingProgramDirectory();
    EXPECT_EQ(file(), config_ + "/korvel/korvel.ini");
    EXPECT_TRUE(std::filesystem::is_directory(config_ + "/korvel")) << "not created";
    expectRoundTrip();
}

TEST_F(SettingsFileTest, UnwritableProgramDirectory) {
    if (!permissionBitsBind()) {
        GTEST_SKIP() << "running with privileges that write through permission bits";
    }
    ASSERT_EQ(chmod(program_.c_str(), 0555), 0);
    EXPECT_EQ(file(), config_ + "/korvel/korvel.ini");
    EXPECT_TRUE(std::filesystem::is_directory(config_ + "/korvel"));
    expectRoundTrip();
}

// Every write replaces the file through its directory, so a writable file in a directory that
// cannot be written could be read but never updated: the remembered directory would stay frozen.
// The settings go where they can be written instead.
TEST_F(SettingsFileTest, WritableFileInAnUnwritableDirectory) {
    if (!permissionBitsBind()) {
        GTEST_SKIP() << "running with privileges that write through permission bits";
    }
    std::ofstream(program_ + "/korvel.ini") << "[korvel]\npath=/old\n";
    ASSERT_EQ(chmod(program_.c_str(), 0555), 0);
    EXPECT_EQ(file(), config_ + "/korvel/korvel.ini");
    expectRoundTrip();
}

TEST_F(SettingsFileTest, ReadOnlyFileBesideTheProgram) {
    if (!permissionBitsBind()) {
        GTEST_SKIP() << "running with privileges that write through permission bits";
    }
    const std::string beside = program_ + "/korvel.ini";
    std::ofstream(beside) << "[korvel]\npath=/old\n";
    ASSERT_EQ(chmod(beside.c_str(), 0444), 0);
    EXPECT_EQ(file(), config_ + "/korvel/korvel.ini");
    expectRoundTrip();
}

struct ConfigHomeCase {
    const char* what;
    std::optional<std::string> xdg;  // relative to the test directory when it starts with "@"
    std::string expected;            // relative to the test directory
};

void PrintTo(const ConfigHomeCase& c, std::ostream* os) {
    *os << c.what;
}

class SettingsConfigHomeTest : public SettingsFileTest,
                               public testing::WithParamInterface<ConfigHomeCase> {};

TEST_P(SettingsConfigHomeTest, ChoosesTheConfigurationDirectory) {
    const ConfigHomeCase& c = GetParam();
    if (!c.xdg) {
        unsetenv("XDG_CONFIG_HOME");
    } else if (c.xdg->starts_with("@")) {
        setenv("XDG_CONFIG_HOME", (dir_.path() + c.xdg->substr(1)).c_str(), 1);
    } else {
        setenv("XDG_CONFIG_HOME", c.xdg->c_str(), 1);
    }
    useMissingProgramDirectory();
    const std::string expected = dir_.path() + c.expected;
    EXPECT_EQ(file(), expected);
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(expected).parent_path()));
    expectRoundTrip();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsConfigHomeTest,
    testing::Values(ConfigHomeCase{"unset", std::nullopt, "/home/.config/korvel/korvel.ini"},
                    ConfigHomeCase{"empty", "", "/home/.config/korvel/korvel.ini"},
                    ConfigHomeCase{"relative", "relative/config",
                                   "/home/.config/korvel/korvel.ini"},
                    ConfigHomeCase{"nested and missing", "@/a/b/c", "/a/b/c/korvel/korvel.ini"},
                    ConfigHomeCase{"trailing slash", "@/cfg/", "/cfg/korvel/korvel.ini"},
                    ConfigHomeCase{"non UTF-8 name", "@/conf\xFF", "/conf\xFF/korvel/korvel.ini"}),
    caseName<ConfigHomeCase>);

}  // namespace
