#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// How much of a settings file is read: far more than a file of this program's settings ever
// holds (one section, one key, one path), and little enough that a huge file, named by mistake
// or grown by another program, costs no noticeable time or memory at start.
inline constexpr std::size_t kIniReadLimit = std::size_t{1} << 20;

// Our INI functions, with the Windows semantics the settings rely on.
//
// Only a regular file is read or replaced, and neither ever waits: a FIFO, a device or a directory
// under the name (or at the end of a link) reads as a missing file, and a write to it is refused.
//
// Only the first kIniReadLimit bytes of a file are read, and of those only the whole lines: a key
// past the limit (or on the line it cuts) reads as missing, and a file longer than the limit is
// never written, as a rewrite would lose what was not read.
//
// Reading: sections and keys match case-insensitively (ASCII letters); blanks around names and
// values are ignored; one pair of double quotes around a value is stripped; LF, CRLF and lone CR
// line ends are all accepted, and a leading UTF-8 byte order mark is skipped. Lines whose first
// non-blank character is ";" or "#" are comments. When a key occurs more than once in a section
// the first occurrence counts; a section named twice is read as one. Keys before any section
// belong to none and cannot be read. A missing file, section or key gives `def` (a null `def` is
// the empty text; a null section or key reads as missing rather than listing names). The value is
// copied to `buffer`, cut to `size` - 1 bytes when it does not fit, and always terminated (when
// `size` > 0). The result is the number of bytes copied, without the terminator.
//
// Writing: creates the file and the section where missing, replaces the key's value in place
// (the first occurrence, the one reading returns), and keeps every other line exactly as it was,
// byte for byte, line ends included. A new key goes after the last key of the first section of
// that name; a new section goes at the end of the file, after a blank line. Added lines use the
// file's own line end (LF for a new file). A value with blanks at either end, or one that starts
// and ends with a double quote, is written inside one more pair of quotes so that it reads back
// unchanged. The file is replaced atomically through Qt's QSaveFile (a temporary file with no
// name, where the file system allows, is written, synced and renamed over it, keeping the old
// file's permission bits), so a crash leaves the old file or the new one, never a torn one, and
// no temporary file for anyone to clean up. A symbolic link is followed to its end and stays a
// link, also when its target does not exist yet: the target is made. A value holding a line
// break is refused (it would inject lines), as is a section or key holding a line break, a
// section holding "]", a key holding "=" or starting with "[", ";" or "#", and an empty section
// or key; so is a null argument (the Windows forms that delete a key or section are not
// offered). A file that exists but cannot be read, or that is read-only, is left alone. Returns
// non-zero on success, 0 when refused or when the file cannot be written; the file is then
// unchanged and no temporary file is left behind.
//
// The parsing is SimpleIni's, used as it is for reading: its 8-bit interface without conversion
// (bytes pass through, so names that are not UTF-8 survive), case-insensitive names, quotes
// parsed, multi-line values off (a value starting with "<<<" is plain text), and multi-key mode
// on, because without it SimpleIni keeps the last of several equal keys where Windows returns
// the first. Writing cannot use SimpleIni: its Save rebuilds the whole file from what it parsed,
// so unparseable lines are dropped, comments move and spacing and line ends are normalised. The
// writer therefore walks the lines itself, following SimpleIni's grammar, and edits only the one
// line it must; before the file is replaced, the edited text is parsed again with SimpleIni and
// the write is refused unless the key reads back as the value written, so the two can never
// disagree about what the file holds.
std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                       char* buffer, std::uint32_t size, const char* fileName);

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* fileName);

// The same write, telling why it was not made: the empty text when the key was stored, else the
// reason, for a person ("it is read-only", "Permission denied").
std::string WriteProfileKey(const char* section, const char* key, const char* value,
                            const char* fileName);
