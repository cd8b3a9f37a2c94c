#include "platform/ini.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "support/permissions.h"
#include "support/temp_dir.h"

namespace {

using korvel::test::TempDir;
using Names = std::set<std::string>;

const std::string kOld = "[korvel]\npath=/old\n";

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    ASSERT_TRUE(out) << "cannot write fixture " << path;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Names namesIn(const std::string& directory) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Reads through a buffer of `size` bytes followed by a guard byte, so that a write past the end,
// a missing terminator or a count that includes the terminator shows.
std::string readValue(const std::string& file, const char* key, std::uint32_t size = 4096) {
    std::vector<char> buffer(size + 1, 'X');
    const std::uint32_t n =
        GetPrivateProfileStringA("korvel", key, "<default>", buffer.data(), size, file.c_str());
    EXPECT_EQ(buffer[size], 'X') << "wrote past the buffer";
    if (n >= size) {
        EXPECT_EQ(n, 0u) << "the count does not fit the buffer";
        return {};
    }
    EXPECT_EQ(buffer[n], '\0') << "the count does not end at the terminator";
    return std::string(buffer.data(), n);
}

TEST(IniRead, ReadsWhatWindowsWould) {
    struct Row {
        const char* what;
        const char* contents;  // null: no file
        const char* expected;
    };
    const Row rows[] = {
        {"names in other case", "[KorVel]\nPATH=/m\n", "/m"},
        {"blanks around key and value", "[korvel]\n  path \t=  /my music \t\n", "/my music"},
        {"quotes stripped", "[korvel]\npath=\"/my music\"\n", "/my music"},
        {"CRLF lines", "[korvel]\r\nx=1\r\npath=/m\r\n", "/m"},
        {"first of duplicate keys", "[korvel]\npath=/first\nPATH=/second\n", "/first"},
        {"empty value", "[korvel]\npath=\n", ""},
        {"missing file", nullptr, "<default>"},
        {"missing section", "[other]\npath=/o\n", "<default>"},
        {"missing key", "[korvel]\nx=/o\n", "<default>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        if (row.contents != nullptr) {
            writeBytes(dir / "korvel.ini", row.contents);
        }
        EXPECT_EQ(readValue(dir / "korvel.ini", "path"), row.expected);
    }
}

TEST(IniRead, CutsToTheBufferSize) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    const std::string v254(254, 'a'), v300 = "/" + std::string(299, 'b');
    writeBytes(file, "[korvel]\nshort=abcdef\nexact=" + v254 + "\nlong=" + v300 + "\n");
    struct Row {
        const char* key;
        std::uint32_t size;
        std::string expected;
    };
    const Row rows[] = {{"short", 0, ""},       {"short", 1, ""},
                        {"short", 7, "abcdef"}, {"short", 6, "abcde"},
                        {"exact", 255, v254},   {"long", 255, v300.substr(0, 254)},
                        {"long", 301, v300}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " in " + std::to_string(row.size) + " bytes");
        EXPECT_EQ(readValue(file, row.key, row.size), row.expected);
    }
}

TEST(IniWrite, ChangesOnlyWhatItMust) {
    // Hand-edited lines the writer must keep: comments (one naming the key), blank lines, a line
    // that means nothing, odd spacing, the key in another section, no line end at the end.
    const std::string head = "; path=/a\n\n[other]\npath = /x\n# note\n[ Korvel ]\n  junk line\n";
    const std::string tail = "colour=blue\n", end = "\n[last]\nx=1";
    const std::string busy = head + "  PATH \t=  /old  \n" + tail + end;
    struct Row {
        const char* what;
        const char* before;  // null: no file
        std::string section, key, value, after;
    };
    const Row rows[] = {
        {"creates the file", nullptr, "korvel", "path", "/m", "[korvel]\npath=/m\n"},
        {"replaces a value", busy.c_str(), "korvel", "path", "/new",
         head + "  PATH \t=  /new\n" + tail + end},
        {"adds a key", busy.c_str(), "korvel", "size", "12",
         head + "  PATH \t=  /old  \n" + tail + "size=12\n" + end},
        {"adds a section", busy.c_str(), "new", "k", "v", busy + "\n\n[new]\nk=v\n"},
        {"CRLF, replaces", "[korvel]\r\npath=/old\r\nx=1\r\n", "korvel", "path", "/new",
         "[korvel]\r\npath=/new\r\nx=1\r\n"},
        {"CRLF, adds a section", "[a]\r\nx=1\r\n", "korvel", "path", "/m",
         "[a]\r\nx=1\r\n\r\n[korvel]\r\npath=/m\r\n"},
        {"first of duplicate keys", "[korvel]\npath=/1\npath=/2\n", "korvel", "path", "/n",
         "[korvel]\npath=/n\npath=/2\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string file = dir / "korvel.ini";
        if (row.before != nullptr) {
            writeBytes(file, row.before);
        }
        EXPECT_NE(WritePrivateProfileStringA(row.section.c_str(), row.key.c_str(),
                                             row.value.c_str(), file.c_str()),
                  0);
        EXPECT_EQ(readBytes(file), row.after);
    }
}

TEST(IniWrite, ValuesReadBackUnchanged) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    const std::string values[] = {
        "/My  Music",       "  leading",           "trailing\t ",
        "\"quoted\"",       "/a=b ; c # d",        "/home/zo\xC3\xAB/\xD0\x9C\xD1\x83",
        "/m\xFF\xFE\x80/x", std::string(254, 'v'), "/" + std::string(299, 'w')};
    for (const std::string& value : values) {
        SCOPED_TRACE(value);
        EXPECT_NE(WritePrivateProfileStringA("korvel", "path", value.c_str(), file.c_str()), 0);
        EXPECT_EQ(readValue(file, "path"), value);
    }
}

TEST(IniWrite, LineBreakInValueIsRefused) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    writeBytes(file, kOld);
    for (const char* value : {"/new\n[evil]\nx=1", "/new\rx=1"}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", value, file.c_str()), 0);
        EXPECT_EQ(readBytes(file), kOld);
    }
    EXPECT_EQ(namesIn(dir.path()), Names{"korvel.ini"});
}

TEST(IniWrite, ReadOnlyFileOrDirectoryIsLeftAlone) {
    if (!korvel::test::permissionBitsBind()) {
        GTEST_SKIP() << "running with privileges that write through permission bits";
    }
    TempDir dir;
    for (const bool lockDirectory : {false, true}) {
        SCOPED_TRACE(lockDirectory ? "read-only directory" : "read-only file");
        const std::string sub = dir / (lockDirectory ? "directory" : "file");
        const std::string file = sub + "/korvel.ini";
        ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
        writeBytes(file, kOld);
        ASSERT_EQ(chmod(lockDirectory ? sub.c_str() : file.c_str(), 0555), 0);
        EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/new", file.c_str()), 0);
        EXPECT_EQ(readBytes(file), kOld);
        EXPECT_EQ(namesIn(sub), Names{"korvel.ini"});
    }
}

// A write that fails half-way, as on a full disk (here the file size limit stops it), must leave
// the old file and no temporary file; unlike permission bits, this binds root too.
TEST(IniWrite, FailureHalfWayLeavesTheOldFile) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    writeBytes(file, kOld);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int ok =
        WritePrivateProfileStringA("korvel", "path", std::string(300, 'x').c_str(), file.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(readBytes(file), kOld);
    EXPECT_EQ(namesIn(dir.path()), Names{"korvel.ini"});
}

}  // namespace
