// Cookie collection and merging: what survives, in which order, and what is written back.
#include "http/cookies.h"

#include <gtest/gtest.h>

#include <ostream>

namespace kv {
namespace {

struct CollectCase {
    Text block;
    Text cookies;
    Text normalisedBlock;
};

// Test names show the case, not its bytes.
void PrintTo(const CollectCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.block);
}

class CollectSetCookiesTable : public testing::TestWithParam<CollectCase> {};

TEST_P(CollectSetCookiesTable, CollectsAndNormalises) {
    const CollectCase& c = GetParam();
    Text block = c.block;
    Text cookies = "stale=1";
    CollectSetCookies(block, cookies);
    EXPECT_EQ(cookies, c.cookies);
    EXPECT_EQ(block, c.normalisedBlock);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CollectSetCookiesTable,
    testing::Values(
        CollectCase{"set-cookie: a=1; path=/\r\nSet-Cookie:b=2\r\nX: y\r\nSET-COOKIE: c=3 ;Path=/",
                    "a=1; b=2; c=3",
                    "Set-Cookie: a=1; path=/\r\nSet-Cookie:b=2\r\nX: y\r\nSet-Cookie: c=3 ;Path=/"},
        CollectCase{"HTTP/1.1 200 OK\r\nX: y\r\n\r\n", "", "HTTP/1.1 200 OK\r\nX: y\r\n\r\n"},
        CollectCase{"", "", ""}, CollectCase{"Set-Cookie: ; path=/", "", "Set-Cookie: ; path=/"},
        CollectCase{"Set-Cookie: a=1\r\nSet-Cookie2: b=2; Version=1\r\nSet-Cookie: c=3", "a=1; ; c=3",
                    "Set-Cookie: a=1\r\nSet-Cookie2: b=2; Version=1\r\nSet-Cookie: c=3"},
        // Quotes and inner blanks are kept as sent.
        CollectCase{"Set-Cookie: q=\"a b\"; HttpOnly", "q=\"a b\"", "Set-Cookie: q=\"a b\"; HttpOnly"},
        // The name is normalised in values too.
        CollectCase{"X-Note: set-cookie here", "X-Note: Set-Cookie here", "X-Note: Set-Cookie here"}));

struct MergeCase {
    Text current;
    Text incoming;
    Text merged;
    Text incomingAfter;
};

// Test names show the case, not its bytes.
void PrintTo(const MergeCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.current);
}

class MergeCookiesTable : public testing::TestWithParam<MergeCase> {};

TEST_P(MergeCookiesTable, MergesAndWritesBack) {
    const MergeCase& c = GetParam();
    Text current = c.current;
    Text incoming = c.incoming;
    Text copy = MergeCookies(current, incoming);
    EXPECT_EQ(copy, c.merged);
    EXPECT_EQ(current, c.merged);
    EXPECT_EQ(incoming, c.incomingAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeCookiesTable,
    testing::Values(MergeCase{"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4"},
                    MergeCase{"a=1; b=2", "a=deleted", "b=2", "a=deleted"},
                    MergeCase{"a=1; a=2; b=1", "c=1", "c=1; a=1; b=1", "c=1"},
                    MergeCase{"a=1", "c=1; c=2; c=1", "c=1; c=2; a=1", "c=1;c=2;c=1"},
                    MergeCase{"", "", "", ""}, MergeCase{"", "a=1", "a=1", "a=1"},
                    MergeCase{"a=1", "", "a=1", ""}, MergeCase{"a=1; b=2", "A=3", "A=3; a=1; b=2", "A=3"},
                    MergeCase{"x", "y", "y; x", "y"}, MergeCase{"=deleted; a=1", "", "a=1", ""},
                    MergeCase{";a=1", "b=2", "b=2; ; a=1", "b=2"},
                    MergeCase{"a=1; b=2;", "c=3;", "c=3; a=1; b=2", "c=3;"},
                    // Blanks go everywhere, inside values as well, and full-width ones too.
                    MergeCase{" q=\"a b\" ;\xA1\xA1r=1", "", "q=\"ab\"; r=1", ""},
                    // A cookie deleted in the current string is dropped as well.
                    MergeCase{"a=deleted; b=1", "c=2", "c=2; b=1", "c=2"}));

TEST(MergeCookies, MergingTheSameIncomingAgainChangesNothing) {
    Text current = "a=1; b=2";
    Text incoming = "b=3; c=4";
    Text once = MergeCookies(current, incoming);
    Text again = MergeCookies(current, incoming);
    EXPECT_EQ(again, once);
}

TEST(CookieListRoutines, NamesAndLookups) {
    EXPECT_EQ(CookieName(" sid =abc=def"), "sid");
    EXPECT_EQ(CookieName("flag"), "flag");
    EXPECT_EQ(CookieName("=v"), "");
    EXPECT_TRUE(CookieNamePresent({"a=1", "b=2"}, "b"));
    EXPECT_FALSE(CookieNamePresent({"a=1", "b=2"}, "B"));
    EXPECT_FALSE(CookieNamePresent({}, ""));
    EXPECT_EQ(FindListItem({"x", "y", "x"}, "x"), 1);
    EXPECT_EQ(FindListItem({"x", "y"}, "y"), 2);
    EXPECT_EQ(FindListItem({"x", "y"}, "X"), -1);
    EXPECT_EQ(RemoveDuplicateItems("a; b; a; c; b", "; "), "a; b; c");
    EXPECT_EQ(RemoveDuplicateItems("", "; "), "");
    EXPECT_EQ(RemoveDuplicateItems("a=1;a=1", ";"), "a=1");
}

} // namespace
} // namespace kv
