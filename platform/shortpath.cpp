#include "platform/shortpath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/program.h"

namespace platform {

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

bool exists(const std::string& path) {
    // lstat, so that an entry is found even when it is a link; whether the link leads anywhere
    // is for whoever opens it to find out.
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string join(const std::string& base, std::string_view name) {
    std::string joined = base;
    if (joined.empty() || joined.back() != '/') {
        joined.push_back('/');
    }
    joined.append(name);
    return joined;
}

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
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(linuxPath.size());
    for (const char c : linuxPath) {
        if (isPlain(c)) {
            encoded.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded.push_back('%');
            encoded.push_back(kHex[byte >> 4]);
            encoded.push_back(kHex[byte & 0x0F]);
        }
    }
    return encoded;
}

std::optional<std::string> decodeShortPath(std::string_view shortPath) {
    std::string decoded;
    decoded.reserve(shortPath.size());
    for (std::size_t i = 0; i < shortPath.size(); ++i) {
        const char c = shortPath[i];
        if (c != '%') {
            // Anything the encoder would have escaped cannot appear bare in a short form.
            if (!isPlain(c)) {
                return std::nullopt;
            }
            decoded.push_back(c);
            continue;
        }
        if (i + 2 >= shortPath.size()) {
            return std::nullopt;
        }
        const int high = hexValue(shortPath[i + 1]);
        const int low = hexValue(shortPath[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        const int byte = high * 16 + low;
        // No path holds a NUL byte, and one here would cut the path short where it is used as
        // a C string, naming some other file.
        if (byte == 0) {
            return std::nullopt;
        }
        decoded.push_back(static_cast<char>(byte));
        i += 2;
    }
    return decoded;
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
