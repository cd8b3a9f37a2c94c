#include "platform/text.h"

#include <gtest/gtest.h>

#include <QString>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using platform::fromAnsi;
using platform::toAnsi;

// Wide text written as UTF-16 code units, so that lone surrogates can be spelled out.
QString units(std::initializer_list<char16_t> codes) {
    QString text;
    for (const char16_t code : codes) {
        text.append(QChar(code));
    }
    return text;
}

std::string bytes(std::initializer_list<unsigned char> values) {
    std::string text;
    for (const unsigned char value : values) {
        text.push_back(static_cast<char>(value));
    }
    return text;
}

struct DecodeCase {
    const char* what;
    std::string ansi;
    QString wide;
};

// Every row must also survive bytes -> text -> bytes unchanged.
const std::vector<DecodeCase>& decodeCases() {
    static const std::vector<DecodeCase> cases = {
        {"empty", "", QString()},
        {"ascii", "song 1.mp3", QStringLiteral("song 1.mp3")},
        {"NUL byte kept", bytes({'a', 0x00, 'b'}), units({u'a', 0x0000, u'b'})},
        {"two-byte e acute", bytes({0xC3, 0xA9}), units({0x00E9})},
        {"three-byte euro", bytes({0xE2, 0x82, 0xAC}), units({0x20AC})},
        {"four-byte emoji", bytes({0xF0, 0x9F, 0x8E, 0xB5}), units({0xD83C, 0xDFB5})},
        {"highest code point", bytes({0xF4, 0x8F, 0xBF, 0xBF}), units({0xDBFF, 0xDFFF})},
        {"U+FFFF is valid", bytes({0xEF, 0xBF, 0xBF}), units({0xFFFF})},
        {"last before surrogates", bytes({0xED, 0x9F, 0xBF}), units({0xD7FF})},
        {"first after surrogates", bytes({0xEE, 0x80, 0x80}), units({0xE000})},
        {"byte 0xFF", bytes({0xFF}), units({0xDCFF})},
        {"Latin-1 e acute", bytes({'c', 'a', 'f', 0xE9, '.', 'm', 'p', '3'}),
         units({u'c', u'a', u'f', 0xDCE9, u'.', u'm', u'p', u'3'})},
        {"lone continuation", bytes({0x80}), units({0xDC80})},
        {"overlong slash, two bytes", bytes({0xC0, 0xAF}), units({0xDCC0, 0xDCAF})},
        {"overlong, C1 lead", bytes({0xC1, 0xBF}), units({0xDCC1, 0xDCBF})},
        {"overlong slash, three bytes", bytes({0xE0, 0x80, 0xAF}), units({0xDCE0, 0xDC80, 0xDCAF})},
        {"overlong, four bytes", bytes({0xF0, 0x8F, 0xBF, 0xBF}),
         units({0xDCF0, 0xDC8F, 0xDCBF, 0xDCBF})},
        {"encoded high surrogate", bytes({0xED, 0xA0, 0x80}), units({0xDCED, 0xDCA0, 0xDC80})},
        {"encoded escape surrogate", bytes({0xED, 0xB2, 0x80}), units({0xDCED, 0xDCB2, 0xDC80})},
        {"beyond U+10FFFF", bytes({0xF4, 0x90, 0x80, 0x80}),
         units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})},
        {"F5 lead", bytes({0xF5, 0x80, 0x80, 0x80}), units({0xDCF5, 0xDC80, 0xDC80, 0xDC80})},
        {"truncated at end", bytes({'a', 0xE2, 0x82}), units({u'a', 0xDCE2, 0xDC82})},
        {"truncated four-byte at end", bytes({0xF0, 0x9F, 0x8E}), units({0xDCF0, 0xDC9F, 0xDC8E})},
        {"truncated, then ascii", bytes({0xE2, 0x82, 'A'}), units({0xDCE2, 0xDC82, u'A'})},
        {"lead then valid character", bytes({0xC3, 0xC3, 0xA9}), units({0xDCC3, 0x00E9})},
        {"escaped then valid then escaped", bytes({0xFE, 0xE2, 0x82, 0xAC, 0xFE}),
         units({0xDCFE, 0x20AC, 0xDCFE})},
    };
    return cases;
}

TEST(TextDecode, MapsEachByteStringToTheExpectedWideText) {
    for (const auto& row : decodeCases()) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(fromAnsi(row.ansi), row.wide);
    }
}

TEST(TextDecode, BytesSurviveTheRoundTripUnchanged) {
    for (const auto& row : decodeCases()) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(toAnsi(fromAnsi(row.ansi)), row.ansi);
    }
}

TEST(TextDecode, EveryTwoByteStringSurvivesTheRoundTrip) {
    int failures = 0;
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const std::string ansi = {static_cast<char>(first), static_cast<char>(second)};
            if (toAnsi(fromAnsi(ansi)) != ansi && ++failures <= 5) {
                ADD_FAILURE() << "bytes " << first << ", " << second;
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(TextDecode, RandomByteStringsSurviveTheRoundTrip) {
    // Bytes are drawn mostly from the ranges where UTF-8 decoding has choices to make.
    std::mt19937 random(12345);
    const std::vector<unsigned char> interesting = {0x00, 'a',  0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                                    0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC,
                                                    0xED, 0xEE, 0xEF, 0xF0, 0xF3, 0xF4, 0xF5, 0xFF};
    std::uniform_int_distribution<std::size_t> pick(0, interesting.size() - 1);
    std::uniform_int_distribution<int> length(0, 12);
    int failures = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string ansi;
        for (int i = length(random); i > 0; --i) {
            ansi.push_back(static_cast<char>(interesting[pick(random)]));
        }
        if (toAnsi(fromAnsi(ansi)) != ansi && ++failures <= 5) {
            ADD_FAILURE() << "round " << round;
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(TextDecode, ValidUtf8DecodesAsUtf8WithNoEscapes) {
    const std::vector<std::string> valid = {"plain",
                                            "caf\xC3\xA9",
                                            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                                            "\xF0\x9F\x8E\xB5 music",
                                            "\xEF\xBF\xBE\xEF\xBF\xBF",
                                            "\xF4\x8F\xBF\xBF"};
    for (const auto& ansi : valid) {
        SCOPED_TRACE(ansi);
        // Qt's decoder puts U+FFFD where it fails, so equality also rules out escapes.
        EXPECT_EQ(fromAnsi(ansi),
                  QString::fromUtf8(ansi.data(), static_cast<qsizetype>(ansi.size())));
    }
}

struct EncodeCase {
    const char* what;
    QString wide;
    std::string ansi;
};

TEST(TextEncode, MapsWideTextToTheExpectedBytes) {
    const std::vector<EncodeCase> cases = {
        {"empty", QString(), ""},
        {"ascii", QStringLiteral("Track 01.mp3"), "Track 01.mp3"},
        {"e acute", units({0x00E9}), bytes({0xC3, 0xA9})},
        {"surrogate pair", units({0xD83C, 0xDFB5}), bytes({0xF0, 0x9F, 0x8E, 0xB5})},
        {"escaped byte 0x80", units({0xDC80}), bytes({0x80})},
        {"escaped byte 0xFF", units({0xDCFF}), bytes({0xFF})},
        {"lone high surrogate", units({u'a', 0xD800, u'b'}), "a?b"},
        {"high surrogate at end", units({u'a', 0xDBFF}), "a?"},
        {"low surrogate below the escapes", units({0xDC7F}), "?"},
        {"low surrogate above the escapes", units({0xDD00}), "?"},
        {"reversed pair", units({0xDFB5, 0xD83C}), "??"},
        {"escape then high surrogate", units({0xDC80, 0xD800}), bytes({0x80, '?'})},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(toAnsi(row.wide), row.ansi);
    }
}

TEST(TextEncode, WideTextWithoutLoneSurrogatesSurvivesTheRoundTrip) {
    const std::vector<QString> texts = {
        QString(),
        QStringLiteral("song.mp3"),
        units({0x0000, u'x'}),
        units({0x00E9, 0x00C9}),
        units({0x65E5, 0x672C}),
        units({0xD83C, 0xDFB5}),
        units({0xDBFF, 0xDFFF}),
        units({0xD800, 0xDC00}),
        units({0xFFFE, 0xFFFF}),
        units({0xD7FF, 0xE000}),
    };
    for (std::size_t row = 0; row < texts.size(); ++row) {
        SCOPED_TRACE(row);
        const QString& wide = texts[row];
        EXPECT_EQ(fromAnsi(toAnsi(wide)), wide);
        EXPECT_EQ(toAnsi(wide), wide.toStdString());
    }
}

TEST(TextEncode, EveryBmpCharacterSurvivesTheRoundTrip) {
    int failures = 0;
    for (char32_t code = 0; code < 0x10000; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) {
            continue;
        }
        const QString wide(QChar(static_cast<char16_t>(code)));
        if (fromAnsi(toAnsi(wide)) != wide && ++failures <= 5) {
            ADD_FAILURE() << "U+" << std::hex << static_cast<std::uint32_t>(code);
        }
    }
    EXPECT_EQ(failures, 0);
}

}  // namespace
