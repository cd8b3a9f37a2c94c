#include "platform/shortpath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include <QByteArray>

#include "platform/files/files.h"
#include "platform/program.h"

namespace platform {

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

using files::exists;  // a link is found as itself: whether it leads anywhere is for the opener
using files::isDirectory;
using files::join;

// Resolves `path` from `at` on, where `at` is the end of the name just taken (a separator or the
// end of the text) and `base` is the existing directory that name led to.
//
// The next name starts after at least one separator. Further separators before it are normally
// doubled separators and are skipped, but a Linux name may itself begin or end with "\", so the
// candidates also include those that keep such backslashes. Candidates are tried longest first,
// which is the greedy choice; when the longest existing name leads nowhere (a file where a
// directory is needed further on), the shorter ones are tried, so that a path that names an
// existing file by any reading is found.
std::optional<std::string> resolveFrom(std::string_view path, std::size_t at,
                                       const std::string& base) {
    std::size_t first = at;
    while (first < path.size() && isSeparator(path[first])) {
        ++first;
    }
    if (first == path.size()) {
        return base;
    }
    // The name may reach back over the backslashes that precede it, but never over a "/".
    std::size_t earliest = first;
    while (earliest > at + 1 && path[earliest - 1] == '\\') {
        --earliest;
    }
    // Possible ends: every separator up to the next "/", and the end of the text.
    std::vector<std::size_t> ends;
    std::size_t stop = first;
    while (stop < path.size() && path[stop] != '/') {
        if (path[stop] == '\\') {
            ends.push_back(stop);
        }
        ++stop;
    }
    ends.push_back(stop);

    for (auto end = ends.rbegin(); end != ends.rend(); ++end) {
        for (std::size_t start = earliest; start <= first; ++start) {
            if (*end <= start) {
                continue;
            }
            const std::string candidate = join(base, path.substr(start, *end - start));
            if (!exists(candidate)) {
                continue;
            }
            std::size_t rest = *end;
            while (rest < path.size() && isSeparator(path[rest])) {
                ++rest;
            }
            if (rest == path.size()) {
                return candidate;
            }
            if (isDirectory(candidate)) {
                if (auto resolved = resolveFrom(path, *end, candidate)) {
                    return resolved;
                }
            }
        }
    }
    return std::nullopt;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool isPlain(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '~' || c == '/' || c == '-';
}

}  // namespace

std::optional<std::string> resolveWindowsPath(std::string_view path) {
    if (path.empty()) {
        return std::nullopt;
    }
    // A leading separator of either kind starts at the root, as "\dir" does on Windows.
    if (isSeparator(path.front())) {
        return resolveFrom(path, 0, "/");
    }
    const auto cwd = currentDirectory();
    if (!cwd) {
        return std::nullopt;
    }
    // Pretend a separator stands before the first name, so that it is read like any other.
    const std::string text = "/" + std::string(path);
    return resolveFrom(text, 0, *cwd);
}

std::string encodeShortPath(std::string_view linuxPath) {
    // Qt's percent codec, as the bus's URIs use it: every byte but the unreserved ones and "/"
    // becomes %XX, in capitals.
    return QByteArray(linuxPath.data(), static_cast<qsizetype>(linuxPath.size()))
        .toPercentEncoding("/")
        .toStdString();
}

std::optional<std::string> decodeShortPath(std::string_view shortPath) {
    // Qt's decoder takes anything, so a short form is checked first to be one the encoder could
    // have made: nothing it escapes stands bare, and each "%" has two hex digits. No path holds a
    // NUL byte, and one here would cut the path short where it is used as a C string, naming some
    // other file.
    for (std::size_t i = 0; i < shortPath.size(); ++i) {
        if (shortPath[i] != '%') {
            if (!isPlain(shortPath[i])) {
                return std::nullopt;
            }
            continue;
        }
        if (i + 2 >= shortPath.size() || hexValue(shortPath[i + 1]) < 0 ||
            hexValue(shortPath[i + 2]) < 0 || shortPath.substr(i + 1, 2) == "00") {
            return std::nullopt;
        }
        i += 2;
    }
    return QByteArray::fromPercentEncoding(
               QByteArray(shortPath.data(), static_cast<qsizetype>(shortPath.size())))
        .toStdString();
}

}  // namespace platform

std::uint32_t GetShortPathNameA(const char* longPath, char* shortPath, std::uint32_t size) {
    if (longPath == nullptr) {
        return 0;
    }
    const auto resolved = platform::resolveWindowsPath(longPath);
    if (!resolved) {
        return 0;
    }
    const std::string encoded = platform::encodeShortPath(*resolved);
    if (encoded.size() >= std::numeric_limits<std::uint32_t>::max()) {
        return 0;
    }
    const auto needed = static_cast<std::uint32_t>(encoded.size() + 1);
    if (shortPath == nullptr || size < needed) {
        return needed;
    }
    // The result is built apart from the caller's buffer, so the buffer may be the long path's.
    std::memcpy(shortPath, encoded.c_str(), needed);
    return needed - 1;
}
