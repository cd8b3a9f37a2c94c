#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/program.h"
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

// Case folding as QChar does it, without the call for ASCII, which folds to ASCII.
char32_t fold(char32_t c) {
    if (c < 0x80) {
        return static_cast<char32_t>(asciiLower(static_cast<char>(c)));
    }
    return QChar::toCaseFolded(c);
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
        const char32_t ca = fold(a[i]);
        const char32_t cb = fold(b[j]);
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

Pattern::Pattern(std::string_view pattern) {
    valid_ = pattern.starts_with('*') && pattern.find_first_of("*?", 1) == std::string_view::npos;
    suffix_ = valid_ ? std::string(pattern.substr(1)) : std::string();
}

bool Pattern::matches(std::string_view name) const {
    return valid_ && name.size() >= suffix_.size() &&
           equalsIgnoringAsciiCase(name.substr(name.size() - suffix_.size()), suffix_);
}

std::string absoluteDirectory(const std::string& path) {
    std::string full = path;
    if (path.empty() || path.front() != '/') {
        const std::optional<std::string> current = platform::currentDirectory();
        if (!current) {
            return {};
        }
        full = files::join(*current, path);
    }
    // Lexically: a link is kept as named, so ".." after it goes back up the chain the list shows.
    std::string normal = std::filesystem::path(full).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') {
        normal.pop_back();
    }
    return normal;
}

bool isHidden(std::string_view name) {
    return name.starts_with('.');
}

Listing list(const std::string& directory, const Pattern& files) {
    Listing listing;
    const std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(directory.c_str()), &::closedir);
    if (!stream) {
        return listing;
    }
    const int fd = ::dirfd(stream.get());
    // A read error ends the listing with what was read so far. Names go through as bytes.
    while (const dirent* entry = ::readdir(stream.get())) {
        if (isHidden(entry->d_name)) {
            continue;
        }
        switch (kindOf(fd, *entry)) {
            case Kind::Directory:
                listing.subdirectories.emplace_back(entry->d_name);
                break;
            case Kind::File:
                if (files.matches(entry->d_name)) {
                    listing.files.emplace_back(entry->d_name);
                }
                break;
            case Kind::Other:
                break;
        }
    }
    return listing;
}

void sortNaturally(std::vector<QString>& names) {
    // Each name is taken apart into folded code points once, not at every comparison. Folding
    // first changes no order: folding a folded character changes nothing, and no character
    // folds into or out of the digits.
    struct Keyed {
        std::u32string key;
        QString name;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(names.size());
    for (QString& name : names) {
        std::u32string key = codePoints(name);
        for (char32_t& c : key) {
            c = fold(c);
        }
        keyed.push_back({std::move(key), std::move(name)});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        const int order = naturalCompare(a.key, b.key);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        names[i] = std::move(keyed[i].name);
    }
}

}  // namespace platform::fs
