#include "platform/shortpath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace {

using korvel::test::TempDir;
using platform::decodeShortPath;
using platform::encodeShortPath;
using platform::resolveWindowsPath;

// Makes each entry under `dir` in order: a name ending in "/" is a directory, any other a file.
// It throws, so that a fixture that cannot be made fails the test instead of passing on nothing.
void make(const TempDir& dir, const std::vector<std::string>& entries) {
    for (const auto& entry : entries) {
        const std::string path = dir / entry;
        const bool made =
            entry.back() == '/' ? ::mkdir(path.c_str(), 0755) == 0 : std::ofstream(path).is_open();
        if (!made) {
            throw std::runtime_error("cannot make " + path + ": " + std::strerror(errno));
        }
    }
}

// Calls GetShortPathNameA as the player does: a 255-character buffer first, then one of the size
// asked for.
std::string shortPathOf(const std::string& longPath) {
    std::vector<char> buffer(255);
    auto length = GetShortPathNameA(longPath.c_str(), buffer.data(), 255);
    if (length >= buffer.size()) {
        buffer.resize(length);
        length = GetShortPathNameA(longPath.c_str(), buffer.data(), length);
    }
    return length < buffer.size() ? std::string(buffer.data(), length) : std::string();
}

TEST(ShortPath, AwkwardNamesLeadToTheirOwnFileAndCannotBreakACommand) {
    TempDir dir;
    make(dir, {"x\\y/", "caf\xE9 100%/"});
    // Each file lies in the directory named before its last "/", or in `dir` itself.
    for (const std::string file :
         {"with blank.mp3", "%41%.mp3", "\"quoted\" it's.mp3", "x alias y.mp3",
          "a type waveaudio.mp3", "a\\b.mp3", "\\lead\\\\doubled\\", "\xFF caf\xE9.mp3",
          "x\\y/a\\b.mp3", "caf\xE9 100%/song.mp3"}) {
        make(dir, {file});
        const auto slash = file.rfind('/');
        const std::string directory =
            slash == std::string::npos ? dir.path() : dir / file.substr(0, slash);
        const std::string name = file.substr(slash + 1);
        for (const char* separator : {"\\", "/"}) {
            const std::string longPath = directory + separator + name;
            SCOPED_TRACE(longPath);
            const std::string shortPath = shortPathOf(longPath);
            EXPECT_EQ(shortPath.find_first_of(" \"'\\"), std::string::npos) << shortPath;
            EXPECT_EQ(decodeShortPath(shortPath), directory + "/" + name);
        }
    }
}

TEST(ShortPath, LongestExistingNameWinsAndShorterOnesAreTriedWhenItLeadsNowhere) {
    TempDir dir;
    // "a\b" is a file and "m\n" a directory, but the files lie only under "a"/"b" and "m"/"n".
    make(dir, {"a\\b", "a/", "a/b/", "a/b/c.mp3", "m\\n/", "m/", "m/n/", "m/n/o.mp3", "p\\q.mp3",
               "p/", "p/q.mp3", "album/", "album/song.mp3"});
    ASSERT_EQ(::symlink("album", (dir / "album link").c_str()), 0);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\\a\\b\\c.mp3", "/a/b/c.mp3"},
        {"\\m\\n\\o.mp3", "/m/n/o.mp3"},
        {"\\p\\q.mp3", "/p\\q.mp3"},
        // A file in "/" joined with "\" doubles the separator; the link is followed.
        {"/\\album link\\song.mp3", "/album link/song.mp3"},
    };
    for (const auto& [longPath, expected] : rows) {
        SCOPED_TRACE(longPath);
        EXPECT_EQ(resolveWindowsPath(dir.path() + longPath), dir.path() + expected);
    }
}

TEST(ShortPath, NothingThereGivesZero) {
    TempDir dir;
    make(dir, {"file.mp3"});
    for (const std::string& path : {dir / "missing.mp3", dir.path() + "\\file.mp3\\more"}) {
        SCOPED_TRACE(path);
        std::vector<char> buffer(300);
        EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer.data(), 300), 0U);
    }
}

TEST(ShortPath, BufferSizesFollowTheWindowsRules) {
    TempDir dir;
    // Each of these bytes takes three characters in the short form, so the path passes 255.
    const std::string deep(70, '\xE9');
    make(dir, {deep + "/", deep + "/" + deep + "/", deep + "/" + deep + "/long name.mp3"});
    const std::string longPath = dir.path() + "\\" + deep + "\\" + deep + "\\long name.mp3";
    const std::string expected = encodeShortPath(dir / (deep + "/" + deep + "/long name.mp3"));
    ASSERT_GT(expected.size(), 255U);
    const auto length = static_cast<std::uint32_t>(expected.size());

    EXPECT_EQ(GetShortPathNameA(longPath.c_str(), nullptr, 0), length + 1);
    std::vector<char> buffer(length + 8, '#');
    EXPECT_EQ(GetShortPathNameA(longPath.c_str(), buffer.data(), length), length + 1);
    EXPECT_EQ(buffer, std::vector<char>(length + 8, '#')) << "a short buffer stays untouched";
    EXPECT_EQ(GetShortPathNameA(longPath.c_str(), buffer.data(), length + 1), length);
    EXPECT_EQ(std::string(buffer.data(), length + 1), expected + '\0');
    EXPECT_EQ(shortPathOf(longPath), expected);
}

TEST(ShortPathEncoding, EveryByteRoundTripsAsVisibleAsciiWithoutBlankQuoteOrBackslash) {
    for (int value = 1; value < 256; ++value) {
        const std::string path = std::string("/x") + static_cast<char>(value);
        const std::string encoded = encodeShortPath(path);
        SCOPED_TRACE(encoded);
        EXPECT_TRUE(std::all_of(encoded.begin(), encoded.end(), [](char c) {
            return c > ' ' && c < 0x7F && c != '"' && c != '\'' && c != '\\';
        }));
        EXPECT_EQ(decodeShortPath(encoded), path);
    }
}

TEST(ShortPathEncoding, MalformedShortFormsAreRefused) {
    // A truncated escape must not read past the end, and no short form may smuggle in a NUL.
    for (const std::string text : {"/a%", "/a%4", "/a%G1", "/a%00b"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(decodeShortPath(text), std::nullopt);
    }
}

}  // namespace
