#pragma once

#include <string>
#include <string_view>

// The rules for paths and files that every part of the program shares, written once. Paths are
// bytes: a Linux name need not be valid UTF-8, and nothing here decodes it. No Qt.
namespace platform::files {

// Why a file was not opened.
enum class Refusal {
    kNone,
    kMissing,     // nothing by that name (or a part of the path is missing or not a folder)
    kNotAFile,    // a folder, a FIFO, a device, a socket: anything but a regular file
    kUnreadable,  // a regular file that cannot be read, with errno saying why
};

// Opens `path` for reading as a regular file, never waiting: a FIFO with no writer would hold
// the caller for good, and a device can do anything when opened. The name is looked at first,
// so that a device node is never opened at all; then the open descriptor itself is checked, as
// the name may change in between, so what is checked is what is read. Returns the descriptor
// (close-on-exec, non-blocking), or -1 with `why` set.
int openRegular(const std::string& path, Refusal& why);

// Whether an entry of that name is there, a link counting as itself wherever it leads.
bool exists(const std::string& path);
// Whether `path` leads to a folder, links followed.
bool isDirectory(const std::string& path);

// "/a/b" -> "/a", "/a" -> "/", "/" -> "/", "a" -> ".": the folder the last name lies in.
std::string parentOf(std::string_view path);
// The last name of `path`, empty for "/".
std::string nameOf(std::string_view path);
// `name` in `folder`, with exactly one "/" between them.
std::string join(std::string_view folder, std::string_view name);

}  // namespace platform::files
