#pragma once

#include <cstdint>

// Our INI functions, with the Windows semantics the settings rely on.
//
// Reading: sections and keys match case-insensitively; blanks around keys and values are
// ignored; one pair of double quotes around a value is stripped; LF and CRLF line ends are both
// accepted; a missing file, section or key gives `def`. The value is copied to `buffer`, cut to
// `size` - 1 characters when it does not fit, and always terminated (when `size` > 0). The result
// is the number of characters copied, without the terminator.
//
// Writing: creates the file and the section where missing, replaces the key's value in place,
// and keeps every other line exactly as it was. The file is replaced atomically (a temporary
// file beside it is written, flushed and renamed over it), so a crash leaves the old file or the
// new one, never a torn one. A value holding a line break is refused (it would inject lines), as
// is a section or key holding a line break, "]" or "=". Returns non-zero on success, 0 when
// refused or when the file cannot be written.
std::uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* def,
                                       char* buffer, std::uint32_t size, const char* fileName);

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* fileName);
