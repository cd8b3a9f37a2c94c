#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <vector>

// What the directory and file lists read from the file system. Paths and names are bytes (Linux
// names need not be valid UTF-8); the lists convert them with text.h. Nothing here throws: an
// unreadable or missing directory lists as empty.
namespace platform::fs {

bool isDirectory(const std::string& path);

// The absolute, normalised form of a directory path ("." and ".." and doubled "/" removed,
// symbolic links kept as named), so that the directory list can show the chain from "/" down.
// Empty when `path` is relative and the current directory cannot be named (see program.h).
std::string absoluteDirectory(const std::string& path);

// One read of a directory: everything the two lists show of it. The window shows a directory's
// subdirectories and its files one after the other, and a big directory is then read once, not
// once per list: whoever shows both takes them from one Listing.
struct Listing {
    // The subdirectories (links to directories included). Unsorted.
    std::vector<std::string> subdirectories;
    // The regular files (links to regular files included), whatever their names. Unsorted.
    std::vector<std::string> files;
};

// Whether both lists hide an entry of this name: one that starts with ".".
bool isHidden(std::string_view name);

// Reads `directory` once, hiding names that start with ".". A dangling link, a FIFO or a device
// is in neither list; a directory that cannot be read lists as empty.
Listing list(const std::string& directory);

// The names among `names` that match `pattern` case-insensitively ("*" any run, "?" one
// character), in their order: the file list's pattern applied to a Listing's files.
std::vector<std::string> matching(std::vector<std::string> names, std::string_view pattern);

// Sorts `names` into the order the lists show: case-insensitive, with runs of digits compared by
// value ("track2" before "track10"), ties broken by the exact text so that the order is total.
void sortNaturally(std::vector<QString>& names);

}  // namespace platform::fs
