// Code-page conversions: the UTF-16 routines and the GUI boundary.
#include "text/codepage.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

Bytes Units(std::initializer_list<std::uint16_t> units) {
    Bytes out;
    for (auto u : units) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return out;
}

TEST(CodePage, Utf8ThroughUtf16ToGbk) {
    // 中 is U+4E2D: E4 B8 AD in UTF-8, D6 D0 in code page 936.
    EXPECT_EQ(TextToUtf16("\xE4\xB8\xAD"
                          "a"),
              Units({0x4E2D, 'a', 0}));
    EXPECT_EQ(Utf16ToText(Units({0x4E2D, 'a', 0}), CodePageGbk), "\xD6\xD0"
                                                                 "a");
    EXPECT_EQ(Utf16ToText(Units({0x4E2D, 0}), CodePageAnsi), "\xD6\xD0");
    EXPECT_EQ(TextToUtf16("\xD6\xD0", CodePageGbk), Units({0x4E2D, 0}));
}

TEST(CodePage, EmptyAndStopsAtZero) {
    EXPECT_EQ(TextToUtf16(""), Units({0}));
    EXPECT_EQ(Utf16ToText(Units({0})), "");
    EXPECT_EQ(Utf16ToText(Bytes{}), "");
    EXPECT_EQ(Utf16ToText(Units({'a', 0, 'b', 0})), "a");
    EXPECT_EQ(TextToUtf16(std::string_view("a\0b", 3)), Units({'a', 0}));
}

TEST(CodePage, BadInputIsReplacedNotFatal) {
    // A lone continuation byte and a truncated sequence.
    EXPECT_EQ(TextToUtf16("a\x80"
                          "b\xE4\xB8"),
              Units({'a', 0xFFFD, 'b', 0xFFFD, 0xFFFD, 0}));
    // An emoji has no place in code page 936; it becomes one "?".
    EXPECT_EQ(Utf16ToText(Units({'x', 0xD83D, 0xDE00, 'y', 0}), CodePageGbk), "x?y");
    EXPECT_TRUE(TextToUtf16("a", 12345678).empty());
}

TEST(CodePage, GuiBoundaryKeepsEveryCharacter) {
    const std::string samples[] = {"plain",
                                   "\xE4\xB8\xAD\xE6\x96\x87",
                                   "\xF0\x9F\x98\x80 emoji",
                                   "\xE2\x82\xAC euro",
                                   "\xC3\xA9t\xC3\xA9",
                                   ""};
    for (const auto& utf8 : samples) {
        EXPECT_EQ(TextToUtf8(Utf8ToText(utf8)), utf8) << utf8;
    }
    EXPECT_EQ(T("中"), "\xD6\xD0");
    EXPECT_EQ(T("　"), "\xA1\xA1");
}

} // namespace
} // namespace kv
