// The default header lines both request routines complete a caller's block with.
#include "http/request_defaults.h"

#include <gtest/gtest.h>

#include <ostream>

namespace kv {
namespace {

const Text Url = "http://h.example/p";
const Text Agent = "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
const Text Tail = "\r\nAccept-Language: zh-cn";
const Text Form = "\r\nContent-Type: application/x-www-form-urlencoded";

struct BlockCase {
    Text block;
    bool withUserAgent;
    Text completed;
};

// Test names show the case, not its bytes.
void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << testing::PrintToString(c.block);
}

class CompleteHeaderBlockTable : public testing::TestWithParam<BlockCase> {};

TEST_P(CompleteHeaderBlockTable, AppendsMissingDefaults) {
    const BlockCase& c = GetParam();
    EXPECT_EQ(CompleteHeaderBlock(c.block, Url, c.withUserAgent), c.completed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompleteHeaderBlockTable,
    testing::Values(
        BlockCase{"", false, "Accept: */*\r\nReferer: " + Url + Tail + Form},
        BlockCase{"", true, "Accept: */*\r\nReferer: " + Url + Tail + Agent + Form},
        BlockCase{"Accept: text/html", false, "Accept: text/html\r\nReferer: " + Url + Tail + Form},
        // The tests are case-sensitive: a lower-case line does not count.
        BlockCase{"accept: x", false, "accept: x\r\nAccept: */*\r\nReferer: " + Url + Tail + Form},
        // ...and they look anywhere, values included.
        BlockCase{"X-Note: Referer: none", false, "X-Note: Referer: none\r\nAccept: */*" + Tail + Form},
        // A block ending in a line break keeps it: an empty line stands before the first default.
        BlockCase{"X: 1\r\n", false, "X: 1\r\n\r\nAccept: */*\r\nReferer: " + Url + Tail + Form},
        BlockCase{"User-Agent: Foo/1.0", true,
                  "User-Agent: Foo/1.0\r\nAccept: */*\r\nReferer: " + Url + Tail + Form},
        BlockCase{"Accept: a\r\nReferer: r\r\nAccept-Language: l\r\nUser-Agent: u\r\nContent-Type: c", true,
                  "Accept: a\r\nReferer: r\r\nAccept-Language: l\r\nUser-Agent: u\r\nContent-Type: c"}));

TEST(RequestMethod, OutOfRangeIsGet) {
    EXPECT_STREQ(MethodName(0), "GET");
    EXPECT_STREQ(MethodName(1), "POST");
    EXPECT_STREQ(MethodName(2), "HEAD");
    EXPECT_STREQ(MethodName(3), "GET");
    EXPECT_STREQ(MethodName(-1), "GET");
}

} // namespace
} // namespace kv
