#include "platform/ini.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "support/permissions.h"
#include "support/temp_dir.h"

namespace {

using korvel::test::permissionBitsBind;
using korvel::test::TempDir;

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    ASSERT_TRUE(out) << "cannot write fixture " << path;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> namesIn(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

// What a program reads: a buffer of `size` bytes, the count returned and what it holds.
struct Read {
    std::uint32_t count;
    std::string text;
};

Read readValue(const std::string& file, const char* section, const char* key,
               std::uint32_t size = 4096, const char* def = "") {
    std::vector<char> buffer(size + 1, 'X');  // one spare byte to catch a write past the end
    const std::uint32_t n =
        GetPrivateProfileStringA(section, key, def, buffer.data(), size, file.c_str());
    EXPECT_EQ(buffer[size], 'X') << "wrote past the buffer";
    if (size > 0) {
        EXPECT_LT(n, size);
        EXPECT_EQ(buffer[n], '\0') << "not terminated after the count";
    }
    return {n, std::string(buffer.data(), std::min<std::size_t>(n, size))};
}

std::string valueOf(const std::string& file, const char* section, const char* key) {
    return readValue(file, section, key).text;
}

// Root (or a process with CAP_DAC_OVERRIDE) writes through permission bits, so tests that rely
// on them cannot show anything there: detect it by trying.

// A test name from the row's description: letters and digits kept, anything else "_".
template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& row) {
    std::string name;
    for (const char* p = row.param.what; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return name;
}

// ---- Reading -----------------------------------------------------------------------------

struct ReadCase {
    const char* what;
    std::string contents;
    const char* section;
    const char* key;
    std::string expected;  // "<default>" when the default must come back
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.what;
}

class IniReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(IniReadTest, ReadsWhatWindowsWouldRead) {
    const ReadCase& c = GetParam();
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    writeBytes(file, c.contents);
    const Read read = readValue(file, c.section, c.key, 4096, "<default>");
    EXPECT_EQ(read.text, c.expected);
    EXPECT_EQ(read.count, c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniReadTest,
    testing::Values(
        ReadCase{"plain", "[korvel]\npath=/music\n", "korvel", "path", "/music"},
        ReadCase{"section in other case", "[KorVel]\npath=/music\n", "korvel", "path", "/music"},
        ReadCase{"key in other case", "[korvel]\nPATH=/music\n", "korvel", "Path", "/music"},
        ReadCase{"blanks around key and value", "[korvel]\n  path \t=  /my music \t\n", "korvel",
                 "path", "/my music"},
        ReadCase{"blanks inside the header", "[  korvel  ]\npath=/m\n", "korvel", "path", "/m"},
        ReadCase{"blanks around the asked names", "[korvel]\npath=/m\n", " korvel ", "\tpath ",
                 "/m"},
        ReadCase{"quotes stripped", "[korvel]\npath=\"/my music\"\n", "korvel", "path",
                 "/my music"},
        ReadCase{"blanks inside quotes kept", "[korvel]\npath = \"  /m  \"  \n", "korvel", "path",
                 "  /m  "},
        ReadCase{"only one pair of quotes", "[korvel]\npath=\"\"/m\"\"\n", "korvel", "path",
                 "\"/m\""},
        ReadCase{"a lone quote kept", "[korvel]\npath=\"\n", "korvel", "path", "\""},
        ReadCase{"an unbalanced quote kept", "[korvel]\npath=\"/m\n", "korvel", "path", "\"/m"},
        ReadCase{"empty value is not the default", "[korvel]\npath=\n", "korvel", "path", ""},
        ReadCase{"CRLF lines", "[korvel]\r\nother=1\r\npath=/m\r\n", "korvel", "path", "/m"},
        ReadCase{"lone CR lines", "[korvel]\rother=1\rpath=/m\r", "korvel", "path", "/m"},
        ReadCase{"no final line end", "[korvel]\npath=/m", "korvel", "path", "/m"},
        ReadCase{"byte order mark", "\xEF\xBB\xBF[korvel]\npath=/m\n", "korvel", "path", "/m"},
        ReadCase{"value holding = ; and #", "[korvel]\npath=/a=b ; c # d\n", "korvel", "path",
                 "/a=b ; c # d"},
        ReadCase{"first of duplicate keys", "[korvel]\npath=/first\nPATH=/second\n", "korvel",
                 "path", "/first"},
        ReadCase{"section named twice", "[korvel]\na=1\n[other]\npath=/o\n[KORVEL]\npath=/k\n",
                 "korvel", "path", "/k"},
        ReadCase{"non-UTF-8 and UTF-8 bytes", "[korvel]\npath=/m\xFF\xFE/zo\xC3\xAB\n", "korvel",
                 "path", "/m\xFF\xFE/zo\xC3\xAB"},
        ReadCase{"multi-line syntax is plain text", "[korvel]\npath=<<<END\nx\nEND\n", "korvel",
                 "path", "<<<END"},
        ReadCase{"missing section", "[other]\npath=/o\n", "korvel", "path", "<default>"},
        ReadCase{"missing key", "[korvel]\nother=/o\n", "korvel", "path", "<default>"},
        ReadCase{"key of the next section", "[korvel]\nx=1\n[other]\npath=/o\n", "korvel", "path",
                 "<default>"},
        ReadCase{"key before any section", "path=/top\n[korvel]\nx=1\n", "korvel", "path",
                 "<default>"},
        ReadCase{"comment lines", "[korvel]\n;path=/a\n  # path=/b\n", "korvel", "path",
                 "<default>"},
        ReadCase{"header without ]", "[korvel\npath=/m\n", "korvel", "path", "<default>"},
        ReadCase{"empty file", "", "korvel", "path", "<default>"},
        ReadCase{"empty section asked", "path=/top\n[]\npath=/e\n", "", "path", "<default>"},
        ReadCase{"empty key asked", "[korvel]\n=/e\n", "korvel", "", "<default>"}),
    caseName<ReadCase>);

TEST(IniRead, MissingFileGivesTheDefault) {
    TempDir dir;
    const Read read = readValue(dir / "absent.ini", "korvel", "path", 255, "fallback");
    EXPECT_EQ(read.text, "fallback");
    EXPECT_EQ(read.count, 8u);
}

TEST(IniRead, DirectoryInsteadOfFileGivesTheDefault) {
    TempDir dir;
    EXPECT_EQ(readValue(dir.path(), "korvel", "path", 255, "fallback").text, "fallback");
}

TEST(IniRead, NullDefaultIsEmpty) {
    TempDir dir;
    char buffer[8] = "XXXXXXX";
    EXPECT_EQ(GetPrivateProfileStringA("korvel", "path", nullptr, buffer, sizeof buffer,
                                       (dir / "absent.ini").c_str()),
              0u);
    EXPECT_STREQ(buffer, "");
}

struct SizeCase {
    std::uint32_t size;
    std::uint32_t count;
    std::string text;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << "size " << c.size;
}

class IniBufferSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(IniBufferSizeTest, CutsToSizeMinusOne) {
    const SizeCase& c = GetParam();
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    writeBytes(file, "[korvel]\npath=abcdef\n");
    const Read value = readValue(file, "korvel", "path", c.size);
    EXPECT_EQ(value.count, c.count);
    EXPECT_EQ(value.text, c.text);
    // The default is cut the same way.
    const Read fallback = readValue(file, "korvel", "absent", c.size, "abcdef");
    EXPECT_EQ(fallback.count, c.count);
    EXPECT_EQ(fallback.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(Sizes, IniBufferSizeTest,
                         testing::Values(SizeCase{1, 0, ""}, SizeCase{2, 1, "a"},
                                         SizeCase{6, 5, "abcde"}, SizeCase{7, 6, "abcdef"},
                                         SizeCase{255, 6, "abcdef"}));

TEST(IniBufferSize, SizeZeroWritesNothing) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    writeBytes(file, "[korvel]\npath=abcdef\n");
    char buffer[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(GetPrivateProfileStringA("korvel", "path", "", buffer, 0, file.c_str()), 0u);
    EXPECT_EQ(std::string(buffer, 4), "XXXX");
}

TEST(IniBufferSize, LongValuesAgainstTheSettingsBuffer) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    const std::string v254(254, 'a');
    const std::string v300 = "/" + std::string(299, 'b');
    writeBytes(file, "[korvel]\nexact=" + v254 + "\nlong=" + v300 + "\n");
    const Read exact = readValue(file, "korvel", "exact", 255);
    EXPECT_EQ(exact.count, 254u);
    EXPECT_EQ(exact.text, v254);
    const Read cut = readValue(file, "korvel", "long", 255);
    EXPECT_EQ(cut.count, 254u);
    EXPECT_EQ(cut.text, v300.substr(0, 254));
    EXPECT_EQ(valueOf(file, "korvel", "long"), v300);
}

// ---- Writing -----------------------------------------------------------------------------

struct EditCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

void PrintTo(const EditCase& c, std::ostream* os) {
    *os << c.what;
}

class IniEditTest : public testing::TestWithParam<EditCase> {};

TEST_P(IniEditTest, ChangesOnlyWhatItMust) {
    const EditCase& c = GetParam();
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    writeBytes(file, c.before);
    ASSERT_NE(WritePrivateProfileStringA(c.section, c.key, c.value, file.c_str()), 0);
    EXPECT_EQ(readBytes(file), c.after);
    EXPECT_EQ(valueOf(file, c.section, c.key), c.value);
}

const std::string kBusyFile =
    "; settings of korvel\n"
    "\n"
    "top=level\n"
    "[other]\n"
    "path = /not/this\n"
    "\n"
    "# a comment\n"
    "[ Korvel ]   trailing text\n"
    "  this line means nothing\n"
    "=no key\n"
    "  PATH \t=  /old ; kept? no, part of the value  \n"
    "colour=blue\n"
    "\n"
    ";  [korvel]\n"
    "[last]\n"
    "x=\"quoted\"";

INSTANTIATE_TEST_SUITE_P(
    Cases, IniEditTest,
    testing::Values(EditCase{"replace in a busy file", kBusyFile, "korvel", "path", "/new",
                             "; settings of korvel\n"
                             "\n"
                             "top=level\n"
                             "[other]\n"
                             "path = /not/this\n"
                             "\n"
                             "# a comment\n"
                             "[ Korvel ]   trailing text\n"
                             "  this line means nothing\n"
                             "=no key\n"
                             "  PATH \t=  /new\n"
                             "colour=blue\n"
                             "\n"
                             ";  [korvel]\n"
                             "[last]\n"
                             "x=\"quoted\""},
                    EditCase{"add a key to a busy file", kBusyFile, "korvel", "size", "12",
                             "; settings of korvel\n"
                             "\n"
                             "top=level\n"
                             "[other]\n"
                             "path = /not/this\n"
                             "\n"
                             "# a comment\n"
                             "[ Korvel ]   trailing text\n"
                             "  this line means nothing\n"
                             "=no key\n"
                             "  PATH \t=  /old ; kept? no, part of the value  \n"
                             "colour=blue\n"
                             "size=12\n"
                             "\n"
                             ";  [korvel]\n"
                             "[last]\n"
                             "x=\"quoted\""},
                    EditCase{"add a key to the last section without a line end", kBusyFile, "last",
                             "y", "2", kBusyFile + "\ny=2\n"},
                    EditCase{"add a section after a file without a line end", kBusyFile, "new", "k",
                             "v", kBusyFile + "\n\n[new]\nk=v\n"},
                    EditCase{"add a section after a blank last line", "[a]\nx=1\n\n", "korvel",
                             "path", "/m", "[a]\nx=1\n\n[korvel]\npath=/m\n"},
                    EditCase{"empty file", "", "korvel", "path", "/m", "[korvel]\npath=/m\n"},
                    EditCase{"key into a section without keys", "[korvel]\n[b]\nx=1\n", "korvel",
                             "path", "/m", "[korvel]\npath=/m\n[b]\nx=1\n"},
                    EditCase{"CRLF file, replace", "[korvel]\r\npath=/old\r\nx=1\r\n", "korvel",
                             "path", "/new", "[korvel]\r\npath=/new\r\nx=1\r\n"},
                    EditCase{"CRLF file, add a key", "; c\r\n[korvel]\r\nx=1\r\n", "korvel", "path",
                             "/m", "; c\r\n[korvel]\r\nx=1\r\npath=/m\r\n"},
                    EditCase{"CRLF file, add a section", "[a]\r\nx=1\r\n", "korvel", "path", "/m",
                             "[a]\r\nx=1\r\n\r\n[korvel]\r\npath=/m\r\n"},
                    EditCase{"last line without line end keeps it so", "[korvel]\npath=/old",
                             "korvel", "path", "/new", "[korvel]\npath=/new"},
                    EditCase{"byte order mark kept", "\xEF\xBB\xBF[korvel]\npath=/old\n", "korvel",
                             "path", "/new", "\xEF\xBB\xBF[korvel]\npath=/new\n"},
                    EditCase{"names in other case", "[KORVEL]\nPath=/old\n", "korvel", "PATH",
                             "/new", "[KORVEL]\nPath=/new\n"},
                    EditCase{"first of duplicate keys", "[korvel]\npath=/1\npath=/2\n", "korvel",
                             "path", "/n", "[korvel]\npath=/n\npath=/2\n"},
                    EditCase{"blanks at the ends are quoted", "", "korvel", "path", " /m ",
                             "[korvel]\npath=\" /m \"\n"},
                    EditCase{"a quoted value keeps its quotes", "", "korvel", "path", "\"/m\"",
                             "[korvel]\npath=\"\"/m\"\"\n"},
                    EditCase{"a comment looking like the section is not it", ";[korvel]\n",
                             "korvel", "path", "/m", ";[korvel]\n\n[korvel]\npath=/m\n"},
                    EditCase{"a broken header is not the section", "[korvel\npath=/x\n", "korvel",
                             "path", "/m", "[korvel\npath=/x\n\n[korvel]\npath=/m\n"}),
    caseName<EditCase>);

class IniRoundTripTest : public testing::TestWithParam<std::string> {};

TEST_P(IniRoundTripTest, ValueReadsBackUnchanged) {
    const std::string& value = GetParam();
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    writeBytes(file, "[korvel]\npath=/before\nnext=kept\n");
    ASSERT_NE(WritePrivateProfileStringA("korvel", "path", value.c_str(), file.c_str()), 0);
    EXPECT_EQ(valueOf(file, "korvel", "path"), value);
    EXPECT_EQ(valueOf(file, "korvel", "next"), "kept");
    // Writing it again over itself changes nothing.
    const std::string once = readBytes(file);
    ASSERT_NE(WritePrivateProfileStringA("korvel", "path", value.c_str(), file.c_str()), 0);
    EXPECT_EQ(readBytes(file), once);
}

INSTANTIATE_TEST_SUITE_P(Values, IniRoundTripTest,
                         testing::Values("/music", "C:\\My Music", "/with  two  blanks",
                                         "  leading", "trailing  ", "\ttab\t", "\"quoted\"", "\"",
                                         "\"\"", "\" \"", "a=b;c#d", "[not a section]", "<<<END",
                                         "", "/home/zo\xC3\xAB/\xD0\x9C\xD1\x83",
                                         "/m\xFF\xFE\x80/x", std::string(254, 'v'),
                                         "/" + std::string(299, 'w')));

struct RefusalCase {
    const char* what;
    const char* section;
    const char* key;
    const char* value;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.what;
}

class IniRefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(IniRefusalTest, RefusedAndFileUnchanged) {
    const RefusalCase& c = GetParam();
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    const std::string before = "[korvel]\npath=/old\n";
    writeBytes(file, before);
    EXPECT_EQ(WritePrivateProfileStringA(c.section, c.key, c.value, file.c_str()), 0);
    EXPECT_EQ(readBytes(file), before);
    EXPECT_EQ(valueOf(file, "korvel", "path"), "/old");
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"korvel.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRefusalTest,
    testing::Values(RefusalCase{"LF in value", "korvel", "path", "/new\n[evil]\nx=1"},
                    RefusalCase{"CR in value", "korvel", "path", "/new\rx=1"},
                    RefusalCase{"CRLF at value end", "korvel", "path", "/new\r\n"},
                    RefusalCase{"LF in section", "korvel\nx", "path", "/new"},
                    RefusalCase{"bracket in section", "korvel]x", "path", "/new"},
                    RefusalCase{"empty section", " ", "path", "/new"},
                    RefusalCase{"LF in key", "korvel", "pa\nth", "/new"},
                    RefusalCase{"equals in key", "korvel", "path=x", "/new"},
                    RefusalCase{"key opening a section", "korvel", "[path", "/new"},
                    RefusalCase{"key opening a comment", "korvel", ";path", "/new"},
                    RefusalCase{"empty key", "korvel", "", "/new"},
                    RefusalCase{"null section", nullptr, "path", "/new"},
                    RefusalCase{"null key", "korvel", nullptr, "/new"},
                    RefusalCase{"null value", "korvel", "path", nullptr}),
    caseName<RefusalCase>);

TEST(IniWrite, CreatesTheFileWithUmaskPermissions) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    const mode_t old = umask(027);
    const int ok = WritePrivateProfileStringA("korvel", "path", "/m", file.c_str());
    umask(old);
    ASSERT_NE(ok, 0);
    EXPECT_EQ(readBytes(file), "[korvel]\npath=/m\n");
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"korvel.ini"});
}

TEST(IniWrite, KeepsPermissionBits) {
    for (const mode_t mode : {0600, 0640, 0664, 0606}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        const std::string file = dir / "korvel.ini";
        writeBytes(file, "[korvel]\npath=/old\n");
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        ASSERT_NE(WritePrivateProfileStringA("korvel", "path", "/new", file.c_str()), 0);
        EXPECT_EQ(valueOf(file, "korvel", "path"), "/new");
        EXPECT_EQ(modeOf(file), mode);
    }
}

TEST(IniWrite, MissingDirectoryIsRefused) {
    TempDir dir;
    EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/m", (dir / "no/korvel.ini").c_str()),
              0);
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

TEST(IniWrite, DirectoryInPlaceOfTheFileIsRefused) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
    EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/m", file.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"korvel.ini"});
}

TEST(IniWrite, SymbolicLinkStaysALink) {
    TempDir dir;
    const std::string target = dir / "real.ini";
    const std::string link = dir / "korvel.ini";
    writeBytes(target, "[korvel]\npath=/old\n");
    ASSERT_EQ(symlink("real.ini", link.c_str()), 0);
    ASSERT_NE(WritePrivateProfileStringA("korvel", "path", "/new", link.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readBytes(target), "[korvel]\npath=/new\n");
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"korvel.ini", "real.ini"}));
}

// A write that fails half-way (here the file size limit stops it) leaves the old file and no
// temporary file. This works whoever runs the test, root included.
TEST(IniWrite, FailureHalfWayLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    const std::string before = "[korvel]\npath=/old\n";
    writeBytes(file, before);

    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string big = "/" + std::string(300, 'x');
    const int ok = WritePrivateProfileStringA("korvel", "path", big.c_str(), file.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(ok, 0);
    EXPECT_EQ(readBytes(file), before);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"korvel.ini"});
}

TEST(IniWrite, ReadOnlyFileIsLeftAlone) {
    TempDir dir;
    if (!permissionBitsBind()) {
        GTEST_SKIP() << "running with privileges that write through permission bits";
    }
    const std::string file = dir / "korvel.ini";
    const std::string before = "[korvel]\npath=/old\n";
    writeBytes(file, before);
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/new", file.c_str()), 0);
    EXPECT_EQ(readBytes(file), before);
    EXPECT_EQ(modeOf(file), 0444u);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"korvel.ini"});
}

TEST(IniWrite, UnreadableFileIsNotReplaced) {
    TempDir dir;
    if (!permissionBitsBind()) {
        GTEST_SKIP() << "running with privileges that read through permission bits";
    }
    const std::string file = dir / "korvel.ini";
    writeBytes(file, "[other]\nprecious=1\n");
    ASSERT_EQ(chmod(file.c_str(), 0200), 0);
    EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/new", file.c_str()), 0);
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    EXPECT_EQ(readBytes(file), "[other]\nprecious=1\n");
}

TEST(IniWrite, ReadOnlyDirectoryIsLeftAlone) {
    TempDir dir;
    if (!permissionBitsBind()) {
        GTEST_SKIP() << "running with privileges that write through permission bits";
    }
    const std::string sub = dir / "ro";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    const std::string file = sub + "/korvel.ini";
    const std::string before = "[korvel]\npath=/old\n";
    writeBytes(file, before);
    ASSERT_EQ(chmod(sub.c_str(), 0555), 0);

    EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/new", file.c_str()), 0);
    EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/new", (sub + "/new.ini").c_str()), 0);

    EXPECT_EQ(readBytes(file), before);
    EXPECT_EQ(namesIn(sub), std::set<std::string>{"korvel.ini"});
}

// The write is checked by parsing the edited text before the file is replaced: a file the
// parser stops reading early (at a zero byte) would take the new section where it is never
// read, so the write is refused rather than reported as done.
TEST(IniWrite, WriteThatWouldNotReadBackIsRefused) {
    TempDir dir;
    const std::string file = dir / "korvel.ini";
    const std::string before = std::string("[other]\nx=1\n\0junk\n", 17);
    writeBytes(file, before);
    ASSERT_EQ(readBytes(file).size(), 17u);
    EXPECT_EQ(valueOf(file, "other", "x"), "1");
    EXPECT_EQ(WritePrivateProfileStringA("korvel", "path", "/m", file.c_str()), 0);
    EXPECT_EQ(readBytes(file), before);
    EXPECT_EQ(namesIn(dir.path()), std::set<std::string>{"korvel.ini"});
    // Keys before the zero byte can still be written.
    ASSERT_NE(WritePrivateProfileStringA("other", "x", "2", file.c_str()), 0);
    EXPECT_EQ(readBytes(file), std::string("[other]\nx=2\n\0junk\n", 17));
}

}  // namespace
