// The contracts that turn names into text, paths and commands: text conversion, the short path,
// path resolution and directory listing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/fs.h"
#include "platform/shortpath.h"
#include "platform/text.h"
#include "support/support.h"

namespace korvel::test {
namespace {

QString units(std::initializer_list<char16_t> codes) {
    QString text;
    for (const char16_t code : codes) text.append(QChar(code));
    return text;
}

TEST(Text, BytesDecodeToTheirCharactersOrEscapesAndEncodeBack) {
    const std::vector<std::tuple<std::string, QString>> rows = {
        {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5", units({u'a', 0xE9, 0x20AC, 0xD83C, 0xDFB5})},
        {"caf\xE9", units({u'c', u'a', u'f', 0xDCE9})},
        {"\xC0\xAF", units({0xDCC0, 0xDCAF})},              // overlong "/"
        {"\xED\xA0\x80", units({0xDCED, 0xDCA0, 0xDC80})},  // an encoded surrogate
        {"a\xE2\x82", units({u'a', 0xDCE2, 0xDC82})},       // cut at the end
        {"\xC3\xC3\xA9", units({0xDCC3, 0xE9})},            // valid after a broken lead
        // Each boundary of the encoding: the last and first of each length, the last code point.
        {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80", units({0x7F, 0x80, 0x7FF, 0x800})},
        {"\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", units({0xFFFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF})},
        {"\xE0\x9F\xBF", units({0xDCE0, 0xDC9F, 0xDCBF})},              // overlong, three bytes
        {"\xF0\x8F\xBF\xBF", units({0xDCF0, 0xDC8F, 0xDCBF, 0xDCBF})},  // overlong, four
        {"\xF4\x90\x80\x80", units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})},  // past U+10FFFF
        {"\xF5\x80\xC1\xBF", units({0xDCF5, 0xDC80, 0xDCC1, 0xDCBF})},  // leads never valid
    };
    for (const auto& [ansi, wide] : rows) {
        EXPECT_EQ(platform::fromAnsi(ansi), wide) << ansi;
        EXPECT_EQ(platform::toAnsi(wide), ansi) << ansi;
    }
    // Surrogates that stand for no byte have no ANSI form.
    EXPECT_EQ(platform::toAnsi(units({u'a', 0xDC7F, 0xD800, u'b', 0xDFB5, 0xD83C})), "a??b??");
}

// A name shown on a terminal stays on its one line and cannot command the terminal.
TEST(Text, NamesArePrintedOnOneLineWithControlsEscaped) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"a \xC3\xA9 b.mp3", "a \xC3\xA9 b.mp3"},  // text stays as it is
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {"\x1B]0;x\x07\x7F", "\\x1b]0;x\\x07\\x7f"},  // a title change, DEL
        {"\xC2\x9B"
         "2J\xC2\xA0",
         "\\xc2\\x9b2J\xC2\xA0"},         // C1 CSI; a no-break space stays
        {"caf\xE9\\n", "caf\\xe9\\\\n"},  // a lone byte; a backslash cannot fake an escape
    };
    for (const auto& [name, shown] : rows) { EXPECT_EQ(platform::printable(name), shown) << name; }
}

// A name ending in "/" is made as a directory, any other as a file.
void make(const TempDir& dir, const std::vector<std::string>& entries) {
    for (const std::string& e : entries) {
        if (e.back() == '/' ? mkdir((dir / e).c_str(), 0755) != 0 : !std::ofstream(dir / e)) {
            throw std::runtime_error("cannot make " + e);
        }
    }
}

// Joined with "\" or "/", any name leads to its own file, in a short form no name can break.
TEST(ShortPath, ResolutionFindsTheFileOrNothing) {
    TempDir dir;
    // "a\b" is a file and "m\n" a directory, but the files lie under "a"/"b" and "m"/"n".
    make(dir, {"a\\b", "a/", "a/b/", "a/b/c.mp3", "m\\n/", "m/", "m/n/", "m/n/o.mp3", "p\\q.mp3", "p/", "p/q.mp3",
               "x y/", "x y/\"q\" it's %41.mp3", "x y/alias \xFF.mp3"});
    // clang-format off
    const std::vector<std::pair<std::string, std::optional<std::string>>> rows = {
        {"\\a\\b\\c.mp3", "/a/b/c.mp3"},          {"\\m\\n\\o.mp3", "/m/n/o.mp3"},
        {"\\p\\q.mp3", "/p\\q.mp3"},              {"\\\\p\\q.mp3\\", "/p\\q.mp3"},
        {"/x y\\\"q\" it's %41.mp3", "/x y/\"q\" it's %41.mp3"},
        {"\\x y/alias \xFF.mp3", "/x y/alias \xFF.mp3"},
        {"\\missing.mp3", std::nullopt},            {"\\p\\q.mp3\\more", std::nullopt},
    };
    // clang-format on
    for (const auto& [longPath, expected] : rows) {
        SCOPED_TRACE(longPath);
        const std::string path = dir.path() + longPath;
        EXPECT_EQ(platform::resolveWindowsPath(path), expected ? std::optional(dir.path() + *expected) : std::nullopt);
        std::vector<char> buffer(4096);
        const auto n = GetShortPathNameA(path.c_str(), buffer.data(), 4096);
        const std::string shortPath(buffer.data(), n);
        EXPECT_EQ(shortPath.find_first_of(" \"'\\"), std::string::npos);
        EXPECT_EQ(platform::decodeShortPath(shortPath).value_or(""), expected ? dir.path() + *expected : "");
    }
    EXPECT_EQ(GetShortPathNameA(nullptr, nullptr, 0), 0u) << "no path has no short form";
}

// Every byte's round trip is replayed from the fuzz inputs; forms no encoding makes are refused.
TEST(ShortPath, MalformedFormsAreRefused) {
    // The last ends in the middle of an escape, whatever follows it in memory.
    for (const std::string_view text : {"/a%", "/a%4", "/a%G1", "/a%1g", "/a%zz", "/a%00b", "/a b", "/a%4F"}) {
        EXPECT_EQ(platform::decodeShortPath(text == "/a%4F" ? text.substr(0, 4) : text), std::nullopt) << text;
    }
}

// One read of a folder as the lists take it, then the file list's "*.mp3": names that nearly
// match, links by what they lead to, hidden names.
TEST(Listing, FilesAndSubdirectoriesAsTheListsShowThem) {
    TempDir dir;
    make(dir, {"song.mp3", "LOUD.MP3", "Mixed.Mp3", "\xFF.mp3", "\xC3\x89t\xC3\xA9.MP3", "a.mp3x", "a.mp", "mp3",
               "amp3", "a.mp3.bak", ".mp3", ".hidden.mp3", "album/", "x.mp3/", ".hidden dir/"});
    ASSERT_EQ(symlink("song.mp3", (dir / "link.mp3").c_str()) | symlink("song.mp3", (dir / "song link").c_str()) |
                  symlink("a.mp3x", (dir / "to a.mp3x.mp3").c_str()) |  // the name, not the target
                  symlink("album", (dir / "dir link.mp3").c_str()) | symlink("gone", (dir / "dangling.mp3").c_str()) |
                  mkfifo((dir / "fifo.mp3").c_str(), 0644),
              0);
    auto sorted = [](std::vector<std::string> names) { return std::sort(names.begin(), names.end()), names; };
    const platform::fs::Listing listing = platform::fs::list(dir.path(), platform::fs::Pattern("*.mp3"));
    EXPECT_EQ(sorted(listing.subdirectories), sorted({"album", "x.mp3", "dir link.mp3"}));
    EXPECT_EQ(sorted(listing.files), sorted({"song.mp3", "LOUD.MP3", "Mixed.Mp3", "\xFF.mp3", "\xC3\x89t\xC3\xA9.MP3",
                                             "link.mp3", "to a.mp3x.mp3"}));
    EXPECT_TRUE(platform::fs::list(dir / "missing", platform::fs::Pattern("*")).files.empty());
    EXPECT_EQ(platform::fs::absoluteDirectory("/a/./b//c/../d/"), "/a/b/d");
}

// As the lists sort, from any starting order.
TEST(Listing, NamesSortAsPeopleReadThemInAStrictOrder) {
    // Capitals fold, digits count by value, accented and other letters follow in the order of
    // their code points (a capital before its small letter), and bytes that are not UTF-8 last.
    // clang-format off
    const std::vector<QString> ordered = {"a", "A1", "a2", "a10", "B", "track2.mp3", "Track10.mp3", "x9", "x0010", "x010",
                                          "zz", "\u00C9a", "\u00E9a", "\u00E9b", "\u03A9", platform::fromAnsi("\xFF"),
                                          platform::fromAnsi("\xFF" "1")};
    // clang-format on
    auto text = [](const std::vector<QString>& names) {
        return QStringList(names.begin(), names.end()).join(QChar('|')).toStdString();
    };
    for (std::size_t start = 0; start < ordered.size(); ++start) {
        std::vector<QString> names(ordered.rbegin(), ordered.rend());
        std::rotate(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(start), names.end());
        platform::fs::sortNaturally(names);
        EXPECT_EQ(text(names), text(ordered)) << start;
    }
}

}  // namespace
}  // namespace korvel::test
