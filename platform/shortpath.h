#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Paths in Windows form, and our stand-in for the 8.3 short path.
//
// Path form. The window joins directory and file name with "\" (play) or "/" (next, previous),
// so both characters separate names. A Linux name may itself hold "\"; such a name still
// resolves: at each step the longest run of "\"-separated pieces that names an existing entry is
// taken as one name. Empty names (doubled separators, a trailing separator) are skipped.
//
// Short form. Linux has no 8.3 names. The short form of an existing file is its resolved
// absolute path with every byte outside A-Za-z0-9 . _ ~ / - written as %XX (upper-case hex),
// "%" itself included. It holds no blank, quote or backslash, so it can stand in an MCI command
// without quotes and no file name can inject a command keyword; it names exactly one file, and
// decodeShortPath gives that file's path back.
namespace platform {

// The existing file or directory that a Windows-form path names, as a Linux path; nullopt when
// nothing exists there. A relative path resolves against the current directory.
std::optional<std::string> resolveWindowsPath(std::string_view path);

std::string encodeShortPath(std::string_view linuxPath);

// nullopt when the text is not a well-formed short form (a bad or truncated %XX).
std::optional<std::string> decodeShortPath(std::string_view shortPath);

}  // namespace platform

// Windows semantics for the result: the length of the short path (without the terminator) when
// it fits in `size` characters including the terminator; the size needed (terminator included)
// when it does not, leaving the buffer untouched; 0 when the path names nothing. `shortPath` may
// be null when `size` is 0.
std::uint32_t GetShortPathNameA(const char* longPath, char* shortPath, std::uint32_t size);
