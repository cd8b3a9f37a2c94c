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
std::string absoluteDirectory(const std::string& path);

// Names of the subdirectories of `directory` (links to directories included), hiding names that
// start with ".". Unsorted.
std::vector<std::string> subdirectories(const std::string& directory);

// Names of the regular files (and links to regular files) in `directory` whose names match
// `pattern` case-insensitively ("*" any run, "?" one character), hiding names that start with
// ".". Unsorted.
std::vector<std::string> matchingFiles(const std::string& directory, std::string_view pattern);

// Order for names shown to a person: case-insensitive, with runs of digits compared by value
// ("track2" before "track10"); ties broken by the exact text so the order is total.
bool naturalLess(const QString& a, const QString& b);

// Sorts `names` into the order of naturalLess, reading each name once rather than at every
// comparison: the way to sort a whole listing.
void sortNaturally(std::vector<QString>& names);

}  // namespace platform::fs
