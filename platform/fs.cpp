#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"

namespace platform::fs {

namespace {

// What a directory entry is once links are followed. A dangling link is neither.
enum class Kind { Other, Directory, File };

Kind kindOf(int directoryFd, const dirent& entry) {
    switch (entry.d_type) {
        case DT_DIR:
            return Kind::Directory;
        case DT_REG:
            return Kind::File;
        case DT_LNK:
        case DT_UNKNOWN:
            break;
        default:
            return Kind::Other;
    }
    struct stat info {};
    if (::fstatat(directoryFd, entry.d_name, &info, 0) != 0) {
        return Kind::Other;
    }
    if (S_ISDIR(info.st_mode)) {
        return Kind::Directory;
    }
    if (S_ISREG(info.st_mode)) {
        return Kind::File;
    }
    return Kind::Other;
}

// Calls `visit` with every entry of `directory` whose name does not start with "."; does
// nothing when the directory cannot be read. Names go through as bytes, untouched.
void forEachVisibleEntry(const std::string& directory,
                         const std::function<void(int, const dirent&)>& visit) {
    const std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(directory.c_str()), &::closedir);
    if (!stream) {
        return;
    }
    const int fd = ::dirfd(stream.get());
    // A read error ends the listing with what was read so far.
    while (const dirent* entry = ::readdir(stream.get())) {
        if (entry->d_name[0] != '.') {
            visit(fd, *entry);
        }
    }
}

// Code points of wide text; a lone surrogate (a byte that was not UTF-8) stands for itself.
std::u32string codePoints(const QString& text) {
    std::u32string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    const auto* units = reinterpret_cast<const char16_t*>(text.utf16());
    const auto count = static_cast<std::size_t>(text.size());
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t unit = units[i];
        if (QChar::isHighSurrogate(unit) && i + 1 < count && QChar::isLowSurrogate(units[i + 1])) {
            out.push_back(QChar::surrogateToUcs4(unit, units[i + 1]));
            ++i;
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

// Names are matched by character, not by byte, so that "?" takes a whole "é"; a byte that is
// not UTF-8 counts as one character of its own.
std::u32string foldedCodePoints(std::string_view bytes) {
    std::u32string out = codePoints(platform::fromAnsi(bytes));
    for (char32_t& c : out) {
        c = QChar::toCaseFolded(c);
    }
    return out;
}

bool wildcardMatch(const std::u32string& name, const std::u32string& pattern) {
    // Each "*" is first tried as short as it can be; on a mismatch only the most recent "*" needs
    // to take one more character, which keeps the work to about the product of the lengths.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starAt = kNone;
    std::size_t starTook = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == U'*') {
            starAt = p++;
            starTook = n;
        } else if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (starAt != kNone) {
            p = starAt + 1;
            n = ++starTook;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') {
        ++p;
    }
    return p == pattern.size();
}

std::string currentDirectory() {
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE) {
            // The current directory has gone; the root is the one directory sure to be there.
            return "/";
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool isAsciiDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

// Compares the two names case-insensitively with digit runs by value; 0 when they differ only in
// case or in leading zeros.
int naturalCompare(const std::u32string& a, const std::u32string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            // Values are compared as digit strings, so no run is too long to compare.
            while (i < a.size() && a[i] == U'0') {
                ++i;
            }
            while (j < b.size() && b[j] == U'0') {
                ++j;
            }
            std::size_t endA = i;
            while (endA < a.size() && isAsciiDigit(a[endA])) {
                ++endA;
            }
            std::size_t endB = j;
            while (endB < b.size() && isAsciiDigit(b[endB])) {
                ++endB;
            }
            if (endA - i != endB - j) {
                return endA - i < endB - j ? -1 : 1;
            }
            for (; i < endA; ++i, ++j) {
                if (a[i] != b[j]) {
                    return a[i] < b[j] ? -1 : 1;
                }
            }
            continue;
        }
        // A digit run sorts where its first digit would, among the other characters; no other
        // character folds into the digit range, so this order is consistent.
        const char32_t ca = QChar::toCaseFolded(a[i]);
        const char32_t cb = QChar::toCaseFolded(b[j]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return 0;
}

}  // namespace

bool isDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string absoluteDirectory(const std::string& path) {
    const std::string full =
        (!path.empty() && path.front() == '/') ? path : currentDirectory() + "/" + path;
    std::vector<std::string_view> names;
    std::string_view rest = full;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            if (!names.empty()) {
                names.pop_back();
            }
            continue;
        }
        names.push_back(name);
    }
    if (names.empty()) {
        return "/";
    }
    std::string normalised;
    for (const std::string_view name : names) {
        normalised.push_back('/');
        normalised.append(name);
    }
    return normalised;
}

std::vector<std::string> subdirectories(const std::string& directory) {
    std::vector<std::string> names;
    forEachVisibleEntry(directory, [&](int fd, const dirent& entry) {
        if (kindOf(fd, entry) == Kind::Directory) {
            names.emplace_back(entry.d_name);
        }
    });
    return names;
}

std::vector<std::string> matchingFiles(const std::string& directory, std::string_view pattern) {
    std::vector<std::string> names;
    const std::u32string folded = foldedCodePoints(pattern);
    // The name is matched before its kind is asked for, so that files the pattern leaves out
    // cost no stat.
    forEachVisibleEntry(directory, [&](int fd, const dirent& entry) {
        if (wildcardMatch(foldedCodePoints(entry.d_name), folded) &&
            kindOf(fd, entry) == Kind::File) {
            names.emplace_back(entry.d_name);
        }
    });
    return names;
}

bool naturalLess(const QString& a, const QString& b) {
    const int order = naturalCompare(codePoints(a), codePoints(b));
    if (order != 0) {
        return order < 0;
    }
    return a < b;
}

}  // namespace platform::fs
