#include "platform/ini.h"

// The 8-bit interface only: values are bytes, passed through unchanged, so names that are not
// valid UTF-8 survive. This also keeps SimpleIni from needing its UTF conversion sources.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <QSaveFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/files.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The blanks that SimpleIni trims around names and values inside one line.
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimLeft(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::string_view trimRight(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view trim(std::string_view text) {
    return trimRight(trimLeft(text));
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

// A section name as it can stand in a file: blanks around it are not part of it (the parser trims
// them), and it cannot be empty (that is where keys before any section go), hold a line break or
// hold "]" (which would end the header early).
std::optional<std::string> sectionName(const char* section) {
    if (section == nullptr) {
        return std::nullopt;
    }
    const std::string_view name = trim(section);
    if (name.empty() || hasLineBreak(name) || name.find(']') != name.npos) {
        return std::nullopt;
    }
    return std::string(name);
}

// A key name as it can stand in a file: not empty, no line break, no "=" (which would end the
// key early), and not starting with "[" (a section header) or ";" or "#" (a comment).
std::optional<std::string> keyName(const char* key) {
    if (key == nullptr) {
        return std::nullopt;
    }
    const std::string_view name = trim(key);
    if (name.empty() || hasLineBreak(name) || name.find('=') != name.npos || name.front() == '[' ||
        name.front() == ';' || name.front() == '#') {
        return std::nullopt;
    }
    return std::string(name);
}

enum class ReadOutcome { kRead, kMissing, kFailed };

// What one read of the settings file found.
struct FileRead {
    ReadOutcome outcome = ReadOutcome::kFailed;
    std::string contents;  // the whole lines within the first kIniReadLimit bytes
    bool cut = false;      // the file goes on past kIniReadLimit
    struct stat status {};
    std::string why;  // for kFailed, for a person
};

// What is read at a time: a settings file is read in one go or a few.
constexpr std::size_t kReadChunk = 64 * 1024;

FileRead failed(std::string why) {
    FileRead read;
    read.why = std::move(why);
    return read;
}

// The file's first kIniReadLimit bytes, and what it is. A file that does not exist is not an
// error: writing creates it. Anything else that stops the read is (no permission, a directory, a
// FIFO, a device), so that a file we cannot read is never replaced by one that has lost its
// contents. Only a regular file is read, and the open never waits: a FIFO with no writer would
// otherwise hold the program for good.
FileRead readFile(const char* path) {
    FileRead read;
    platform::files::Refusal refusal = platform::files::Refusal::kNone;
    const int fd = platform::files::openRegular(path, refusal);
    if (refusal == platform::files::Refusal::kNotAFile) {
        return failed("it is not a regular file");
    }
    if (fd < 0) {
        read.outcome = errno == ENOENT ? ReadOutcome::kMissing : ReadOutcome::kFailed;
        read.why = std::strerror(errno);
        return read;
    }
    fstat(fd, &read.status);
    char chunk[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            close(fd);
            return failed(std::strerror(error));
        }
        read.contents.append(chunk, static_cast<std::size_t>(n));
        if (read.contents.size() > kIniReadLimit) {
            break;
        }
    }
    close(fd);
    if (read.contents.size() > kIniReadLimit) {
        // Only whole lines count: a line cut at the limit could read as another value.
        const std::size_t lastBreak = read.contents.find_last_of("\r\n", kIniReadLimit - 1);
        read.contents.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
        read.cut = true;
    }
    read.outcome = ReadOutcome::kRead;
    return read;
}

// The value of the first occurrence of `key` in `section`, as SimpleIni parses `contents`.
// Multi-key mode keeps every occurrence (otherwise the last would win), and the first in file
// order is the one with the lowest load order; equal_range is used rather than GetValue because
// which of several equal keys a multimap's find returns is not specified.
std::optional<std::string> lookUp(const std::string& contents, const std::string& section,
                                  const std::string& key) {
    CSimpleIniA ini(/*a_bIsUtf8=*/false, /*a_bMultiKey=*/true, /*a_bMultiLine=*/false);
    ini.SetQuotes(true);
    if (ini.LoadData(contents.data(), contents.size()) < 0) {
        return std::nullopt;
    }
    const CSimpleIniA::TKeyVal* keys = ini.GetSection(section.c_str());
    if (keys == nullptr) {
        return std::nullopt;
    }
    const auto [first, last] = keys->equal_range(CSimpleIniA::Entry(key.c_str()));
    const char* value = nullptr;
    int order = INT_MAX;
    for (auto it = first; it != last; ++it) {
        if (it->first.nOrder < order) {
            order = it->first.nOrder;
            value = it->second;
        }
    }
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::uint32_t copyOut(std::string_view text, char* buffer, std::uint32_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

// One line of the file: its text is [begin, end), its line break [end, next) (empty on a last
// line without one). CR LF, LF and a lone CR each end a line, as they do for SimpleIni.
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

std::vector<Line> splitLines(std::string_view text, std::size_t from) {
    std::vector<Line> lines;
    std::size_t begin = from;
    while (begin < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", begin), text.size());
        std::size_t next = end;
        if (next < text.size()) {
            next +=
                (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
        }
        lines.push_back({begin, end, next});
        begin = next;
    }
    return lines;
}

// Where a write goes, found by walking the lines with the same grammar SimpleIni's parser uses.
struct Placement {
    std::vector<Line> lines;
    std::optional<std::size_t> keyLine;      // first line holding the key in a matching section
    std::size_t valueBegin = 0;              // where that line's value starts (blanks kept)
    std::optional<std::size_t> headerLine;   // last line of the first matching section header
    std::optional<std::size_t> lastKeyLine;  // last key line under that first header
};

Placement place(std::string_view contents, std::string_view section, std::string_view key) {
    Placement placement;
    const std::size_t from = contents.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
    placement.lines = splitLines(contents, from);
    const auto& lines = placement.lines;
    // SimpleIni reads the data as a C string, so nothing after a zero byte exists for it.
    const std::size_t limit = std::min(contents.find('\0'), contents.size());

    bool inMatchingSection = false;
    bool inFirstMatchingSection = false;
    for (std::size_t i = 0; i < lines.size() && lines[i].end <= limit; ++i) {
        const std::string_view text =
            trimLeft(contents.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (text.empty() || text.front() == ';' || text.front() == '#') {
            continue;
        }
        if (text.front() == '[') {
            // The parser skips blanks and line breaks after "[", so a header whose name is blank
            // takes its name from the next line that is not blank.
            std::string_view rest = trimLeft(text.substr(1));
            std::size_t last = i;
            while (rest.empty() && last + 1 < lines.size() && lines[last + 1].end <= limit) {
                ++last;
                rest = trimLeft(
                    contents.substr(lines[last].begin, lines[last].end - lines[last].begin));
            }
            if (rest.empty()) {
                break;
            }
            const std::size_t close = rest.find(']');
            inFirstMatchingSection = false;
            // Without "]" the header names no section we can be asked for: the keys under it
            // belong to none. Names compare as SimpleIni compares them: ASCII letters fold, every
            // other byte must match.
            inMatchingSection =
                close != rest.npos &&
                platform::equalsIgnoringAsciiCase(trimRight(rest.substr(0, close)), section);
            if (inMatchingSection && !placement.headerLine) {
                placement.headerLine = last;
                inFirstMatchingSection = true;
            }
            i = last;
            continue;
        }
        const std::size_t equals = text.find('=');
        if (equals == text.npos || equals == 0) {
            continue;  // not a key line; kept as it is
        }
        if (inFirstMatchingSection) {
            placement.lastKeyLine = i;
        }
        if (inMatchingSection && !placement.keyLine &&
            platform::equalsIgnoringAsciiCase(trimRight(text.substr(0, equals)), key)) {
            placement.keyLine = i;
            const std::string_view afterEquals = text.substr(equals + 1);
            placement.valueBegin = lines[i].end - trimLeft(afterEquals).size();
        }
    }
    return placement;
}

// The value as it is written after "=". Reading trims blanks and strips one pair of quotes, so a
// value with blanks at either end, or one that is itself quoted, is wrapped in one more pair of
// quotes to read back unchanged.
std::string encodeValue(std::string_view value) {
    const bool needsQuotes =
        !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                           (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    if (!needsQuotes) {
        return std::string(value);
    }
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '"';
    quoted += value;
    quoted += '"';
    return quoted;
}

// The file's own line break (the first one in it), so that added lines match the others.
std::string_view lineBreakOf(std::string_view contents) {
    const std::size_t at = contents.find_first_of("\r\n");
    if (at == contents.npos) {
        return "\n";
    }
    if (contents[at] == '\r') {
        return at + 1 < contents.size() && contents[at + 1] == '\n' ? "\r\n" : "\r";
    }
    return "\n";
}

std::string edit(const std::string& contents, const std::string& section, const std::string& key,
                 std::string_view value) {
    const Placement placement = place(contents, section, key);
    const std::string_view lineBreak = lineBreakOf(contents);
    const std::string encoded = encodeValue(value);

    if (placement.keyLine) {
        // Everything up to the value stays, including how the key is spelt and spaced.
        const Line& line = placement.lines[*placement.keyLine];
        std::string result = contents.substr(0, placement.valueBegin);
        result += encoded;
        result.append(contents, line.end);
        return result;
    }

    const std::string newKeyLine = key + "=" + encoded;
    if (placement.headerLine) {
        const Line& after = placement.lines[placement.lastKeyLine.value_or(*placement.headerLine)];
        std::string result = contents.substr(0, after.next);
        if (after.next == after.end) {
            result += lineBreak;  // it was the last line and had no line break
        }
        result += newKeyLine;
        result += lineBreak;
        result.append(contents, after.next);
        return result;
    }

    std::string result = contents;
    if (!placement.lines.empty()) {
        const Line& last = placement.lines.back();
        if (last.next == last.end) {
            result += lineBreak;
        }
        if (!trimLeft(std::string_view(contents).substr(last.begin, last.end - last.begin))
                 .empty()) {
            result += lineBreak;  // a blank line between sections
        }
    }
    result += "[" + section + "]";
    result += lineBreak;
    result += newKeyLine;
    result += lineBreak;
    return result;
}

// Replaces `path` by a file holding `contents`, whole or not at all. QSaveFile writes a
// temporary file that has no name until it is complete and synced (O_TMPFILE where the file
// system offers it), then puts it in place with a rename, so a kill at any moment leaves the old
// file or the new one, and nothing beside it that anyone would have to clean up. It keeps the
// old file's permission bits; the owner is kept where we may (root editing another user's
// file), so that the user can still write it.
std::string replaceFile(const std::string& path, std::string_view contents,
                        const struct stat* old) {
    QSaveFile file(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())));
    // Unbuffered, so that a short write (a full disk, the file size limit) shows in the count
    // write() returns: QSaveFile commits what a failing flush of its own buffer left, cut short.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return file.errorString().toStdString();
    }
    if (old != nullptr && (old->st_uid != geteuid() || old->st_gid != getegid())) {
        [[maybe_unused]] const int ignored = fchown(file.handle(), old->st_uid, old->st_gid);
    }
    // QSaveFile renames without syncing first, and after a power cut the new name could then
    // stand for an empty file; so the data goes to the disk before the rename, and the rename
    // itself after it. A file not committed goes away with `file`, and the old file stays.
    if (file.write(contents.data(), static_cast<qint64>(contents.size())) !=
        static_cast<qint64>(contents.size())) {
        return file.errorString().toStdString();
    }
    if (fsync(file.handle()) != 0) {
        return std::strerror(errno);
    }
    if (!file.commit()) {
        return file.errorString().toStdString();
    }
    const int directory =
        open(platform::files::parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
    return {};
}

}  // namespace

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                       char* buffer, std::uint32_t size, const char* fileName) {
    const std::string_view fallback = def == nullptr ? std::string_view() : std::string_view(def);
    const auto sectionText = sectionName(section);
    const auto keyText = keyName(key);
    if (!sectionText || !keyText || fileName == nullptr) {
        return copyOut(fallback, buffer, size);
    }
    const FileRead read = readFile(fileName);
    if (read.outcome != ReadOutcome::kRead) {
        return copyOut(fallback, buffer, size);
    }
    const auto value = lookUp(read.contents, *sectionText, *keyText);
    return copyOut(value ? std::string_view(*value) : fallback, buffer, size);
}

std::string WriteProfileKey(const char* section, const char* key, const char* value,
                            const char* fileName) {
    const auto sectionText = sectionName(section);
    const auto keyText = keyName(key);
    if (!sectionText || !keyText || value == nullptr) {
        return "no such section, key or value can be stored";
    }
    if (hasLineBreak(value)) {
        return "a line break in the value cannot be stored";
    }
    if (fileName == nullptr || *fileName == '\0') {
        return "there is no settings file";
    }
    // A symbolic link is read through, and QSaveFile writes through it to its end, also where
    // that end does not exist yet: the link stays a link.
    const std::string path = fileName;

    const FileRead read = readFile(path.c_str());
    if (read.outcome == ReadOutcome::kFailed) {
        return read.why;
    }
    // A file longer than any this program writes is not ours to rewrite: only its beginning was
    // read, and a rewrite would lose the rest.
    if (read.cut) {
        return "it is over " + std::to_string(kIniReadLimit >> 20) +
               " MiB, more than a settings file holds, so it is left as it is";
    }
    const bool exists = read.outcome == ReadOutcome::kRead;
    // A file the user made read-only stays as it is, although replacing it through its
    // directory would be allowed.
    if (exists && access(path.c_str(), W_OK) != 0) {
        return std::strerror(errno);
    }

    const std::string updated = edit(read.contents, *sectionText, *keyText, value);
    // The edit follows the parser's grammar; reading the result back proves it, so that a file
    // too odd for the line walk is refused rather than written with a value that will not read.
    const auto readBack = lookUp(updated, *sectionText, *keyText);
    if (!readBack || *readBack != value) {
        return "the file's layout leaves no place where the value would read back";
    }
    if (exists && updated == read.contents) {
        return {};
    }
    return replaceFile(path, updated, exists ? &read.status : nullptr);
}

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* fileName) {
    return WriteProfileKey(section, key, value, fileName).empty() ? 1 : 0;
}
