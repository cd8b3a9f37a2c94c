#include "platform/fs.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/permissions.h"
#include "support/temp_dir.h"

namespace {

using korvel::test::TempDir;
using Names = std::vector<std::string>;

// Set-up throws, so that a fixture that cannot be made fails the test instead of passing on
// nothing.
void must(bool done, const std::string& what) {
    if (!done) {
        throw std::runtime_error("cannot make " + what + ": " + std::strerror(errno));
    }
}

Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

// A directory holding one of everything the lists must tell apart.
class FsListing : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"song.mp3", "LOUD.MP3", "\xFF.mp3", "\xC3\xA9.mp3", "song.mp3.txt", ".hidden.mp3"}) {
            must(std::ofstream(dir / name).is_open(), name);
        }
        for (const char* name : {"album", "x.mp3", "caf\xE9 dir", ".hidden dir"}) {
            must(::mkdir((dir / name).c_str(), 0755) == 0, name);
        }
        must(::mkfifo((dir / "fifo.mp3").c_str(), 0644) == 0, "fifo.mp3");
        const std::vector<std::pair<std::string, std::string>> links = {
            {"link.mp3", "song.mp3"},
            {"dir link.mp3", "album"},
            {"dangling.mp3", "missing.mp3"},
            {"fifo link.mp3", "fifo.mp3"},
        };
        for (const auto& [name, target] : links) {
            must(::symlink(target.c_str(), (dir / name).c_str()) == 0, name);
        }
    }

    TempDir dir;
};

TEST_F(FsListing, SubdirectoriesAreDirectoriesAndLinksToThemButNotHiddenOnes) {
    EXPECT_EQ(sorted(platform::fs::subdirectories(dir.path())),
              sorted({"album", "x.mp3", "caf\xE9 dir", "dir link.mp3"}));
}

TEST_F(FsListing, FilesAreRegularFilesAndLinksToThemMatchingThePatternByCharacter) {
    const std::vector<std::pair<std::string, Names>> rows = {
        {"*.mp3", {"song.mp3", "LOUD.MP3", "\xFF.mp3", "\xC3\xA9.mp3", "link.mp3"}},
        // "?" is one character: a two-byte "é" and a lone non-UTF-8 byte alike.
        {"?.mp3", {"\xFF.mp3", "\xC3\xA9.mp3"}},
        {"*.txt", {"song.mp3.txt"}},
    };
    for (const auto& [pattern, expected] : rows) {
        SCOPED_TRACE("pattern " + pattern);
        EXPECT_EQ(sorted(platform::fs::matchingFiles(dir.path(), pattern)), sorted(expected));
    }
}

TEST_F(FsListing, IsDirectoryFollowsLinks) {
    for (const auto& [name, expected] : std::vector<std::pair<std::string, bool>>{
             {"dir link.mp3", true}, {"link.mp3", false}, {"dangling.mp3", false}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(platform::fs::isDirectory(dir / name), expected);
    }
}

TEST(FsListingEmpty, MissingAndUnreadableDirectoriesListAsEmpty) {
    TempDir dir;
    const std::string locked = dir / "locked";
    must(::mkdir(locked.c_str(), 0755) == 0 && ::mkdir((locked + "/sub").c_str(), 0755) == 0 &&
             std::ofstream(locked + "/song.mp3").is_open() && ::chmod(locked.c_str(), 0) == 0,
         locked);
    EXPECT_TRUE(platform::fs::matchingFiles(dir / "missing", "*").empty());
    korvel::test::permissionBitsBind();
    if (DIR* probe = ::opendir(locked.c_str())) {
        ::closedir(probe);
        GTEST_SKIP() << "permission bits do not stop this user reading a directory";
    }
    EXPECT_TRUE(platform::fs::subdirectories(locked).empty());
    EXPECT_TRUE(platform::fs::matchingFiles(locked, "*").empty());
}

TEST(FsAbsoluteDirectory, NormalisesTheTextAndKeepsLinksAsNamed) {
    TempDir dir;
    must(::mkdir((dir / "real").c_str(), 0755) == 0 &&
             ::symlink((dir / "real").c_str(), (dir / "link").c_str()) == 0,
         "link");
    const std::string cwd = std::filesystem::current_path().string();
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"/../..", "/"},
        {"/a/./b//c/../d/", "/a/b/d"},
        {"x/../y", cwd + "/y"},
        // ".." is taken off the text, so the list goes back up the way the user came down.
        {dir / "link/..", dir.path()},
    };
    for (const auto& [path, expected] : rows) {
        SCOPED_TRACE(path);
        EXPECT_EQ(platform::fs::absoluteDirectory(path), expected);
    }
}

TEST(FsNaturalLess, OrdersNamesAsPeopleReadThemAndStrictly) {
    // In each row the first name sorts before the second.
    const std::vector<std::pair<QString, QString>> rows = {
        {"track2.mp3", "track10.mp3"},
        {"Track2", "track10"},
        {"a", "B"},
        {"x9", "x0010"},
        {"n18446744073709551615", "n18446744073709551616"},
        {"n" + QString(59, u'9'), "n1" + QString(60, u'0')},
        {"a", "a1"},
        // Names equal but for case or leading zeros still take one fixed order.
        {"A", "a"},
        {"x007", "x7"},
    };
    const auto less = platform::fs::naturalLess;
    std::vector<QString> all = {"", "_", "e", "\u00e9", "\u00c9", QString(QChar(0xDCE9))};
    for (const auto& [a, b] : rows) {
        SCOPED_TRACE((a + " before " + b).toStdString());
        EXPECT_TRUE(less(a, b) && !less(b, a));
        all.insert(all.end(), {a, b});
    }
    // std::sort needs a strict weak order, or it may run off the end of the list.
    for (const auto& a : all) {
        for (const auto& b : all) {
            ASSERT_EQ(less(a, b), a != b && !less(b, a)) << (a + " / " + b).toStdString();
            for (const auto& c : all) {
                ASSERT_FALSE(less(a, b) && less(b, c) && !less(a, c))
                    << (a + " < " + b + " < " + c).toStdString();
            }
        }
    }
}

}  // namespace
