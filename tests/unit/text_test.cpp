// The text primitives at their edges: positions, omitted arguments, blanks and the two-byte rule.
#include "text/codepage.h"
#include "text/extract.h"
#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {
namespace {

// "中" in code page 936 is D6 D0; "\xA1\xA1" is the full-width space.
const Text Zhong = "\xD6\xD0";
const Text Wide = "\xA1\xA1";

TEST(TextCuts, LeftRightMidAreByteBased) {
    EXPECT_EQ(TextLeft(Zhong + "ab", 1), "\xD6");
    EXPECT_EQ(TextLeft("abc", 0), "");
    EXPECT_EQ(TextLeft("abc", -2), "");
    EXPECT_EQ(TextLeft("abc", 10), "abc");
    EXPECT_EQ(TextRight("abc", 2), "bc");
    EXPECT_EQ(TextRight("abc", 10), "abc");
    EXPECT_EQ(TextRight("abc", 0), "");
    EXPECT_EQ(TextMid("abcdef", 2, 3), "bcd");
    EXPECT_EQ(TextMid("abcdef", 5, 10), "ef");
    EXPECT_EQ(TextMid("abcdef", 0, 3), "");
    EXPECT_EQ(TextMid("abcdef", 7, 1), "");
    EXPECT_EQ(TextMid("abcdef", 6, 1), "f");
    EXPECT_EQ(TextMid("abcdef", 2, 0), "");
}

struct FindCase {
    Text text, sought;
    std::optional<int> start;
    bool ignoreCase;
    int expected;
};

TEST(FindText, Table) {
    const FindCase cases[] = {
        {"abc", "", std::nullopt, false, 1},
        {"abc", "", 3, false, 1},
        {"abc", "", 4, false, -1},
        {"", "", std::nullopt, false, -1},
        {"", "a", std::nullopt, false, -1},
        {"abcabc", "c", std::nullopt, false, 3},
        {"abcabc", "c", 4, false, 6},
        {"abcabc", "c", 7, false, -1},
        {"abcabc", "a", 0, false, 1},
        {"abcabc", "a", -5, false, 1},
        {"abcabc", "BC", std::nullopt, false, -1},
        {"abcabc", "BC", std::nullopt, true, 2},
        {"abc", "abcd", std::nullopt, false, -1},
        // The second byte of a two-byte character is never a candidate.
        {"\xB0\x41x", "A", std::nullopt, false, -1},
        {"\xB0\x41"
         "A",
         "A", std::nullopt, false, 3},
        {"\xB0\x41"
         "A",
         "\x41"
         "A",
         std::nullopt, false, -1},
        // Boundaries are counted from the start of the region: position 2 begins a character there.
        {"\xB0\x41x", "A", 2, false, 2},
        {"x" + Zhong + "y", Zhong, std::nullopt, false, 2},
        // Folding touches second bytes too.
        {"\xB0\x61", "\xB0\x41", std::nullopt, true, 1},
        // A lone lead byte at the end ends the scan.
        {"ab\xB0", "\xB0", std::nullopt, false, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindText(c.text, c.sought, c.start, c.ignoreCase), c.expected)
            << "text '" << c.text << "' sought '" << c.sought << "' start " << c.start.value_or(-99);
    }
}

TEST(FindTextReverse, Table) {
    const FindCase cases[] = {
        {"a.b.c", ".", std::nullopt, false, 4},
        {"a.b.c", ".", 4, false, 2},
        {"a.b.c", ".", 1, false, -1},
        {"a.b.c", ".", 100, false, 4},
        {"a.b.c", "", std::nullopt, false, 1},
        {"a.b.c", "", 1, false, -1},
        {"", "", std::nullopt, false, -1},
        // The match must lie wholly inside the first start-1 bytes.
        {"abcab", "ab", 5, false, 1},
        {"abcab", "ab", 6, false, 4},
        {"xAx", "a", std::nullopt, true, 2},
        {"\xB0\x2E.", ".", std::nullopt, false, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindTextReverse(c.text, c.sought, c.start, c.ignoreCase), c.expected)
            << "text '" << c.text << "' sought '" << c.sought << "' start " << c.start.value_or(-99);
    }
}

struct ReplaceCase {
    Text text, sought, replacement;
    std::optional<int> start, count;
    bool caseSensitive;
    Text expected;
};

TEST(ReplaceText, Table) {
    const Text quote = T("#引号");
    const ReplaceCase cases[] = {
        {"a" + quote + "b" + quote, quote, "\"", std::nullopt, std::nullopt, true, "a\"b\""},
        {"x: 1\r\nSET-cookie: a\r\nset-Cookie: b", "Set-Cookie:", "", std::nullopt, std::nullopt, false,
         "x: 1\r\n a\r\n b"},
        {"aaaa", "a", "b", std::nullopt, 2, true, "bbaa"},
        {"aaaa", "a", "b", 3, std::nullopt, true, "aabb"},
        {"aaaa", "a", "b", 5, std::nullopt, true, "aaaa"},
        {"aaaa", "a", "b", std::nullopt, 0, true, "aaaa"},
        {"aaaa", "", "b", std::nullopt, std::nullopt, true, "aaaa"},
        {"", "a", "b", std::nullopt, std::nullopt, true, ""},
        {"aAa", "a", "", std::nullopt, std::nullopt, true, "A"},
        // A replacement holding the sought text is not scanned again.
        {"ab", "a", "aa", std::nullopt, std::nullopt, true, "aab"},
        {"aaa", "aa", "x", std::nullopt, std::nullopt, true, "xa"},
        // Never across a character boundary.
        {"\xB0\x41"
         "A",
         "A", "z", std::nullopt, std::nullopt, true, "\xB0\x41z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplaceText(c.text, c.sought, c.replacement, c.start, c.count, c.caseSensitive), c.expected)
            << "text '" << c.text << "' sought '" << c.sought << "'";
    }
}

struct SplitCase {
    Text text, separator;
    std::optional<int> maxItems;
    TextList expected;
};

TEST(SplitText, Table) {
    const SplitCase cases[] = {
        {"", ",", std::nullopt, {}},
        {"a,b", ",", 0, {}},
        {"a,b", ",", -3, {}},
        {"a,b", "", std::nullopt, {"a,b"}},
        {"a,b,c", ",", std::nullopt, {"a", "b", "c"}},
        {"a,,b", ",", std::nullopt, {"a", "", "b"}},
        {",a", ",", std::nullopt, {"", "a"}},
        {"a,", ",", std::nullopt, {"a"}},
        {"a: 1\r\nb: 2\r\n", "\r\n", std::nullopt, {"a: 1", "b: 2"}},
        {"a,b,c", ",", 2, {"a", "b"}},
        {"a,b", ",", 2, {"a", "b"}},
        {"\xB0,x,y", ",", std::nullopt, {"\xB0,x", "y"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitText(c.text, c.separator, c.maxItems), c.expected) << "text '" << c.text << "'";
    }
}

TEST(Blanks, TrimAndRemoveKnowOnlySpaceAndFullWidthSpace) {
    EXPECT_EQ(TrimText("\t a b \t"), "\t a b \t");
    EXPECT_EQ(TrimText(" " + Wide + "a b" + Wide + "  "), "a b");
    EXPECT_EQ(TrimText("   "), "");
    EXPECT_EQ(TrimText(""), "");
    // A1 A1 straddling a character boundary is not a full-width space.
    EXPECT_EQ(TrimText("\xB0\xA1\xA1"), "\xB0\xA1\xA1");
    EXPECT_EQ(RemoveSpaces(" a\tb\r\n c" + Wide + "d"), "a\tb\r\nc"
                                                        "d");
    EXPECT_EQ(RemoveSpaces("\xB0\x20x"), "\xB0\x20x");
}

TEST(CaseFolding, LeavesSecondBytesAlone) {
    EXPECT_EQ(ToLowerText("AbC\xB0\x41Z"), "abc\xB0\x41z");
    EXPECT_EQ(ToUpperText("aBc\xB0\x61z"), "ABC\xB0\x61Z");
}

TEST(SmallTexts, RepeatBlankCharNumber) {
    EXPECT_EQ(RepeatText(3, "ab"), "ababab");
    EXPECT_EQ(RepeatText(0, "ab"), "");
    EXPECT_EQ(RepeatText(-1, "ab"), "");
    EXPECT_EQ(RepeatText(4, ""), "");
    EXPECT_EQ(BlankText(3), "   ");
    EXPECT_EQ(BlankText(0), "");
    EXPECT_EQ(CharText(0), "");
    EXPECT_EQ(CharText(65), "A");
    EXPECT_EQ(CharText(0xB0), "\xB0");
    EXPECT_EQ(NumberToText(-42), "-42");
    EXPECT_EQ(NumberToText(1426470650123.0), "1426470650123");
    EXPECT_EQ(NumberToText(0.5), "0.5");
    EXPECT_EQ(JoinText({"a", "", "bc"}), "abc");
    EXPECT_EQ(JoinText({"", ""}), "");
}

TEST(TextToInt, Table) {
    const std::pair<Text, int> cases[] = {
        {"123", 123},
        {"  -45x", -45},
        {"+7", 7},
        {"\t\r\n 8", 8},
        {"abc", 0},
        {"", 0},
        {"\xA3\xB1\xA3\xB2", 12}, // full-width digits
        {Wide + "\xA3\xAD"
                "3",
         -3},                        // full-width space and minus
        {"99999999999", 2147483647}, // saturates
        {"-99999999999", -2147483647 - 1},
        {"12 34", 12},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(TextToInt(text), expected) << text;
    }
}

TEST(CompareText, UnsignedBytesAndPrefixes) {
    EXPECT_EQ(CompareText("", ""), 0);
    EXPECT_EQ(CompareText("a", "a"), 0);
    EXPECT_EQ(CompareText("a", "ab"), -1);
    EXPECT_EQ(CompareText("ab", "a"), 1);
    EXPECT_EQ(CompareText("\xB0", "a"), 1);
    EXPECT_EQ(CompareText("a", "\xB0"), -1);
}

TEST(TextList, ItemAccessOutsideRangeIsEmpty) {
    TextList list = SplitText("a;b", ";");
    EXPECT_EQ(ListCount(list), 2);
    EXPECT_EQ(ListItem(list, 1), "a");
    EXPECT_EQ(ListItem(list, 2), "b");
    EXPECT_EQ(ListItem(list, 0), "");
    EXPECT_EQ(ListItem(list, 3), "");
}

TEST(BytesOps, Edges) {
    const Bytes withZero{'a', 'b', 0, 'c'};
    EXPECT_EQ(BytesToText(withZero), "ab");
    EXPECT_EQ(BytesToText(TextToBytes("xyz")), "xyz");
    EXPECT_EQ(BytesLength(withZero), 4);
    EXPECT_EQ(BytesLeft(withZero, 2), (Bytes{'a', 'b'}));
    EXPECT_EQ(BytesLeft(withZero, 10), withZero);
    EXPECT_TRUE(BytesLeft(withZero, -1).empty());
    EXPECT_EQ(BlankBytes(3), (Bytes{0, 0, 0}));
    EXPECT_TRUE(BlankBytes(0).empty());
    EXPECT_EQ(JoinBytes({withZero, Bytes{}, Bytes{'d'}}), (Bytes{'a', 'b', 0, 'c', 'd'}));
    EXPECT_TRUE(BytesEqual(Bytes{}, Bytes{}));
    EXPECT_FALSE(BytesEqual(Bytes{'a'}, Bytes{'a', 0}));
    EXPECT_EQ(BitOr({static_cast<std::int32_t>(0x80000000u), 0x10, 0x4000}),
              static_cast<std::int32_t>(0x80004010u));
}

TEST(DateTime, ParsingAndDifferences) {
    const DateTime reference = TextToTime("1970-01-01 08:00:00");
    EXPECT_EQ(reference, MakeDateTime(1970, 1, 1, 8, 0, 0));
    EXPECT_EQ(TextToTime("2024-02-29"), MakeDateTime(2024, 2, 29, 0, 0, 0));
    const DateTime earliest = MakeDateTime(100, 1, 1, 0, 0, 0);
    for (const char* bad : {"", "yesterday", "2023-02-29 00:00:00", "2024-13-01", "2024-01-01 24:00:00",
                            "2024-01-01 10:00", "2024-01-01T10:00:00", "2024-01-01 10:00:00 x"}) {
        EXPECT_EQ(TextToTime(bad), earliest) << bad;
    }
    const DateTime later = MakeDateTime(1970, 1, 1, 8, 0, 1);
    EXPECT_EQ(TimeDifference(later, reference, 8), 1);
    EXPECT_EQ(TimeDifference(reference, later, 8), -1);
    EXPECT_EQ(TimeDifference(reference, reference, 8), 0);
    EXPECT_EQ(TimeDifference(later, reference, 99), 1); // above 8 counts as 8
    // The seconds since the reference for a known instant.
    EXPECT_EQ(TimeDifference(MakeDateTime(2015, 3, 16, 9, 50, 50), reference, 8), 1426470650);
    EXPECT_EQ(TimeDifference(MakeDateTime(1970, 1, 3, 8, 0, 0), reference, 5), 2);
    EXPECT_EQ(TimeDifference(MakeDateTime(1971, 3, 1, 0, 0, 0), reference, 3), 14);
}

TEST(DateTime, CurrentTimeIsNowInWholeSeconds) {
    const DateTime now = CurrentTime();
    const DateTime ref = TextToTime("2026-01-01 00:00:00");
    EXPECT_GT(TimeDifference(now, ref, 8), 0);
    EXPECT_LT(TimeDifference(now, ref, 8), 100.0 * 365 * 86400);
}

TEST(Extract, HeaderLineNameAndValue) {
    const std::tuple<Text, Text, Text> cases[] = {
        {"Host", "", ""},
        {"  Accept :  */*  ", "Accept", "*/*"},
        {"Name:", "Name", ""},
        {":x", "", "x"},
        {"Referer: http://a/b:c", "Referer", "http://a/b:c"},
        {"\tX:\tv\r", "\tX", "\tv\r"},
        {Wide + "K" + Wide + ":" + Wide + "V", "K", "V"},
    };
    for (const auto& [line, name, value] : cases) {
        EXPECT_EQ(HeaderLineName(line), name) << line;
        EXPECT_EQ(HeaderLineValue(line), value) << line;
    }
}

TEST(Extract, TextBetween) {
    const Text quote = T("#引号");
    struct Case {
        Text text, left, right;
        std::optional<int> start;
        Text expected;
    };
    const Case cases[] = {
        {"a[b]c[d]", "[", "]", std::nullopt, "b"},
        {"x=1", "x=", ";", std::nullopt, ""},
        {"ab", "a", "b", std::nullopt, ""},
        {"xa", "a", "b", std::nullopt, ""},
        {"a[b]", "[", "", std::nullopt, ""},
        {"a[b]c[d]", "[", "]", 4, "d"},
        {"[b]c", "[", "]", 2, ""},
        {"k=\"value\";", quote + "value" + quote, ";", std::nullopt, ""},
        {"k=\"value\";", "k=" + quote, quote, std::nullopt, "value"},
        // The placeholder in the searched text is not a quote.
        {"k=" + quote + "v" + quote, "k=" + quote, quote, std::nullopt, ""},
        {"{\"code\":0,\"msg\"", "{\"code\":", ",\"", std::nullopt, "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextBetween(c.text, c.left, c.right, c.start), c.expected) << c.text;
    }
}

} // namespace
} // namespace kv
