#include "platform/text.h"

#include <gtest/gtest.h>

#include <QString>
#include <random>
#include <string>
#include <vector>

namespace {

using platform::fromAnsi;
using platform::toAnsi;
using namespace std::string_literals;

// Wide text written as UTF-16 code units, so that lone surrogates can be spelled out.
QString units(std::initializer_list<char16_t> codes) {
    QString text;
    for (const char16_t code : codes) {
        text.append(QChar(code));
    }
    return text;
}

struct Row {
    const char* what;
    std::string ansi;
    QString wide;
};

TEST(Text, BytesDecodeToTheirCharactersOrEscapesAndEncodeBack) {
    const std::vector<Row> rows = {
        {"valid UTF-8 of each length", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5",
         units({u'a', 0x00E9, 0x20AC, 0xD83C, 0xDFB5})},
        {"Latin-1 byte", "caf\xE9", units({u'c', u'a', u'f', 0xDCE9})},
        {"lowest and highest escape", "\x80\xFF", units({0xDC80, 0xDCFF})},
        {"overlong slash", "\xC0\xAF", units({0xDCC0, 0xDCAF})},
        {"encoded surrogate", "\xED\xA0\x80", units({0xDCED, 0xDCA0, 0xDC80})},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})},
        {"truncated at the end", "a\xE2\x82", units({u'a', 0xDCE2, 0xDC82})},
        {"valid after a broken lead", "\xC3\xC3\xA9", units({0xDCC3, 0x00E9})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(fromAnsi(row.ansi), row.wide);
        EXPECT_EQ(toAnsi(row.wide), row.ansi);
    }
}

TEST(Text, LoneSurrogatesThatStandForNoByteEncodeAsQuestionMarks) {
    const std::vector<Row> rows = {
        {"lone high surrogate", "a?b", units({u'a', 0xD800, u'b'})},
        {"high surrogate at the end", "a?", units({u'a', 0xDBFF})},
        {"low surrogates outside the escapes", "??", units({0xDC7F, 0xDD00})},
        {"reversed pair", "??", units({0xDFB5, 0xD83C})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(toAnsi(row.wide), row.ansi);
    }
}

TEST(Text, RandomBytesSurviveTheRoundTrip) {
    // Bytes are drawn mostly from the ranges where UTF-8 decoding has choices to make.
    const std::string interesting =
        "\x00"
        "a\x7F\x80\x8F\x90\x9F\xA0\xBF\xC0\xC1\xC2\xDF\xE0\xE1\xEC\xED\xEE\xEF\xF0\xF3\xF4\xF5\xFF"s;
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> pick(0, interesting.size() - 1);
    std::uniform_int_distribution<int> length(0, 12);
    for (int round = 0; round < 20000; ++round) {
        std::string ansi;
        for (int i = length(random); i > 0; --i) {
            ansi.push_back(interesting[pick(random)]);
        }
        ASSERT_EQ(toAnsi(fromAnsi(ansi)), ansi) << "round " << round;
    }
}

}  // namespace
