#include "platform/ini.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "support/support.h"

// Every fsync in this program, by the path its descriptor names: a file replaced by a rename
// outlives a crash of the machine only once the folder that names it is synced too.
std::mutex syncing;
std::vector<std::string> synced;
extern "C" int fsync(int fd) {
    std::error_code ignored;
    const std::lock_guard lock(syncing);
    synced.push_back(std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ignored));
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

namespace korvel::test {
namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(std::ofstream(path, std::ios::binary) << bytes) << path;
}

// Reads through a buffer of `size` bytes and a guard byte, so that a write past the end, a
// missing terminator or a count that includes the terminator shows.
std::string readValue(const std::string& file, const char* key, std::uint32_t size = 4096) {
    std::vector<char> buffer(size + 1, 'X');
    const std::uint32_t n = GetPrivateProfileStringA("korvel", key, "<default>", buffer.data(), size, file.c_str());
    EXPECT_EQ(buffer[size], 'X') << "wrote past the buffer";
    EXPECT_TRUE(size == 0 ? n == 0 : n < size && buffer[n] == '\0') << n;
    return std::string(buffer.data(), std::min(n, size));
}

TEST(Ini, ReadsWhatWindowsWould) {
    const std::string v300 = "/" + std::string(299, 'b');
    const std::vector<std::tuple<std::string, std::uint32_t, std::string>> rows = {
        {"[KorVel]\nPATH=/m\n", 4096, "/m"},
        {"[korvel]\n  path \t=  /my music \t\n", 4096, "/my music"},
        {"[korvel]\npath=\"/my music\"\n", 4096, "/my music"},
        {"[korvel]\r\nx=1\r\npath=/m\r\n", 4096, "/m"},
        {"\xEF\xBB\xBF[korvel]\npath=/m\n", 4096, "/m"},  // a byte order mark
        {"[korvel]\npath=/first\nPATH=/second\n", 4096, "/first"},
        {"", 4096, "<default>"},  // no file
        {"[korvel]\nx=/o\n", 4096, "<default>"},
        {"[korvel]\npath=abcdef\n", 0, ""},
        {"[korvel]\npath=abcdef\n", 6, "abcde"},
        {"[korvel]\npath=abcdef\n", 7, "abcdef"},
        {"[korvel]\npath=" + v300 + "\n", 255, v300.substr(0, 254)},
        // Only whole lines within the limit count: the key's line here is cut by it.
        {"[korvel]\n" + std::string(kIniReadLimit - 17, '\n') + "path=/music\n", 255, "<default>"},
        {"[korvel]\npath=/m\n" + std::string(kIniReadLimit, ';'), 255, "/m"},
        {std::string(kIniReadLimit + 1, ';') + "\n[korvel]\npath=/m\n", 255, "<default>"},  // no whole line
    };
    for (const auto& [contents, size, expected] : rows) {
        SCOPED_TRACE(contents.substr(0, 80));
        TempDir dir;
        if (!contents.empty()) writeBytes(dir / "korvel.ini", contents);
        EXPECT_EQ(readValue(dir / "korvel.ini", "path", size), expected);
    }
}

TEST(Ini, WritesChangeOnlyWhatTheyMust) {
    // Hand-edited lines the writer keeps: comments (one naming the key), blank lines, a line that
    // means nothing, odd spacing, the key in another section, no line end at the end.
    const std::string head = "; path=/a\n\n[other]\npath = /x\n# note\n[ Korvel ]\n  junk\n";
    const std::string busy = head + "  PATH \t=  /old  \ncolour=blue\n\n[last]\nx=1";
    const std::vector<std::tuple<const char*, std::string, std::string>> rows = {
        {nullptr, "path", "[korvel]\npath=/new\n"},
        {busy.c_str(), "path", head + "  PATH \t=  /new\ncolour=blue\n\n[last]\nx=1"},
        {busy.c_str(), "size", head + "  PATH \t=  /old  \ncolour=blue\nsize=/new\n\n[last]\nx=1"},
        {"[a]\r\nx=1\r\n", "path", "[a]\r\nx=1\r\n\r\n[korvel]\r\npath=/new\r\n"},
        {"[korvel]\r\npath=/1\r\npath=/2\r\n", "path", "[korvel]\r\npath=/new\r\npath=/2\r\n"},
        {"\xEF\xBB\xBF[korvel]\npath=/old\n", "path", "\xEF\xBB\xBF[korvel]\npath=/new\n"},
    };
    // A new file is made as any file is (the umask decides); a file replaced keeps its mode and,
    // where root edits it, its owner.
    const mode_t mask = umask(0);
    umask(mask);
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    for (const auto& [before, key, after] : rows) {
        SCOPED_TRACE(before ? before : "no file");
        TempDir dir;
        const std::string file = dir / "korvel.ini";
        if (before) {
            writeBytes(file, before);
            ASSERT_EQ(chmod(file.c_str(), 0640) | chown(file.c_str(), owner, owner), 0);
        }
        EXPECT_NE(WritePrivateProfileStringA("korvel", key.c_str(), "/new", file.c_str()), 0);
        EXPECT_EQ(contentsOf(file), after);
        struct stat made {};
        ASSERT_EQ(stat(file.c_str(), &made), 0);
        EXPECT_EQ(made.st_mode & 0777, before ? 0640 : 0666 & ~mask);
        EXPECT_EQ(made.st_uid, before ? owner : geteuid());
    }
}

TEST(Ini, ValuesReadBackUnchangedAndLineBreaksAreRefused) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    for (const std::string& value :
         {std::string("  lead"), std::string("trail\t "), std::string("\"quoted\""), std::string("/a=b ; c # d"),
          std::string("/m\xFF\xFE\x80/x"), "/" + std::string(299, 'w')}) {
        EXPECT_NE(WritePrivateProfileStringA("korvel", "path", value.c_str(), file.c_str()), 0);
        EXPECT_EQ(readValue(file, "path"), value);
    }
    const std::string before = contentsOf(file);
    for (const char* value : {"/new\n[evil]\nx=1", "/new\rx=1"}) {
        EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", value, file.c_str()), 0) << value;
    }
    // Nor is a key that cannot stand in a file as itself: each of these would read back as another.
    for (const char* key : {"", "  ", "pa\nth", "a=b", "[k", ";k", "#k"}) {
        EXPECT_EQ(WritePrivateProfileStringA("korvel", key, "/x", file.c_str()), 0) << key;
    }
    // What a caller is told of each refusal.
    EXPECT_EQ(WriteProfileKey("korvel", "path", "/a\nb", file.c_str()), "a line break in the value cannot be stored");
    EXPECT_EQ(WriteProfileKey("korvel", "pa\nth", "/x", file.c_str()), "no such section, key or value can be stored");
    EXPECT_EQ(WriteProfileKey("korvel", "path", "/x", ""), "there is no settings file");
    EXPECT_EQ(contentsOf(file), before);
    EXPECT_EQ(entriesIn(dir.path()), 1);
}

// A reader holding the old file never sees a torn one: the new file replaces it whole, and a
// write that fails half-way (here at the file size limit, as on a full disk) leaves it alone.
TEST(Ini, TheFileIsReplacedWholeOrNotAtAll) {
    TempDir dir;
    const std::string file = dir / "korvel.ini", old = "[korvel]\npath=/old\n";
    writeBytes(file, old);
    ASSERT_EQ(link(file.c_str(), (dir / "reader").c_str()), 0);
    synced.clear();
    EXPECT_NE(WritePrivateProfileStringA("korvel", "path", "/new", file.c_str()), 0);
    EXPECT_EQ(contentsOf(dir / "reader"), old) << "written in place, not replaced";
    EXPECT_EQ(synced.empty() ? "" : synced.back(), std::filesystem::canonical(dir.path()).string())
        << "the rename may not reach the disk";
    EXPECT_EQ(contentsOf(file), "[korvel]\npath=/new\n");
    std::filesystem::remove(dir / "reader");

    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 24;
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const int ok = WritePrivateProfileStringA("korvel", "path", std::string(300, 'x').c_str(), file.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(contentsOf(file), "[korvel]\npath=/new\n");
    EXPECT_EQ(entriesIn(dir.path()), 1) << "a temporary file was left behind";
}

// Only a regular file is read or replaced, and nothing ever waits on one that is not: a FIFO
// with no writer would hold the start for good. A link is followed and stays a link, also when
// its target is not there yet.
TEST(Ini, OnlyARegularFileIsReadOrReplacedAndLinksStayLinks) {
    // What the settings file is (and where a link leads), whether a write is made, and the type of
    // what the name leads to after it, and why a write was not made.
    const char* notAFile = "it is not a regular file";
    const std::vector<std::tuple<const char*, mode_t, const char*, int, mode_t, const char*>> rows = {
        {"a FIFO", S_IFIFO, nullptr, 0, S_IFIFO, notAFile},
        {"a link to a FIFO", S_IFLNK, "fifo", 0, S_IFIFO, notAFile},
        {"a folder", S_IFDIR, nullptr, 0, S_IFDIR, notAFile},
        {"a link to nothing yet", S_IFLNK, "real.ini", 1, S_IFREG, ""},
    };
    for (const auto& [what, made, target, written, typeAfter, why] : rows) {
        SCOPED_TRACE(what);
        TempDir dir;
        const std::string file = dir / "korvel.ini";
        ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
        ASSERT_EQ(made == S_IFIFO   ? mkfifo(file.c_str(), 0600)
                  : made == S_IFDIR ? mkdir(file.c_str(), 0700)
                                    : symlink(target, file.c_str()),
                  0);
        EXPECT_EQ(readValue(file, "path"), "<default>");
        EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/new", file.c_str()), written);
        EXPECT_EQ(WriteProfileKey("korvel", "path", "/new", file.c_str()), why);
        struct stat after {};
        ASSERT_EQ(stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, typeAfter);
        if (written != 0) {
            EXPECT_EQ(contentsOf(dir / "real.ini"), "[korvel]\npath=/new\n");
            EXPECT_TRUE(std::filesystem::is_symlink(file)) << "the link was replaced";
        }
    }
}

}  // namespace
}  // namespace korvel::test
