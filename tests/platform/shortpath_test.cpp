#include "platform/shortpath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using korvel::test::TempDir;
using platform::decodeShortPath;
using platform::encodeShortPath;
using platform::resolveWindowsPath;

// Set-up steps throw, so that a fixture that cannot be made fails the test instead of letting it
// pass on nothing.
void makeFile(const std::string& path, const std::string& content = "x") {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot make " + path + ": " + std::strerror(errno));
    }
    const auto written = ::write(fd, content.data(), content.size());
    ::close(fd);
    if (written != static_cast<ssize_t>(content.size())) {
        throw std::runtime_error("cannot write " + path);
    }
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

// The entry itself (a link is not followed), so that "the same file" means the same entry.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

Identity identityOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        throw std::runtime_error("nothing at " + path);
    }
    return {info.st_dev, info.st_ino};
}

// Calls GetShortPathNameA the way the caller does: first with a fixed buffer, then again with
// the size asked for when that is too small.
std::string shortPathOf(const std::string& longPath) {
    std::vector<char> buffer(256);
    auto result = GetShortPathNameA(longPath.c_str(), buffer.data(), 255);
    if (result >= 255) {
        buffer.assign(result, '\0');
        result = GetShortPathNameA(longPath.c_str(), buffer.data(), result);
    }
    if (result == 0) {
        return {};
    }
    EXPECT_EQ(std::strlen(buffer.data()), result) << "the result is the length written";
    return std::string(buffer.data(), result);
}

void expectSafeForCommand(const std::string& shortPath) {
    EXPECT_EQ(shortPath.find_first_of(" \t\"'\\"), std::string::npos) << shortPath;
    ASSERT_FALSE(shortPath.empty());
    EXPECT_EQ(shortPath.front(), '/') << "the short form is absolute: " << shortPath;
}

class CurrentDirectory {
  public:
    explicit CurrentDirectory(const std::string& path) {
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer) == nullptr || ::chdir(path.c_str()) != 0) {
            throw std::runtime_error("cannot change to " + path);
        }
        previous_ = buffer;
    }
    ~CurrentDirectory() {
        if (::chdir(previous_.c_str()) != 0) {
            ADD_FAILURE() << "cannot change back to " << previous_;
        }
    }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

  private:
    std::string previous_;
};

// File names a user may meet, each of which must lead to exactly that file.
const std::vector<std::string>& awkwardNames() {
    static const std::vector<std::string> names = {
        "plain.mp3",
        "with blank.mp3",
        "  leading and trailing blanks  .mp3",
        "100%.mp3",
        "%41%25.mp3",
        "\"quoted\".mp3",
        "it's.mp3",
        "x alias y.mp3",
        "a type waveaudio.mp3",
        "open notify wait.mp3",
        "a\\b.mp3",
        "\\leading backslash.mp3",
        "trailing backslash.mp3\\",
        "doubled\\\\backslash.mp3",
        "\xFF.mp3",
        "caf\xE9.mp3",
        "caf\xC3\xA9.mp3",
        "\xE6\x97\xA5\xE6\x9C\xAC.mp3",
        "tab\there.mp3",
        "new\nline.mp3",
        "semi;colon&amp|pipe$dollar.mp3",
        "..dots...mp3",
        "no extension",
    };
    return names;
}

TEST(ShortPath, EveryAwkwardNameLeadsToItsOwnFile) {
    TempDir dir;
    for (const auto& name : awkwardNames()) {
        makeFile(dir / name, name);
    }
    for (const auto& name : awkwardNames()) {
        for (const char* separator : {"\\", "/"}) {
            SCOPED_TRACE("name [" + name + "] joined with " + separator);
            const std::string shortPath = shortPathOf(dir.path() + separator + name);
            ASSERT_FALSE(shortPath.empty());
            expectSafeForCommand(shortPath);
            const auto decoded = decodeShortPath(shortPath);
            ASSERT_TRUE(decoded.has_value());
            EXPECT_EQ(identityOf(*decoded), identityOf(dir / name));
        }
    }
}

TEST(ShortPath, MediaCommandKeepsTheShortPathAsOneWord) {
    TempDir dir;
    makeFile(dir / "x alias y type waveaudio.mp3");
    const std::string shortPath = shortPathOf(dir.path() + "\\x alias y type waveaudio.mp3");
    ASSERT_FALSE(shortPath.empty());
    const std::string command = "open " + shortPath + " type mpegvideo alias tivoran";
    std::vector<std::string> words;
    for (std::size_t at = 0; at < command.size();) {
        const std::size_t end = std::min(command.find(' ', at), command.size());
        words.push_back(command.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(words.size(), 6U) << command;
    EXPECT_EQ(words[1], shortPath);
    EXPECT_EQ(words[3], "mpegvideo");
    EXPECT_EQ(words[5], "tivoran");
}

TEST(ShortPath, DirectoriesWithBackslashesAndAwkwardNamesAreFollowed) {
    TempDir dir;
    struct Row {
        std::string directory;
        std::string name;
    };
    const std::vector<Row> rows = {
        {"x\\y", "song.mp3"},    {"x\\y", "a\\b.mp3"},      {"with blank", "100%.mp3"},
        {"caf\xE9", "\xFF.mp3"}, {"dir\\", "trailing.mp3"},
    };
    for (const auto& row : rows) {
        if (::access((dir / row.directory).c_str(), F_OK) != 0) {
            makeDirectory(dir / row.directory);
        }
        makeFile(dir / row.directory + "/" + row.name);
    }
    for (const auto& row : rows) {
        // How the window builds the path: the directory is a Linux path, the join is either.
        for (const char* separator : {"\\", "/"}) {
            const std::string longPath = dir / row.directory + separator + row.name;
            SCOPED_TRACE(longPath);
            const std::string shortPath = shortPathOf(longPath);
            ASSERT_FALSE(shortPath.empty());
            expectSafeForCommand(shortPath);
            const auto decoded = decodeShortPath(shortPath);
            ASSERT_TRUE(decoded.has_value());
            EXPECT_EQ(identityOf(*decoded), identityOf(dir / row.directory + "/" + row.name));
        }
    }
}

TEST(ShortPath, LongestExistingNameIsTakenAndShorterOnesAreTriedWhenItLeadsNowhere) {
    TempDir dir;
    // "a\b" is a file, but the path goes on past it: only "a" / "b" / "c.mp3" names a file.
    makeFile(dir / "a\\b");
    makeDirectory(dir / "a");
    makeDirectory(dir / "a/b");
    makeFile(dir / "a/b/c.mp3");
    // "m\n" is a directory, but the file is only under "m" / "n".
    makeDirectory(dir / "m\\n");
    makeDirectory(dir / "m");
    makeDirectory(dir / "m/n");
    makeFile(dir / "m/n/o.mp3");
    // "p\q.mp3" and "p"/"q.mp3" both exist: the longest name wins.
    makeFile(dir / "p\\q.mp3", "long");
    makeDirectory(dir / "p");
    makeFile(dir / "p/q.mp3", "short");

    struct Row {
        std::string longPath;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {dir.path() + "\\a\\b\\c.mp3", dir / "a/b/c.mp3"},
        {dir.path() + "\\a\\b", dir / "a\\b"},
        {dir.path() + "\\m\\n\\o.mp3", dir / "m/n/o.mp3"},
        {dir.path() + "\\m\\n", dir / "m\\n"},
        {dir.path() + "\\p\\q.mp3", dir / "p\\q.mp3"},
        {dir.path() + "/p/q.mp3", dir / "p/q.mp3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.longPath);
        const auto resolved = resolveWindowsPath(row.longPath);
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(identityOf(*resolved), identityOf(row.expected));
    }
}

TEST(ShortPath, EmptyNamesAreSkipped) {
    TempDir dir;
    makeDirectory(dir / "sub");
    makeFile(dir / "sub/song.mp3");
    const std::vector<std::string> paths = {
        dir.path() + "\\\\sub\\\\song.mp3", dir.path() + "//sub//song.mp3",
        dir.path() + "/\\sub\\/song.mp3",   dir.path() + "\\sub\\song.mp3\\",
        dir.path() + "/sub/song.mp3/",
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        const auto resolved = resolveWindowsPath(path);
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(identityOf(*resolved), identityOf(dir / "sub/song.mp3"));
    }
}

TEST(ShortPath, RelativePathsResolveAgainstTheCurrentDirectoryToAnAbsoluteForm) {
    TempDir dir;
    makeDirectory(dir / "sub dir");
    makeFile(dir / "sub dir/song.mp3");
    const CurrentDirectory inside(dir.path());
    for (const std::string path : {"sub dir\\song.mp3", "sub dir/song.mp3", ".\\sub dir\\song.mp3",
                                   "sub dir\\..\\sub dir\\song.mp3"}) {
        SCOPED_TRACE(path);
        const std::string shortPath = shortPathOf(path);
        ASSERT_FALSE(shortPath.empty());
        expectSafeForCommand(shortPath);
        const auto decoded = decodeShortPath(shortPath);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(identityOf(*decoded), identityOf(dir / "sub dir/song.mp3"));
    }
}

TEST(ShortPath, LinksAndDirectoriesResolve) {
    TempDir dir;
    makeFile(dir / "target.mp3");
    makeLink("target.mp3", dir / "link to.mp3");
    makeDirectory(dir / "album");
    makeLink("album", dir / "album link");
    makeFile(dir / "album/song.mp3");
    struct Row {
        std::string longPath;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {dir.path() + "\\link to.mp3", dir / "link to.mp3"},
        {dir.path() + "\\album", dir / "album"},
        {dir.path() + "\\album link\\song.mp3", dir / "album/song.mp3"},
        {"/", "/"},
        {"\\", "/"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.longPath);
        const std::string shortPath = shortPathOf(row.longPath);
        ASSERT_FALSE(shortPath.empty());
        const auto decoded = decodeShortPath(shortPath);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(identityOf(*decoded), identityOf(row.expected));
    }
}

TEST(ShortPath, NothingThereGivesZeroAndLeavesTheBufferAlone) {
    TempDir dir;
    makeFile(dir / "file.mp3");
    const std::vector<std::string> paths = {
        "",
        dir / "missing.mp3",
        dir / "missing dir\\file.mp3",
        dir / "file.mp3\\more",
        dir / "file.mp3/more",
        dir.path() + "\\file",
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        std::vector<char> buffer(300, '#');
        EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer.data(), 300), 0U);
        EXPECT_EQ(buffer, std::vector<char>(300, '#'));
        EXPECT_EQ(GetShortPathNameA(path.c_str(), nullptr, 0), 0U);
    }
    EXPECT_EQ(GetShortPathNameA(nullptr, nullptr, 0), 0U);
}

TEST(ShortPath, BufferSizesFollowTheWindowsRules) {
    TempDir dir;
    // Each of these bytes takes three characters in the short form, so the path passes 255.
    const std::string deepName(70, '\xE9');
    makeDirectory(dir / deepName);
    makeDirectory(dir / deepName + "/" + deepName);
    const std::string longFile = dir / deepName + "/" + deepName + "/long name.mp3";
    makeFile(longFile);
    makeFile(dir / "short.mp3");

    for (const std::string& path : {longFile, dir / "short.mp3"}) {
        SCOPED_TRACE(path);
        const std::uint32_t needed = GetShortPathNameA(path.c_str(), nullptr, 0);
        ASSERT_GT(needed, 1U);
        const std::string expected = encodeShortPath(path);
        ASSERT_EQ(needed, expected.size() + 1) << "the size asked for counts the terminator";

        // One short: exactly the length without room for the terminator.
        std::vector<char> buffer(needed + 8, '#');
        EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer.data(), needed - 1), needed);
        EXPECT_EQ(buffer, std::vector<char>(needed + 8, '#')) << "a short buffer stays untouched";

        // Just enough: the length comes back and the text is terminated.
        EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer.data(), needed), needed - 1);
        EXPECT_EQ(std::string(buffer.data()), expected);
        EXPECT_EQ(buffer[needed], '#') << "nothing written past the terminator";
    }
    EXPECT_GT(encodeShortPath(longFile).size(), 255U) << "the long case must really be long";
    const std::string viaCaller =
        shortPathOf(dir.path() + "\\" + deepName + "\\" + deepName + "\\long name.mp3");
    EXPECT_EQ(decodeShortPath(viaCaller), longFile);
}

TEST(ShortPath, BufferMayBeTheLongPathItself) {
    TempDir dir;
    makeFile(dir / "song.mp3");
    std::vector<char> buffer(512, '\0');
    const std::string longPath = dir.path() + "\\song.mp3";
    std::memcpy(buffer.data(), longPath.c_str(), longPath.size() + 1);
    const auto length = GetShortPathNameA(buffer.data(), buffer.data(), 512);
    ASSERT_GT(length, 0U);
    EXPECT_EQ(decodeShortPath(std::string(buffer.data(), length)), dir / "song.mp3");
}

TEST(ShortPathEncoding, EscapesEverythingButTheSafeCharacters) {
    struct Row {
        std::string path;
        std::string encoded;
    };
    const std::vector<Row> rows = {
        {"", ""},
        {"/tmp/Song_1-2.mp3~", "/tmp/Song_1-2.mp3~"},
        {"/a b", "/a%20b"},
        {"/100%", "/100%25"},
        {"/\"q\"", "/%22q%22"},
        {"/it's", "/it%27s"},
        {"/a\\b", "/a%5Cb"},
        {"/caf\xE9", "/caf%E9"},
        {"/\xFF\x01\x7F", "/%FF%01%7F"},
        {"/\xC3\xA9", "/%C3%A9"},
        {"/+=:,@", "/%2B%3D%3A%2C%40"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(encodeShortPath(row.path), row.encoded);
        EXPECT_EQ(decodeShortPath(row.encoded), row.path);
    }
}

TEST(ShortPathEncoding, EveryByteRoundTripsAndNothingUnsafeIsLeft) {
    for (int value = 1; value < 256; ++value) {
        const std::string path = std::string("/x") + static_cast<char>(value) + "y";
        SCOPED_TRACE(value);
        const std::string encoded = encodeShortPath(path);
        EXPECT_EQ(encoded.find_first_of(" \t\r\n\"'\\"), std::string::npos);
        for (const char c : encoded) {
            EXPECT_TRUE((c >= 0x21 && c <= 0x7E)) << "encoded form holds only visible ASCII";
        }
        EXPECT_EQ(decodeShortPath(encoded), path);
    }
}

TEST(ShortPathEncoding, MalformedShortFormsAreRefused) {
    const std::vector<std::string> malformed = {
        "%",
        "/a%",
        "/a%4",
        "/a%G1",
        "/a%1G",
        "/a%%41",
        "/a%00b",
        "/a b",
        "/a\"b",
        "/a\\b",
        std::string("/a\xE9", 3),
    };
    for (const auto& text : malformed) {
        SCOPED_TRACE(text);
        EXPECT_EQ(decodeShortPath(text), std::nullopt);
    }
    EXPECT_EQ(decodeShortPath("/caf%e9"), "/caf\xE9") << "hex digits in either case";
}

}  // namespace
