#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/permissions.h"
#include "support/temp_dir.h"

namespace {

using korvel::test::permissionBitsBind;
using korvel::test::TempDir;
using Names = std::vector<std::string>;

// Set-up steps throw, so that a fixture that cannot be made fails the test instead of letting it
// pass on nothing.
void makeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot make " + path + ": " + std::strerror(errno));
    }
    ::close(fd);
}

void makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0) {
        throw std::runtime_error("cannot make directory " + path + ": " + std::strerror(errno));
    }
}

void makeLink(const std::string& target, const std::string& path) {
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        throw std::runtime_error("cannot link " + path + ": " + std::strerror(errno));
    }
}

void makeFifo(const std::string& path) {
    if (::mkfifo(path.c_str(), 0644) != 0) {
        throw std::runtime_error("cannot make FIFO " + path + ": " + std::strerror(errno));
    }
}

Names sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::string currentDirectory() {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        throw std::runtime_error("no current directory");
    }
    return buffer;
}

// A directory holding one of everything the lists must tell apart.
class FsEntryKinds : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"song.mp3", "SONG2.MP3", "Mixed.Mp3", "with blank.mp3", "100%.mp3",
                                 "a\\b.mp3", "\xFF.mp3", "caf\xE9.mp3", "\xC3\xA9.mp3", "notes.txt",
                                 "song.mp3.txt", "mp3", ".hidden.mp3"}) {
            makeFile(dir / name);
        }
        for (const char* name : {"album", "album.mp3", "x\\y", "caf\xE9 dir", ".hidden dir"}) {
            makeDirectory(dir / name);
        }
        makeLink("song.mp3", dir / "link.mp3");
        makeLink(dir / "album", dir / "album link");
        makeLink("album", dir / "dir link.mp3");
        makeLink("missing.mp3", dir / "dangling.mp3");
        makeLink("missing dir", dir / "dangling dir");
        makeLink("song.mp3", dir / ".hidden link.mp3");
        makeFifo(dir / "fifo.mp3");
        makeLink("fifo.mp3", dir / "fifo link.mp3");
    }

    TempDir dir;
};

TEST_F(FsEntryKinds, SubdirectoriesAreDirectoriesAndLinksToThemButNotHiddenOnes) {
    EXPECT_EQ(sorted(platform::fs::subdirectories(dir.path())),
              sorted({"album", "album.mp3", "x\\y", "caf\xE9 dir", "album link", "dir link.mp3"}));
}

TEST_F(FsEntryKinds, FilesAreRegularFilesAndLinksToThemMatchingThePattern) {
    EXPECT_EQ(sorted(platform::fs::matchingFiles(dir.path(), "*.mp3")),
              sorted({"song.mp3", "SONG2.MP3", "Mixed.Mp3", "with blank.mp3", "100%.mp3",
                      "a\\b.mp3", "\xFF.mp3", "caf\xE9.mp3", "\xC3\xA9.mp3", "link.mp3"}));
}

TEST_F(FsEntryKinds, PatternsMatchCaseInsensitivelyByCharacter) {
    struct Row {
        std::string pattern;
        Names expected;
    };
    const std::vector<Row> rows = {
        {"*.MP3",
         {"song.mp3", "SONG2.MP3", "Mixed.Mp3", "with blank.mp3", "100%.mp3", "a\\b.mp3",
          "\xFF.mp3", "caf\xE9.mp3", "\xC3\xA9.mp3", "link.mp3"}},
        // "?" is one character: a two-byte "é" and a lone non-UTF-8 byte alike.
        {"?.mp3", {"\xFF.mp3", "\xC3\xA9.mp3"}},
        {"song?.mp3", {"SONG2.MP3"}},
        {"song.mp3", {"song.mp3"}},
        {"SONG.MP3", {"song.mp3"}},
        {"s*", {"song.mp3", "SONG2.MP3", "song.mp3.txt"}},
        {"*.txt", {"notes.txt", "song.mp3.txt"}},
        {"*mp3*",
         {"song.mp3", "SONG2.MP3", "Mixed.Mp3", "with blank.mp3", "100%.mp3", "a\\b.mp3",
          "\xFF.mp3", "caf\xE9.mp3", "\xC3\xA9.mp3", "link.mp3", "song.mp3.txt", "mp3"}},
        {"**.mp3*txt", {"song.mp3.txt"}},
        {"*\\*", {"a\\b.mp3"}},
        {"*%*", {"100%.mp3"}},
        {"caf\xE9.*", {"caf\xE9.mp3"}},
        {"*",
         {"song.mp3", "SONG2.MP3", "Mixed.Mp3", "with blank.mp3", "100%.mp3", "a\\b.mp3",
          "\xFF.mp3", "caf\xE9.mp3", "\xC3\xA9.mp3", "link.mp3", "notes.txt", "song.mp3.txt",
          "mp3"}},
        {"", {}},
        {"*.wav", {}},
        {"?", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("pattern [" + row.pattern + "]");
        EXPECT_EQ(sorted(platform::fs::matchingFiles(dir.path(), row.pattern)),
                  sorted(row.expected));
    }
}

TEST_F(FsEntryKinds, NamesComeBackAsTheBytesOnDisk) {
    // The names the list shows must open the very files, bytes that are not UTF-8 included.
    for (const auto& name : platform::fs::matchingFiles(dir.path(), "*")) {
        SCOPED_TRACE(name);
        struct stat info {};
        EXPECT_EQ(::stat((dir / name).c_str(), &info), 0);
        EXPECT_EQ(platform::toAnsi(platform::fromAnsi(name)), name);
    }
    for (const auto& name : platform::fs::subdirectories(dir.path())) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(platform::fs::isDirectory(dir / name));
    }
}

TEST(FsListing, MissingOrNonDirectoryPathsListAsEmpty) {
    TempDir dir;
    makeFile(dir / "file.mp3");
    for (const std::string& path : {dir / "missing", dir / "file.mp3", std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(platform::fs::subdirectories(path).empty());
        EXPECT_TRUE(platform::fs::matchingFiles(path, "*").empty());
    }
}

TEST(FsListing, UnreadableDirectoryListsAsEmpty) {
    TempDir dir;
    const std::string locked = dir / "locked";
    makeDirectory(locked);
    makeFile(locked + "/song.mp3");
    makeDirectory(locked + "/sub");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    permissionBitsBind();
    if (DIR* probe = ::opendir(locked.c_str())) {
        ::closedir(probe);
        GTEST_SKIP() << "permission bits do not stop this user reading a directory (root?)";
    }
    EXPECT_TRUE(platform::fs::subdirectories(locked).empty());
    EXPECT_TRUE(platform::fs::matchingFiles(locked, "*").empty());
}

TEST(FsIsDirectory, FollowsLinksAndRefusesEverythingElse) {
    TempDir dir;
    makeDirectory(dir / "album");
    makeFile(dir / "song.mp3");
    makeLink("album", dir / "album link");
    makeLink("song.mp3", dir / "song link");
    makeLink("missing", dir / "dangling");
    makeFifo(dir / "fifo");
    struct Row {
        std::string path;
        bool expected;
    };
    const std::vector<Row> rows = {
        {dir.path(), true},         {dir / "album", true},
        {dir / "album link", true}, {dir / "song.mp3", false},
        {dir / "song link", false}, {dir / "dangling", false},
        {dir / "fifo", false},      {dir / "missing", false},
        {std::string(), false},     {dir / "album/../album", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(platform::fs::isDirectory(row.path), row.expected);
    }
}

TEST(FsAbsoluteDirectory, NormalisesWithoutResolvingLinks) {
    const std::string cwd = platform::fs::absoluteDirectory(currentDirectory());
    ASSERT_FALSE(cwd.empty());
    ASSERT_EQ(cwd.front(), '/');
    const std::string cwdParent =
        cwd == "/" ? std::string("/") : (cwd.rfind('/') == 0 ? "/" : cwd.substr(0, cwd.rfind('/')));
    struct Row {
        std::string path;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"/", "/"},
        {"//", "/"},
        {"/..", "/"},
        {"/../..", "/"},
        {"/a/./b//c/../d", "/a/b/d"},
        {"/a/b/", "/a/b"},
        {"/a/b/..", "/a"},
        {"/a/b/../..", "/"},
        {"/a\\b/c", "/a\\b/c"},
        {"/a/...", "/a/..."},
        {"/.a/b", "/.a/b"},
        {"/caf\xE9/x", "/caf\xE9/x"},
        {".", cwd},
        {"", cwd},
        {"sub/dir", cwd == "/" ? "/sub/dir" : cwd + "/sub/dir"},
        {"./sub/../x", cwd == "/" ? "/x" : cwd + "/x"},
        {"..", cwdParent},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("[" + row.path + "]");
        EXPECT_EQ(platform::fs::absoluteDirectory(row.path), row.expected);
    }
}

TEST(FsAbsoluteDirectory, KeepsLinksAsNamed) {
    TempDir dir;
    makeDirectory(dir / "real");
    makeDirectory(dir / "real/inner");
    makeLink(dir / "real/inner", dir / "link");
    EXPECT_EQ(platform::fs::absoluteDirectory(dir / "link"), dir / "link");
    // ".." is taken off the text, so the list goes back up the way the user came down.
    EXPECT_EQ(platform::fs::absoluteDirectory(dir / "link/.."), dir.path());
}

TEST(FsNaturalLess, ComparesNamesAsPeopleRead) {
    struct Row {
        QString a;
        QString b;
        bool aFirst;
    };
    const QString twoTo64 = QStringLiteral("n18446744073709551616");
    const QString twoTo64Less1 = QStringLiteral("n18446744073709551615");
    const QString huge = QStringLiteral("n1") + QString(60, u'0');
    const QString nines = QStringLiteral("n") + QString(59, u'9');
    const std::vector<Row> rows = {
        {"track2.mp3", "track10.mp3", true},
        {"track10.mp3", "track2.mp3", false},
        {"Track2", "track10", true},
        {"track10", "TRACK2", false},
        {"a", "B", true},
        {"B", "a", false},
        {"abc", "ABD", true},
        {"x9", "x0010", true},
        {"x0010", "x9", false},
        {"song 2 b", "song 2 a", false},
        {"a", "a1", true},
        {"a1", "a", false},
        {"a1b", "a1c", true},
        {"1abc", "abc", true},
        {"", "a", true},
        {"a", "", false},
        {twoTo64Less1, twoTo64, true},
        {twoTo64, twoTo64Less1, false},
        {nines, huge, true},
        {huge, nines, false},
        // Equal apart from case or leading zeros: the exact text decides, one way only.
        {"A", "a", true},
        {"a", "A", false},
        {"x007", "x7", true},
        {"x7", "x007", false},
        {"same", "same", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(("[" + row.a + "] < [" + row.b + "]").toStdString());
        EXPECT_EQ(platform::fs::naturalLess(row.a, row.b), row.aFirst);
    }
}

TEST(FsNaturalLess, SortsATrackList) {
    std::vector<QString> names = {"track 10.mp3", "Track 1.mp3",  "track 2.mp3", "Track 3.mp3",
                                  "intro.mp3",    "track 20.mp3", "Outro.mp3",   "track 02.mp3"};
    std::sort(names.begin(), names.end(), platform::fs::naturalLess);
    const std::vector<QString> expected = {"intro.mp3",    "Outro.mp3",   "Track 1.mp3",
                                           "track 02.mp3", "track 2.mp3", "Track 3.mp3",
                                           "track 10.mp3", "track 20.mp3"};
    EXPECT_EQ(names, expected);
}

TEST(FsNaturalLess, IsAStrictTotalOrder) {
    // std::sort needs a strict weak order; a total one also keeps the list order stable from run
    // to run. Every triple of a varied set is checked.
    const std::vector<QString> names = {
        "",
        "0",
        "00",
        "000",
        "1",
        "01",
        "10",
        "a",
        "A",
        "a0",
        "a00",
        "a1",
        "A1",
        "a01",
        "a_",
        "a-1",
        "a 1",
        "ab",
        "aB",
        "Ab",
        "b",
        "_",
        "~",
        "z9",
        "z10",
        "z010",
        "\u00e9",
        "\u00c9",
        "e",
        "E",
        "f",
        "x1y2",
        "x01y2",
        "x1y02",
        "x1y10",
        QString(QChar(0xDCFF)),
        QString(QChar(0xDCE9)) + "x",
        "99999999999999999999",
        "100000000000000000000",
    };
    int failures = 0;
    const auto less = platform::fs::naturalLess;
    for (const auto& a : names) {
        if (less(a, a) && ++failures <= 5) {
            ADD_FAILURE() << "not irreflexive: " << a.toStdString();
        }
        for (const auto& b : names) {
            if (a != b && less(a, b) == less(b, a) && ++failures <= 5) {
                ADD_FAILURE() << "not total or not asymmetric: " << a.toStdString() << " / "
                              << b.toStdString();
            }
            for (const auto& c : names) {
                if (less(a, b) && less(b, c) && !less(a, c) && ++failures <= 5) {
                    ADD_FAILURE() << "not transitive: " << a.toStdString() << " < "
                                  << b.toStdString() << " < " << c.toStdString();
                }
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

}  // namespace
