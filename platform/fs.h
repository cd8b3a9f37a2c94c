#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <vector>

// What the directory and file lists read from the file system. Paths and names are bytes (Linux
// names need not be valid UTF-8); the lists convert them with text.h. Nothing here throws: an
// unreadable or missing directory lists as empty.
namespace platform::fs {

// The absolute, normalised form of a directory path ("." and ".." and doubled "/" removed,
// symbolic links kept as named), so that the directory list can show the chain from "/" down.
// Empty when `path` is relative and the current directory cannot be named (see program.h).
std::string absoluteDirectory(const std::string& path);

// The file list's pattern: "*" and a suffix, such as "*.mp3". A name matches when it ends in the
// suffix, ASCII letters in any case, compared as bytes, so that a name that is not UTF-8 matches
// by its ending too. The program sets no other kind of pattern, so no other is offered.
class Pattern {
  public:
    // Anything but "*" and a suffix without "*" or "?" matches nothing.
    explicit Pattern(std::string_view pattern);
    bool matches(std::string_view name) const;

  private:
    std::string suffix_;
    bool valid_ = false;
};

// One read of a directory: everything the two lists show of it. The window shows a directory's
// subdirectories and its files one after the other, and a big directory is then read once, not
// once per list: whoever shows both takes them from one Listing.
struct Listing {
    // The subdirectories (links to directories included). Unsorted.
    std::vector<std::string> subdirectories;
    // The regular files (links to regular files included) whose names match the pattern the
    // directory was read with, kept as they were read: the others are never copied. Unsorted.
    std::vector<std::string> files;
};

// Whether both lists hide an entry of this name: one that starts with ".".
bool isHidden(std::string_view name);

// Reads `directory` once, hiding names that start with "."; of its files, only those `files`
// matches are kept. A dangling link, a FIFO or a device is in neither list; a directory that
// cannot be read lists as empty.
Listing list(const std::string& directory, const Pattern& files);

// Sorts `names` into the order the lists show: case-insensitive, with runs of digits compared by
// value ("track2" before "track10"), ties broken by the exact text so that the order is total.
// It is ours rather than QCollator's numeric mode, which would order by the user's locale (the
// same folder listed differently on two desktops), put every name that is not UTF-8 where it puts
// U+FFFD, and leave the ties to ICU: the order here is the same on every machine, and each name,
// whatever its bytes, has one place in it.
void sortNaturally(std::vector<QString>& names);

}  // namespace platform::fs
