#include "platform/text.h"

#include <cstddef>
#include <cstdint>

namespace platform {

namespace {

// Bytes that are not part of valid UTF-8 travel through wide text as these lone surrogates.
constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kEscapeFirst = 0xDC80;
constexpr char16_t kEscapeLast = 0xDCFF;

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Length of the valid UTF-8 sequence that starts at `at`, or 0 when the byte there does not
// start one. The ranges for the second byte are the ones that exclude overlong forms, encoded
// surrogates and code points beyond U+10FFFF, so every accepted sequence is the one canonical
// encoding of its code point; that is what makes bytes -> text -> bytes exact.
std::size_t validSequenceLength(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    const std::size_t left = bytes.size() - at;
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (left < length) {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!isContinuation(byte(at + i))) {
            return 0;
        }
    }
    return length;
}

char32_t decodeSequence(std::string_view bytes, std::size_t at, std::size_t length) {
    const auto byte = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[at + i]));
    };
    switch (length) {
        case 1:
            return byte(0);
        case 2:
            return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3:
            return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default:
            return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
                   (byte(3) & 0x3F);
    }
}

}  // namespace

std::string toAnsi(const QString& wide) {
    std::string out;
    out.reserve(static_cast<std::size_t>(wide.size()));
    const auto* units = reinterpret_cast<const char16_t*>(wide.utf16());
    const auto count = static_cast<std::size_t>(wide.size());
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t unit = units[i];
        if (isHighSurrogate(unit) && i + 1 < count && isLowSurrogate(units[i + 1])) {
            const char32_t code =
                0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            appendUtf8(out, code);
            ++i;
        } else if (unit >= kEscapeFirst && unit <= kEscapeLast) {
            out.push_back(static_cast<char>(unit - kEscapeBase));
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            out.push_back('?');
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

QString fromAnsi(std::string_view ansi) {
    QString out;
    out.reserve(static_cast<qsizetype>(ansi.size()));
    std::size_t at = 0;
    while (at < ansi.size()) {
        const std::size_t length = validSequenceLength(ansi, at);
        if (length == 0) {
            // Only the offending byte is escaped; decoding starts again at the next one, so a
            // valid character right after a broken sequence is still read as that character.
            out.append(
                QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(ansi[at]))));
            ++at;
            continue;
        }
        const char32_t code = decodeSequence(ansi, at, length);
        if (code >= 0x10000) {
            const char32_t offset = code - 0x10000;
            out.append(QChar(static_cast<char16_t>(0xD800 + (offset >> 10))));
            out.append(QChar(static_cast<char16_t>(0xDC00 + (offset & 0x3FF))));
        } else {
            out.append(QChar(static_cast<char16_t>(code)));
        }
        at += length;
    }
    return out;
}

std::string printable(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = validSequenceLength(bytes, at);
        const auto lead = static_cast<unsigned char>(bytes[at]);
        // U+0080..U+009F are encoded as C2 80..C2 9F.
        const bool c1 =
            length == 2 && lead == 0xC2 && static_cast<unsigned char>(bytes[at + 1]) < 0xA0;
        const bool control = length == 1 && (lead < 0x20 || lead == 0x7F);
        if (length == 0 || c1 || control) {
            const std::size_t end = at + (length == 0 ? 1 : length);
            for (; at < end; ++at) {
                const auto byte = static_cast<unsigned char>(bytes[at]);
                switch (byte) {
                    case '\n':
                        out += "\\n";
                        break;
                    case '\r':
                        out += "\\r";
                        break;
                    case '\t':
                        out += "\\t";
                        break;
                    default:
                        out += "\\x";
                        out += kHex[byte >> 4];
                        out += kHex[byte & 0xF];
                }
            }
            continue;
        }
        if (lead == '\\') {
            out += "\\\\";  // doubled, so that no name can pass for an escape
        } else {
            out.append(bytes, at, length);
        }
        at += length;
    }
    return out;
}

}  // namespace platform
