#include "platform/ini.h"

// The 8-bit interface only: values are bytes, passed through unchanged, so names that are not
// valid UTF-8 survive. This also keeps SimpleIni from needing its UTF conversion sources.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
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

// The whole file as bytes. A file that does not exist is not an error: writing creates it. Any
// other failure (no permission, a directory, not a regular file) is, so that a file we cannot
// read is never replaced by one that has lost its contents.
ReadOutcome readWholeFile(const char* path, std::string& contents) {
    contents.clear();
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? ReadOutcome::kMissing : ReadOutcome::kFailed;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return ReadOutcome::kFailed;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            close(fd);
            return ReadOutcome::kFailed;
        }
        contents.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return ReadOutcome::kRead;
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

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

mode_t currentUmask() {
    // Reading the mask from /proc leaves it alone; umask(2) can only read it by changing it.
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr) {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found) {
            return static_cast<mode_t>(mask);
        }
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

constexpr std::string_view kTemporaryPrefix = ".korvel-ini-";

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == path.npos ? std::string(".")
                              : (slash == 0 ? std::string("/") : path.substr(0, slash));
}

// A new temporary file beside `path`, locked for as long as it is open: the lock tells
// removeLeftoverIniFiles that a write is still using it. A file that clean-up removed between its
// creation and the lock is given up for a new one. Where the file system has no locks the write
// goes ahead unlocked, and clean-up, which cannot lock either, leaves such files alone.
int createTemporary(const std::string& path, std::string& temporary) {
    const std::size_t slash = path.rfind('/');
    const std::string prefix = slash == path.npos ? std::string() : path.substr(0, slash + 1);
    for (int attempt = 0; attempt < 3; ++attempt) {
        temporary = prefix + std::string(kTemporaryPrefix) + "XXXXXX";
        const int fd = mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) {
            return -1;
        }
        struct stat status {};
        if (flock(fd, LOCK_EX) != 0 || (fstat(fd, &status) == 0 && status.st_nlink > 0)) {
            return fd;
        }
        close(fd);
    }
    return -1;
}

// Replaces `path` by a file holding `contents`: a temporary file in the same directory is
// written, synced and renamed over it, so that a crash leaves the old file or the new one.
bool replaceFile(const std::string& path, std::string_view contents, mode_t mode,
                 const struct stat* old) {
    std::string temporary;
    const int fd = createTemporary(path, temporary);
    if (fd < 0) {
        return false;
    }
    // write(2) keeps no buffer of its own, so fsync alone carries the data to the disk.
    bool ok = writeAll(fd, contents) && fchmod(fd, mode) == 0;
    if (ok && old != nullptr && (old->st_uid != geteuid() || old->st_gid != getegid())) {
        // Keep the owner where we may (root editing another user's file), so that the user can
        // still write it; where we may not, the new file is ours.
        [[maybe_unused]] const int ignored = fchown(fd, old->st_uid, old->st_gid);
    }
    ok = ok && fsync(fd) == 0;
    // Renamed while still open, so that the lock covers the temporary file until it is gone.
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
    }
    ok = close(fd) == 0 && ok;
    if (!ok) {
        return false;
    }
    // Make the rename itself durable; the new file is complete whether or not this succeeds.
    const int dirFd = open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

// The file a write replaces: a symbolic link is followed, so that the link stays a link.
std::string targetOf(const char* fileName) {
    struct stat status {};
    if (lstat(fileName, &status) == 0 && S_ISLNK(status.st_mode)) {
        if (char* resolved = realpath(fileName, nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return fileName;
}

}  // namespace

std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                       char* buffer, std::uint32_t size, const char* fileName) {
    const std::string_view fallback = def == nullptr ? std::string_view() : std::string_view(def);
    const auto sectionText = sectionName(section);
    const auto keyText = keyName(key);
    std::string contents;
    if (!sectionText || !keyText || fileName == nullptr ||
        readWholeFile(fileName, contents) != ReadOutcome::kRead) {
        return copyOut(fallback, buffer, size);
    }
    const auto value = lookUp(contents, *sectionText, *keyText);
    return copyOut(value ? std::string_view(*value) : fallback, buffer, size);
}

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* fileName) {
    const auto sectionText = sectionName(section);
    const auto keyText = keyName(key);
    if (!sectionText || !keyText || value == nullptr || hasLineBreak(value) ||
        fileName == nullptr || *fileName == '\0') {
        return 0;
    }
    const std::string path = targetOf(fileName);

    std::string contents;
    const ReadOutcome read = readWholeFile(path.c_str(), contents);
    if (read == ReadOutcome::kFailed) {
        return 0;
    }
    struct stat old {};
    const bool exists = read == ReadOutcome::kRead && stat(path.c_str(), &old) == 0;
    if (read == ReadOutcome::kRead && !exists) {
        return 0;
    }
    // A file the user made read-only stays as it is, although replacing it through its
    // directory would be allowed.
    if (exists && access(path.c_str(), W_OK) != 0) {
        return 0;
    }

    const std::string updated = edit(contents, *sectionText, *keyText, value);
    // The edit follows the parser's grammar; reading the result back proves it, so that a file
    // too odd for the line walk is refused rather than written with a value that will not read.
    const auto readBack = lookUp(updated, *sectionText, *keyText);
    if (!readBack || *readBack != value) {
        return 0;
    }
    if (exists && updated == contents) {
        return 1;
    }
    const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    return replaceFile(path, updated, mode, exists ? &old : nullptr) ? 1 : 0;
}

namespace platform {

void removeLeftoverIniFiles(const char* fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        return;
    }
    const std::string directory = directoryOf(targetOf(fileName));
    const int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = dirFd < 0 ? nullptr : fdopendir(dirFd);
    if (entries == nullptr) {
        if (dirFd >= 0) {
            close(dirFd);
        }
        return;
    }
    while (const dirent* entry = readdir(entries)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(kTemporaryPrefix) || name.size() != kTemporaryPrefix.size() + 6) {
            continue;
        }
        const int fd =
            openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // A write still under way holds the lock; only a file nobody holds is left over.
        struct stat status {};
        if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
            flock(fd, LOCK_EX | LOCK_NB) == 0) {
            unlinkat(dirFd, entry->d_name, 0);
        }
        close(fd);
    }
    closedir(entries);
}

}  // namespace platform
