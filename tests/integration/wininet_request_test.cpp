// The first request routine against loopback servers that record every request byte.
#include "http/wininet_request.h"
#include "tests/integration/loopback.h"

#include <chrono>

namespace kv::test {
namespace {

const std::string Agent = "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n";
const std::string Defaults = "Accept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\n";

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

struct WireCase {
    std::string name;
    std::string url;
    int method;
    std::string bodyText;
    std::optional<Text> cookies;
    std::optional<Text> requestHeaders;
    std::string expectedHead;
    Text expectedRequestHeaders; // the caller's variable afterwards
};

class WinInetWire : public LoopbackTest, public testing::WithParamInterface<WireCase> {};

TEST_P(WinInetWire, SendsTheCompletedBlockByteForByte) {
    const WireCase& c = GetParam();
    Text cookies = c.cookies.value_or("");
    Text headers = c.requestHeaders.value_or("");
    WinInetRequestArgs args;
    args.url = c.url;
    args.method = c.method;
    args.bodyText = c.bodyText;
    args.cookiesToSend = c.cookies ? &cookies : nullptr;
    args.requestHeaders = &headers;
    EXPECT_EQ(Str(WinInetHttpRequest(args)), "ok");
    auto requests = net.plain.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].head, c.expectedHead);
    EXPECT_EQ(headers, c.expectedRequestHeaders);
}

const std::string Url = "http://sso.korvane.example/verify/emailreg?1426470650";
const std::string Ref = "Referer: " + Url + "\r\n";
const std::string Head = "GET /verify/emailreg?1426470650 HTTP/1.1\r\nHost: sso.korvane.example\r\n";
const Text DefaultBlock = "Accept: */*\r\nReferer: " + Url +
                          "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded";

INSTANTIATE_TEST_SUITE_P(
    Cases, WinInetWire,
    testing::Values(
        WireCase{"PlainGet", Url, 0, "", std::nullopt, std::nullopt,
                 Head + Agent + "Accept: */*\r\n" + Ref + Defaults + "\r\n", DefaultBlock},
        // The Cookie line comes last, even after a Cookie line of the caller's.
        WireCase{
            "PostWithCookies", "http://sso.korvane.example/user/emailRegSubmit", 1, "a=1&b=2",
            Text("c=1; d=2"), Text("Cookie: x=9"),
            "POST /user/emailRegSubmit HTTP/1.1\r\nHost: sso.korvane.example\r\n" + Agent +
                "Cookie: x=9\r\nAccept: */*\r\nReferer: http://sso.korvane.example/user/emailRegSubmit\r\n" +
                Defaults + "Cookie: c=1; d=2\r\nContent-Length: 7\r\n\r\n",
            "Cookie: x=9\r\nAccept: */*\r\nReferer: http://sso.korvane.example/user/emailRegSubmit\r\n"
            "Accept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\nCookie: c=1; d=2"},
        WireCase{"CallerAcceptNoSecondAccept", Url, 0, "", std::nullopt, Text("Accept: text/html"),
                 Head + Agent + "Accept: text/html\r\n" + Ref + Defaults + "\r\n",
                 "Accept: text/html\r\nReferer: " + Url +
                     "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded"},
        // The agent found with case ignored is the one line's value; it is sent once.
        WireCase{"LowerCaseUserAgentLine", Url, 0, "", std::nullopt, Text("user-agent: Foo/1.0"),
                 Head + "user-agent: Foo/1.0\r\nAccept: */*\r\n" + Ref + Defaults + "\r\n",
                 "user-agent: Foo/1.0\r\n" + DefaultBlock},
        // The block's trailing line break leaves an empty line, which never reaches the wire.
        WireCase{"UserAgentAmongLines", Url, 0, "", std::nullopt, Text("X: 1\r\nUser-Agent: Foo/1.0\r\n"),
                 Head + "X: 1\r\nUser-Agent: Foo/1.0\r\nAccept: */*\r\n" + Ref + Defaults + "\r\n",
                 "X: 1\r\nUser-Agent: Foo/1.0\r\n\r\n" + DefaultBlock},
        // A line that would end the header section early, or smuggle one, is dropped.
        WireCase{"NoLineInjection", Url, 0, "", std::nullopt,
                 Text("X: 1\r\n\r\nGET /evil HTTP/1.1\nY: 2\rZ: 3"),
                 Head + Agent + "X: 1\r\nAccept: */*\r\n" + Ref + Defaults + "\r\n",
                 "X: 1\r\n\r\nGET /evil HTTP/1.1\nY: 2\rZ: 3\r\n" + DefaultBlock}),
    [](const testing::TestParamInfo<WireCase>& info) { return info.param.name; });

struct BodyCase {
    std::string name;
    int method;
    std::string bodyText;
    std::optional<std::string> bodyBytes;
    std::string wireMethod;
    std::optional<std::string> wireBody; // nothing: no Content-Length at all
};

class WinInetBodies : public LoopbackTest, public testing::WithParamInterface<BodyCase> {};

TEST_P(WinInetBodies, MethodAndBodyOnTheWire) {
    const BodyCase& c = GetParam();
    Bytes bytes = ToBytes(c.bodyBytes.value_or(""));
    WinInetRequestArgs args;
    args.url = "http://sso.korvane.example/b";
    args.method = c.method;
    args.bodyText = c.bodyText;
    args.bodyBytes = c.bodyBytes ? &bytes : nullptr;
    // A HEAD reply declares a length it does not send; the routine must not wait for it.
    net.plain.SetHandler([](const RecordedRequest& r) {
        Reply reply = HttpReply(200, {}, "body");
        if (r.Method() == "HEAD") {
            reply.bytes.resize(reply.bytes.size() - 4);
        }
        return reply;
    });
    auto start = std::chrono::steady_clock::now();
    Bytes result = WinInetHttpRequest(args);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    auto requests = net.plain.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Method(), c.wireMethod);
    EXPECT_EQ(requests[0].HeaderCount("Expect"), 0u);
    EXPECT_EQ(Str(result), c.wireMethod == "HEAD" ? "" : "body");
    if (c.wireBody) {
        EXPECT_EQ(requests[0].body, *c.wireBody);
        EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(c.wireBody->size()));
    } else {
        EXPECT_EQ(requests[0].body, "");
        EXPECT_EQ(requests[0].HeaderCount("Content-Length"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WinInetBodies,
    testing::Values(
        BodyCase{"Method3IsGet", 3, "t=1", std::nullopt, "GET", std::nullopt},
        BodyCase{"MinusOneIsGet", -1, "t=1", std::nullopt, "GET", std::nullopt},
        BodyCase{"GetSendsNoBody", 0, "t=1", std::string("b"), "GET", std::nullopt},
        BodyCase{"EmptyPost", 1, "", std::nullopt, "POST", std::string("")},
        BodyCase{"PostText", 1, "t=1", std::nullopt, "POST", std::string("t=1")},
        BodyCase{"BytesWinOverText", 1, "t=1", std::string("raw\0x", 5), "POST", std::string("raw\0x", 5)},
        BodyCase{"HeadSendsItsBody", 2, "t=1", std::nullopt, "HEAD", std::string("t=1")},
        // Large enough that libcurl would otherwise ask for "100-continue" and wait.
        BodyCase{"LargePost", 1, std::string(2 << 20, 'a'), std::nullopt, "POST", std::string(2 << 20, 'a')}),
    [](const testing::TestParamInfo<BodyCase>& info) { return info.param.name; });

TEST_F(LoopbackTest, WinInetPostWritesTheBodyTextIntoTheCallersBytes) {
    Bytes bytes;
    WinInetRequestArgs args;
    args.url = "http://sso.korvane.example/b";
    args.method = 1;
    args.bodyText = "t=1";
    args.bodyBytes = &bytes;
    WinInetHttpRequest(args);
    EXPECT_EQ(Str(bytes), "t=1");
}

TEST_F(LoopbackTest, WinInetUpperCaseHttpsGoesOverTlsToPort443) {
    net.tls.SetHandler(
        [](const RecordedRequest&) { return HttpReply(200, {"Set-Cookie: s=1; Secure"}, "secure"); });
    Text returned;
    WinInetRequestArgs args;
    args.url = "HTTPS://SSO.korvane.example/user/loginsubmit";
    args.returnedCookies = &returned;
    EXPECT_EQ(Str(WinInetHttpRequest(args)), "secure");
    EXPECT_EQ(returned, "s=1");
    ASSERT_EQ(net.tls.Requests().size(), 1u);
    EXPECT_EQ(net.tls.Requests()[0].Header("Host"), "sso.korvane.example");
    EXPECT_TRUE(net.plain.Requests().empty());
}

TEST_F(LoopbackTest, WinInetNoRedirectReturnsTheRedirectWithItsCookies) {
    net.plain.SetHandler(Script({HttpReply(302, {"Location: /next", "Set-Cookie: r=1; path=/"}, "moved")}));
    Text cookies;
    Text returnedCookies;
    Text returnedHeaders;
    WinInetRequestArgs args;
    args.url = "http://sso.korvane.example/login";
    args.cookiesToSend = &cookies;
    args.returnedCookies = &returnedCookies;
    args.returnedHeaders = &returnedHeaders;
    args.noRedirect = true;
    EXPECT_EQ(Str(WinInetHttpRequest(args)), "moved");
    EXPECT_EQ(net.plain.Requests().size(), 1u);
    EXPECT_TRUE(returnedHeaders.starts_with("HTTP/1.1 302 Scripted\r\n")) << returnedHeaders;
    EXPECT_EQ(returnedCookies, "r=1");
    EXPECT_EQ(cookies, "r=1");
}

TEST_F(LoopbackTest, WinInetFollowsRedirectsToHttpsAndReportsTheFinalHeaders) {
    net.plain.SetHandler(
        Script({HttpReply(302, {"Location: https://sso.korvane.example/final", "Set-Cookie: r=1"})}));
    net.tls.SetHandler([](const RecordedRequest&) { return HttpReply(200, {"Set-Cookie: f=2"}, "final"); });
    Text returnedCookies;
    Text returnedHeaders;
    WinInetRequestArgs args;
    args.url = "http://sso.korvane.example/start";
    args.returnedCookies = &returnedCookies;
    args.returnedHeaders = &returnedHeaders;
    EXPECT_EQ(Str(WinInetHttpRequest(args)), "final");
    EXPECT_EQ(returnedHeaders,
              "HTTP/1.1 200 Scripted\r\nSet-Cookie: f=2\r\nContent-Length: 5\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(returnedCookies, "f=2");
    ASSERT_EQ(net.tls.Requests().size(), 1u);
    EXPECT_EQ(net.tls.Requests()[0].Target(), "/final");
}

struct CookieCase {
    std::string name;
    std::optional<Text> cookiesToSend;
    std::optional<std::string> wireCookie;
    Text cookiesAfter;
    Text returnedAfter;
};

class WinInetCookies : public LoopbackTest, public testing::WithParamInterface<CookieCase> {};

TEST_P(WinInetCookies, SuppliedOrOmitted) {
    const CookieCase& c = GetParam();
    net.plain.SetHandler(
        [](const RecordedRequest&) { return HttpReply(200, {"Set-Cookie: n = 1; path=/"}); });
    Text cookies = c.cookiesToSend.value_or("untouched");
    Text returned;
    WinInetRequestArgs args;
    args.url = "http://sso.korvane.example/c";
    args.cookiesToSend = c.cookiesToSend ? &cookies : nullptr;
    args.returnedCookies = &returned;
    WinInetHttpRequest(args);
    ASSERT_EQ(net.plain.Requests().size(), 1u);
    EXPECT_EQ(net.plain.Requests()[0].Header("Cookie"), c.wireCookie);
    EXPECT_EQ(cookies, c.cookiesAfter);
    EXPECT_EQ(returned, c.returnedAfter);
}

INSTANTIATE_TEST_SUITE_P(Cases, WinInetCookies,
                         testing::Values(
                             // Omitted: no Cookie line and no merge, so the collected item keeps its blanks.
                             CookieCase{"Omitted", std::nullopt, std::nullopt, "untouched", "n = 1"},
                             CookieCase{"SuppliedEmpty", Text(""), std::nullopt, "n=1", "n=1"},
                             CookieCase{"Supplied", Text("a=1;  n=0; a=2"), std::string("a=1;  n=0; a=2"),
                                        "n=1; a=1", "n=1"}),
                         [](const testing::TestParamInfo<CookieCase>& info) { return info.param.name; });

TEST_F(LoopbackTest, WinInetLeavesEverythingAloneWhenTheConnectionCannotBeOpened) {
    for (std::string url : {"", "http://:8080/x"}) {
        Text cookies = " a=1";
        Text returnedCookies = "rc";
        Text requestHeaders = "X: 1";
        Text returnedHeaders = "rh";
        Bytes body = ToBytes("keep");
        WinInetRequestArgs args;
        args.url = url;
        args.method = 1;
        args.bodyText = "t=1";
        args.cookiesToSend = &cookies;
        args.returnedCookies = &returnedCookies;
        args.requestHeaders = &requestHeaders;
        args.returnedHeaders = &returnedHeaders;
        args.bodyBytes = &body;
        EXPECT_TRUE(WinInetHttpRequest(args).empty()) << url;
        EXPECT_EQ(cookies, " a=1");
        EXPECT_EQ(returnedCookies, "rc");
        EXPECT_EQ(requestHeaders, "X: 1");
        EXPECT_EQ(returnedHeaders, "rh");
        EXPECT_EQ(Str(body), "keep");
    }
}

TEST_F(LoopbackTest, WinInetFailedExchangeStillMergesWithNothing) {
    Text cookies = "a=1; a=2; b=deleted";
    Text returnedCookies = "stale";
    Text returnedHeaders;
    WinInetRequestArgs args;
    std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
    args.url = url;
    args.cookiesToSend = &cookies;
    args.returnedCookies = &returnedCookies;
    args.returnedHeaders = &returnedHeaders;
    EXPECT_TRUE(WinInetHttpRequest(args).empty());
    // The header query finds nothing, so the prepared buffer of blanks is what comes back.
    EXPECT_EQ(returnedHeaders, std::string(5000, ' '));
    EXPECT_EQ(returnedCookies, "");
    EXPECT_EQ(cookies, "a=1");
}

TEST_F(LoopbackTest, WinInetSendsHttpThroughTheHttpOnlyProxy) {
    RecordingServer proxy([](const RecordedRequest&) { return HttpReply(200, {}, "via proxy"); });
    WinInetRequestArgs args;
    args.url = "http://elsewhere.example:8080/p?q=1";
    std::string address = "127.0.0.1:" + std::to_string(proxy.Port());
    args.proxy = address;
    EXPECT_EQ(Str(WinInetHttpRequest(args)), "via proxy");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].requestLine, "GET http://elsewhere.example:8080/p?q=1 HTTP/1.1");
}

} // namespace
} // namespace kv::test
