#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

// Conversion between the program's wide text (QString) and "ANSI" text, the locale's 8-bit
// encoding that the A-suffixed platform functions take. On Linux that encoding is UTF-8.
//
// File names on Linux are bytes, not text: a name may hold bytes that are not valid UTF-8.
// So that every such name survives the round trip (and the file the list shows is the file that
// plays), the decoder maps each byte that is not part of a valid UTF-8 sequence to the lone
// surrogate U+DC00 + byte (U+DC80..U+DCFF), and the encoder maps those surrogates back to the
// bytes. Valid UTF-8 never decodes to a lone surrogate, so the mapping cannot collide. Any other
// lone surrogate in wide text has no ANSI form and encodes as '?', as the Windows conversion does.
//
// toAnsi and fromAnsi are the only place where text crosses between the two forms.
namespace platform {

std::string toAnsi(const QString& wide);
QString fromAnsi(std::string_view ansi);

// The bytes of a name as they may be shown on one line of a terminal: valid UTF-8 stays as it is,
// except control characters (C0, DEL and C1), which would break the line or reach the terminal as
// commands; those, and every byte that is not valid UTF-8, are written as \n, \r, \t, \\ or \xNN.
std::string printable(std::string_view bytes);

// Case in ASCII only: A-Z fold to a-z and every other byte stays as it is, whatever the locale.
// For what is compared without regard to case but is not text for a person: the file pattern's
// suffix, INI section and key names, media command keywords and aliases, a ".mp3" ending.
constexpr char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace platform
