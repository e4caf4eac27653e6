// The second request routine's steps, seen from a request object that records what it is told.
#include "http/com_request.h"
#include "platform/http_request_object.h"
#include "text/codepage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include <climits>

namespace kv {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

class RecordingObject : public HttpRequestObject {
public:
    std::vector<std::string> calls;
    Bytes body = TextToBytes("reply");
    std::string headers;
    int status = 200;

    bool SetTimeouts(int a, int b, int c, int d) override {
        calls.push_back("SetTimeouts " + std::to_string(a) + " " + std::to_string(b) + " " +
                        std::to_string(c) + " " + std::to_string(d));
        return true;
    }
    bool SetProxy(int setting, std::string_view proxy) override {
        calls.push_back("SetProxy " + std::to_string(setting) + " " + std::string(proxy));
        return true;
    }
    bool SetProxyCredentials(std::string_view user, std::string_view password, int flag) override {
        calls.push_back("SetProxyCredentials " + std::string(user) + " " + std::string(password) + " " +
                        std::to_string(flag));
        return true;
    }
    bool Open(std::string_view method, std::string_view url, bool async) override {
        calls.push_back("Open " + std::string(method) + " " + std::string(url) +
                        (async ? " async" : " sync"));
        return true;
    }
    bool SetOption(int index, long value) override {
        calls.push_back("Option " + std::to_string(index) + " " + std::to_string(value));
        return true;
    }
    bool SetRequestHeader(std::string_view name, std::string_view value) override {
        calls.push_back("Header " + std::string(name) + "=" + std::string(value));
        return true;
    }
    bool Send(std::span<const std::uint8_t> sent) override {
        calls.push_back("Send " + std::string(sent.begin(), sent.end()));
        return true;
    }
    std::vector<std::uint8_t> ResponseBody() const override { return body; }
    std::string GetAllResponseHeaders() const override { return headers; }
    int Status() const override { return status; }

    std::vector<std::string> HeaderCalls() const {
        std::vector<std::string> headerCalls;
        for (const std::string& call : calls) {
            if (call.starts_with("Header ")) {
                headerCalls.push_back(call);
            }
        }
        return headerCalls;
    }
};

const std::string Url = "http://pan.korvane.example/webdisk/home/index";
const std::vector<std::string> DefaultHeaderCalls = {
    "Header Accept=*/*", "Header Referer=" + Url, "Header Accept-Language=zh-cn",
    "Header User-Agent=Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
    "Header Content-Type=application/x-www-form-urlencoded"};

struct TimeoutCase {
    int timeout;
    std::optional<std::string> call;
};

// Test names show the case, not its bytes.
void PrintTo(const TimeoutCase& c, std::ostream* os) {
    *os << "timeout " << c.timeout;
}

class ComTimeouts : public testing::TestWithParam<TimeoutCase> {};

TEST_P(ComTimeouts, BecomeFourEqualLimits) {
    RecordingObject object;
    ComRequestArgs args;
    args.url = Url;
    args.timeout = GetParam().timeout;
    args.requestObject = &object;
    ComHttpRequest(args);
    if (GetParam().call) {
        EXPECT_EQ(object.calls.front(), *GetParam().call);
    } else {
        EXPECT_TRUE(object.calls.front().starts_with("Open ")) << object.calls.front();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ComTimeouts,
                         testing::Values(TimeoutCase{0, "SetTimeouts 15000 15000 15000 15000"},
                                         TimeoutCase{-5, "SetTimeouts 15000 15000 15000 15000"},
                                         TimeoutCase{-1, std::nullopt},
                                         TimeoutCase{2, "SetTimeouts 2000 2000 2000 2000"},
                                         TimeoutCase{3000000, "SetTimeouts " + std::to_string(INT_MAX) + " " +
                                                                  std::to_string(INT_MAX) + " " +
                                                                  std::to_string(INT_MAX) + " " +
                                                                  std::to_string(INT_MAX)}));

TEST(ComSteps, EveryOperationInOrderAndNoCertificateRelaxing) {
    RecordingObject object;
    Text cookies = "c=1";
    Text headers = "X-A: 1";
    ComRequestArgs args;
    args.url = Url;
    args.method = 1;
    args.postText = "t=1";
    args.cookies = &cookies;
    args.headers = &headers;
    args.noRedirect = true;
    args.proxy = "127.0.0.1:3128";
    args.proxyUser = "u";
    args.proxyPassword = "pw";
    args.requestObject = &object;
    ComHttpRequest(args);
    std::vector<std::string> expected = {"SetTimeouts 15000 15000 15000 15000",
                                         "SetProxy 2 127.0.0.1:3128",
                                         "SetProxyCredentials u pw 1",
                                         "Open POST " + Url + " sync",
                                         "Option 6 0",
                                         "Header Cookie=c=1",
                                         "Header X-A=1"};
    expected.insert(expected.end(), DefaultHeaderCalls.begin(), DefaultHeaderCalls.end());
    expected.push_back("Send t=1");
    EXPECT_THAT(object.calls, ElementsAreArray(expected));
    EXPECT_EQ(headers,
              "X-A: 1\r\nAccept: */*\r\nReferer: " + Url +
                  "\r\nAccept-Language: zh-cn\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT "
                  "6.1)\r\nContent-Type: application/x-www-form-urlencoded");
}

TEST(ComSteps, AProxyUserWithoutAProxyIsIgnored) {
    RecordingObject object;
    ComRequestArgs args;
    args.url = Url;
    args.proxyUser = "u";
    args.requestObject = &object;
    ComHttpRequest(args);
    for (const std::string& call : object.calls) {
        EXPECT_FALSE(call.starts_with("SetProxy")) << call;
    }
}

struct HeaderHandingCase {
    std::string name;
    Text block;
    std::vector<std::string> leadingCalls; // before the defaults, or every call when withDefaults is false
    bool withDefaults;
};

class ComHeaderHanding : public testing::TestWithParam<HeaderHandingCase> {};

TEST_P(ComHeaderHanding, LineByLine) {
    const HeaderHandingCase& c = GetParam();
    RecordingObject object;
    Text block = c.block;
    ComRequestArgs args;
    args.url = Url;
    args.headers = &block;
    args.requestObject = &object;
    ComHttpRequest(args);
    std::vector<std::string> expected = c.leadingCalls;
    if (c.withDefaults) {
        expected.insert(expected.end(), DefaultHeaderCalls.begin(), DefaultHeaderCalls.end());
    }
    EXPECT_THAT(object.HeaderCalls(), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComHeaderHanding,
    testing::Values(
        HeaderHandingCase{"TrailingBreakGivesASkippedEmptyLine", "X: 1\r\n", {"Header X=1"}, true},
        HeaderHandingCase{
            "LowerCaseAcceptGetsTheDefaultToo", "accept: text/html", {"Header accept=text/html"}, true},
        HeaderHandingCase{"LineWithoutColonHasNoNameNorValue", "NoColon", {"Header ="}, true},
        // The caller's Referer keeps the colon of its URL and suppresses the default one.
        HeaderHandingCase{"ValueKeepsLaterColons",
                          "Referer: http://x/",
                          {"Header Referer=http://x/", DefaultHeaderCalls[0], DefaultHeaderCalls[2],
                           DefaultHeaderCalls[3], DefaultHeaderCalls[4]},
                          false},
        // One line naming all five defaults gets none appended and goes in one call.
        HeaderHandingCase{"OneLineNamingEveryDefault",
                          "X: Accept: Referer: Accept-Language: User-Agent: Content-Type:",
                          {"Header X=Accept: Referer: Accept-Language: User-Agent: Content-Type:"},
                          false}),
    [](const testing::TestParamInfo<HeaderHandingCase>& info) { return info.param.name; });

TEST(ComSteps, ReadsTheResponseAndMergesItsCookies) {
    RecordingObject object;
    object.headers = "set-cookie: n = 1; path=/\r\nX: y\r\nSet-Cookie: a=deleted";
    object.status = 201;
    Text cookies = "a=1; b=2";
    Text returnedCookies;
    Text returnedHeaders;
    int status = 0;
    ComRequestArgs args;
    args.url = Url;
    args.cookies = &cookies;
    args.returnedCookies = &returnedCookies;
    args.returnedHeaders = &returnedHeaders;
    args.returnedStatus = &status;
    args.requestObject = &object;
    EXPECT_EQ(BytesToText(ComHttpRequest(args)), "reply");
    EXPECT_EQ(returnedHeaders, "Set-Cookie: n = 1; path=/\r\nX: y\r\nSet-Cookie: a=deleted");
    EXPECT_EQ(status, 201);
    EXPECT_EQ(returnedCookies, "n=1;a=deleted");
    EXPECT_EQ(cookies, "n=1; b=2");
}

TEST(ComSteps, MergesEvenWithoutACookieVariable) {
    RecordingObject object;
    object.headers = "Set-Cookie: n = 1";
    Text returnedCookies;
    ComRequestArgs args;
    args.url = Url;
    args.returnedCookies = &returnedCookies;
    args.requestObject = &object;
    ComHttpRequest(args);
    EXPECT_EQ(returnedCookies, "n=1");
}

TEST(ComSteps, BodyIsTheBytesOrTheTextAsUtf8) {
    const Bytes bytes = TextToBytes("raw");
    for (const Bytes* postBytes : {static_cast<const Bytes*>(nullptr), &bytes}) {
        RecordingObject object;
        ComRequestArgs args;
        args.url = Url;
        args.method = 1;
        Text text = T("名=值");
        args.postText = text;
        args.postBytes = postBytes;
        args.requestObject = &object;
        ComHttpRequest(args);
        EXPECT_EQ(object.calls.back(), postBytes ? "Send raw" : "Send 名=值");
    }
}

} // namespace
} // namespace kv
