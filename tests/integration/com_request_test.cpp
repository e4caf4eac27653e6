// The second request routine against loopback servers that record every request byte.
#include "http/com_request.h"
#include "platform/http_request_object.h"
#include "tests/integration/loopback.h"
#include "text/codepage.h"

#include <chrono>

namespace kv::test {
namespace {

const std::string Url = "http://sso.korvane.example/?ver=2.0";
const std::string Head = "GET /?ver=2.0 HTTP/1.1\r\nHost: sso.korvane.example\r\n";
const std::string Defaults = "Accept: */*\r\nReferer: " + Url +
                             "\r\nAccept-Language: zh-cn\r\n"
                             "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\n";

struct ComWireCase {
    std::string name;
    Text cookies;
    std::optional<Text> headers;
    std::string expectedHead;
};

class ComWire : public LoopbackTest, public testing::WithParamInterface<ComWireCase> {};

TEST_P(ComWire, SendsTheHeadersByteForByte) {
    const ComWireCase& c = GetParam();
    Text cookies = c.cookies;
    Text headers = c.headers.value_or("");
    ComRequestArgs args;
    args.url = Url;
    args.cookies = &cookies;
    args.headers = c.headers ? &headers : nullptr;
    EXPECT_EQ(Str(ComHttpRequest(args)), "ok");
    auto requests = net.plain.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].head, c.expectedHead);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComWire,
    testing::Values(
        ComWireCase{"NoCookies", "", std::nullopt, Head + Defaults + "\r\n"},
        ComWireCase{"CookieFirst", "a=1; b=2", std::nullopt,
                    Head + "Cookie: a=1; b=2\r\n" + Defaults + "\r\n"},
        ComWireCase{"CallerLineAfterCookie", "a=1", Text("X-A: 1"),
                    Head + "Cookie: a=1\r\nX-A: 1\r\n" + Defaults + "\r\n"},
        // The lower-case line and the default are one header to the object; the later value wins.
        ComWireCase{"LowerCaseAcceptReplaced", "", Text("accept: text/html"), Head + Defaults + "\r\n"},
        // The caller's agent replaces the layer's; no default agent is appended.
        ComWireCase{
            "CallerAgent", "", Text("User-Agent: Foo/1.0\r\n"),
            Head + "User-Agent: Foo/1.0\r\nAccept: */*\r\nReferer: " + Url +
                "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n"}),
    [](const testing::TestParamInfo<ComWireCase>& info) { return info.param.name; });

struct ComBodyCase {
    std::string name;
    int method;
    Text postText;
    std::string postBytes;
    std::string wireMethod;
    std::optional<std::string> wireBody;
};

class ComBodies : public LoopbackTest, public testing::WithParamInterface<ComBodyCase> {};

TEST_P(ComBodies, MethodAndBodyOnTheWire) {
    const ComBodyCase& c = GetParam();
    Bytes bytes(c.postBytes.begin(), c.postBytes.end());
    ComRequestArgs args;
    args.url = "http://sso.korvane.example/webdisk/home/offdladd";
    args.method = c.method;
    args.postText = c.postText;
    args.postBytes = &bytes;
    ComHttpRequest(args);
    auto requests = net.plain.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Method(), c.wireMethod);
    EXPECT_EQ(requests[0].HeaderCount("Expect"), 0u);
    if (c.wireBody) {
        EXPECT_EQ(requests[0].body, *c.wireBody);
        EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(c.wireBody->size()));
    } else {
        EXPECT_EQ(requests[0].HeaderCount("Content-Length"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComBodies,
    testing::Values(
        ComBodyCase{"PlainGet", 0, "", "", "GET", std::nullopt},
        // The post text goes with every method, GET included.
        ComBodyCase{"Method3IsGetWithText", 3, "t=1", "", "GET", std::string("t=1")},
        ComBodyCase{"MinusOneIsGet", -1, "", "", "GET", std::nullopt},
        ComBodyCase{"EmptyPost", 1, "", "", "POST", std::string("")},
        ComBodyCase{"BytesWinOverText", 1, "t=1", std::string("r\0w", 3), "POST", std::string("r\0w", 3)},
        ComBodyCase{"HeadWithText", 2, "t=1", "", "HEAD", std::string("t=1")},
        // Large enough that libcurl would otherwise ask for "100-continue" and wait.
        ComBodyCase{"LargeHeadBody", 2, "", std::string(2 << 20, 'h'), "HEAD", std::string(2 << 20, 'h')},
        // Typed text arrives as UTF-8: the code-page-936 bytes of "链接" become E9 93 BE E6 8E A5.
        ComBodyCase{"TextAsUtf8", 1, T("url=链接"), "", "POST", std::string("url=\xE9\x93\xBE\xE6\x8E\xA5")}),
    [](const testing::TestParamInfo<ComBodyCase>& info) { return info.param.name; });

TEST_F(LoopbackTest, ComUpperCaseHttpsGoesOverTlsToPort443) {
    net.tls.SetHandler(
        [](const RecordedRequest&) { return HttpReply(200, {"Set-Cookie: s=1; Secure"}, "secure"); });
    Text cookies = "a=1";
    int status = 0;
    ComRequestArgs args;
    args.url = "HTTPS://SSO.korvane.example/user/loginsubmit";
    args.cookies = &cookies;
    args.returnedStatus = &status;
    EXPECT_EQ(Str(ComHttpRequest(args)), "secure");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(cookies, "s=1; a=1");
    ASSERT_EQ(net.tls.Requests().size(), 1u);
    // The object takes the URL as it stands, host letter case included.
    EXPECT_EQ(net.tls.Requests()[0].Header("Host"), "SSO.korvane.example");
}

TEST_F(LoopbackTest, ComNoRedirectReturnsTheRedirectWithItsCookies) {
    net.tls.SetHandler(Script({HttpReply(302, {"Location: /next", "set-cookie: r=1; path=/"}, "moved")}));
    Text cookies = "a=1";
    Text returnedCookies;
    Text returnedHeaders;
    int status = 0;
    ComRequestArgs args;
    args.url = "https://sso.korvane.example/user/loginsubmit";
    args.method = 1;
    args.postText = "u=1";
    args.cookies = &cookies;
    args.returnedCookies = &returnedCookies;
    args.returnedHeaders = &returnedHeaders;
    args.returnedStatus = &status;
    args.noRedirect = true;
    EXPECT_EQ(Str(ComHttpRequest(args)), "moved");
    EXPECT_EQ(status, 302);
    EXPECT_EQ(returnedHeaders,
              "Location: /next\r\nSet-Cookie: r=1; path=/\r\nContent-Length: 5\r\nConnection: close");
    EXPECT_EQ(returnedCookies, "r=1");
    EXPECT_EQ(cookies, "r=1; a=1");
    EXPECT_EQ(net.tls.Requests().size(), 1u);
}

TEST_F(LoopbackTest, ComFollowsRedirectsAndReportsTheFinalResponse) {
    net.plain.SetHandler(Script({HttpReply(302, {"Location: /final", "Set-Cookie: r=1"}),
                                 HttpReply(200, {"Set-Cookie: f=2"}, "final")}));
    Text returnedHeaders;
    Text returnedCookies;
    int status = 0;
    ComRequestArgs args;
    args.url = "http://sso.korvane.example/start";
    args.returnedHeaders = &returnedHeaders;
    args.returnedCookies = &returnedCookies;
    args.returnedStatus = &status;
    EXPECT_EQ(Str(ComHttpRequest(args)), "final");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(returnedHeaders, "Set-Cookie: f=2\r\nContent-Length: 5\r\nConnection: close");
    EXPECT_EQ(returnedCookies, "f=2");
    auto requests = net.plain.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Target(), "/final");
}

TEST_F(LoopbackTest, ComFailedExchangeReportsNothingAndMergesWithNothing) {
    Text cookies = "a=1; a=2; b=deleted";
    Text returnedCookies = "stale";
    Text returnedHeaders = "stale";
    int status = 99;
    std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
    ComRequestArgs args;
    args.url = url;
    args.cookies = &cookies;
    args.returnedCookies = &returnedCookies;
    args.returnedHeaders = &returnedHeaders;
    args.returnedStatus = &status;
    EXPECT_TRUE(ComHttpRequest(args).empty());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(returnedHeaders, "");
    EXPECT_EQ(returnedCookies, "");
    EXPECT_EQ(cookies, "a=1");
}

TEST_F(LoopbackTest, ComTimeoutOfTwoSecondsEndsASilentExchange) {
    net.plain.SetHandler([](const RecordedRequest&) {
        Reply reply;
        reply.stall = true;
        return reply;
    });
    int status = 99;
    ComRequestArgs args;
    args.url = "http://sso.korvane.example/silent";
    args.timeout = 2;
    args.returnedStatus = &status;
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ComHttpRequest(args).empty());
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(status, 0);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
    EXPECT_LT(elapsed, std::chrono::milliseconds(4500));
}

TEST_F(LoopbackTest, ComGoesThroughTheProxyWithCredentials) {
    RecordingServer proxy([](const RecordedRequest&) { return HttpReply(200, {}, "via proxy"); });
    std::string address = "127.0.0.1:" + std::to_string(proxy.Port());
    ComRequestArgs args;
    args.url = "http://elsewhere.example/p";
    args.proxy = address;
    args.proxyUser = "user";
    args.proxyPassword = "secret";
    EXPECT_EQ(Str(ComHttpRequest(args)), "via proxy");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].requestLine, "GET http://elsewhere.example/p HTTP/1.1");
    EXPECT_EQ(proxy.Requests()[0].Header("Proxy-Authorization"), "Basic dXNlcjpzZWNyZXQ=");
}

TEST_F(LoopbackTest, ComIgnoresAProxyUserWithoutAProxy) {
    ComRequestArgs args;
    args.url = "http://sso.korvane.example/direct";
    args.proxyUser = "user";
    args.proxyPassword = "secret";
    EXPECT_EQ(Str(ComHttpRequest(args)), "ok");
    ASSERT_EQ(net.plain.Requests().size(), 1u);
    EXPECT_EQ(net.plain.Requests()[0].HeaderCount("Proxy-Authorization"), 0u);
}

TEST_F(LoopbackTest, ComLeavesTheCallersObjectUsable) {
    std::unique_ptr<HttpRequestObject> object = CreateHttpRequestObject();
    ASSERT_NE(object, nullptr);
    net.plain.SetHandler(Script({HttpReply(200, {}, "first"), HttpReply(201, {}, "second")}));
    ComRequestArgs args;
    args.url = "http://sso.korvane.example/";
    args.requestObject = object.get();
    EXPECT_EQ(Str(ComHttpRequest(args)), "first");
    EXPECT_EQ(Str(ComHttpRequest(args)), "second");
    EXPECT_EQ(object->Status(), 201);
}

} // namespace
} // namespace kv::test
