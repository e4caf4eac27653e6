// The libcurl-backed session and request object on their own: time bounds, the body cap at its
// edge, and what the object does with the headers it is given.
#include "platform/curl_exchange.h"
#include "platform/http_request_object.h"
#include "platform/internet_session.h"
#include "tests/integration/loopback.h"

#include <chrono>

namespace kv::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct LimitCase {
    std::string name;
    InternetTimeouts timeouts;
    Reply reply;
};

Reply Stall() {
    Reply reply;
    reply.stall = true;
    return reply;
}

// A reply that keeps data moving, 200 bytes a second, for far longer than the test waits.
Reply Trickle() {
    Reply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
    reply.fillerBytes = 100000;
    reply.fillerChunk = 10;
    reply.pauseMs = 50;
    return reply;
}

class SessionLimits : public LoopbackTest, public testing::WithParamInterface<LimitCase> {};

TEST_P(SessionLimits, EndTheExchangeInTime) {
    const LimitCase& c = GetParam();
    net.plain.SetHandler([reply = c.reply](const RecordedRequest&) { return reply; });
    auto session = OpenInternetSession("agent", InternetOpenType::Direct, {}, {});
    session->SetTimeouts(c.timeouts);
    auto connection = session->Connect(RoutedHost, 80);
    auto request = connection->OpenRequest("GET", "/", "HTTP/1.1", InternetFlagReload);
    auto start = Clock::now();
    EXPECT_FALSE(request->Send("", {}));
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, milliseconds(800));
    EXPECT_LT(elapsed, milliseconds(3500));
    std::uint8_t buffer[16];
    EXPECT_EQ(request->Read(buffer), 0u);
    EXPECT_EQ(request->QueryRawHeaders(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionLimits,
                         testing::Values(LimitCase{"NoDataForASecond", {15000, 1000, 0}, Stall()},
                                         LimitCase{
                                             "WholeExchangeOverASecond", {15000, 30000, 1000}, Trickle()}),
                         [](const testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

TEST_F(LoopbackTest, RequestObjectTakesABodyUpToTheCapAndNotAByteMore) {
    for (std::size_t size : {curl::MaxBodyBytes, curl::MaxBodyBytes + 1}) {
        net.plain.SetHandler([size](const RecordedRequest&) {
            Reply reply;
            reply.bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"; // no length: read until the end
            reply.fillerBytes = size;
            return reply;
        });
        auto object = CreateHttpRequestObject();
        ASSERT_TRUE(object->Open("GET", "http://sso.korvane.example/edge", false));
        bool sent = object->Send({});
        EXPECT_EQ(sent, size == curl::MaxBodyBytes) << size;
        EXPECT_EQ(object->ResponseBody().size(), sent ? size : 0u);
        EXPECT_EQ(object->Status(), sent ? 200 : 0);
    }
}

TEST_F(LoopbackTest, RequestObjectReplacesRemovesAndRefusesHeaders) {
    auto object = CreateHttpRequestObject();
    ASSERT_TRUE(object->Open("GET", "http://sso.korvane.example/h", false));
    EXPECT_TRUE(object->SetRequestHeader("X-A", "1"));
    EXPECT_TRUE(object->SetRequestHeader("X-B", "2"));
    EXPECT_TRUE(object->SetRequestHeader("x-a", "3")); // replaces X-A where it stood
    EXPECT_TRUE(object->SetRequestHeader("X-B", ""));  // removes X-B
    EXPECT_TRUE(object->SetRequestHeader("Host", "sso.korvane.example"));
    EXPECT_FALSE(object->SetRequestHeader("", "v"));
    EXPECT_FALSE(object->SetRequestHeader("Bad Name", "v"));
    EXPECT_FALSE(object->SetRequestHeader("X-C", "1\r\nInjected: yes"));
    EXPECT_FALSE(object->SetRequestHeader("Content-Length", "99"));
    EXPECT_FALSE(object->SetOption(RequestOptionSslErrorIgnoreFlags, 0x3300));
    EXPECT_TRUE(object->Send({}));
    ASSERT_EQ(net.plain.Requests().size(), 1u);
    EXPECT_EQ(net.plain.Requests()[0].head, "GET /h HTTP/1.1\r\nHost: sso.korvane.example\r\nx-a: 3\r\n\r\n");
}

TEST_F(LoopbackTest, RequestObjectReportsHeadersWithoutTheStatusLine) {
    net.plain.SetHandler([](const RecordedRequest&) {
        return HttpReply(404, {"X-One: 1", "X-Two: 2"}, "gone");
    });
    auto object = CreateHttpRequestObject();
    ASSERT_TRUE(object->Open("GET", "http://sso.korvane.example/missing", false));
    EXPECT_TRUE(object->Send({}));
    EXPECT_EQ(object->Status(), 404);
    EXPECT_EQ(object->GetAllResponseHeaders(),
              "X-One: 1\r\nX-Two: 2\r\nContent-Length: 4\r\nConnection: close");
}

TEST_F(LoopbackTest, RequestObjectNeverFollowsFromTlsDownToPlainText) {
    net.tls.SetHandler([](const RecordedRequest&) {
        return HttpReply(302, {"Location: http://sso.korvane.example/plain"}, "moved");
    });
    auto object = CreateHttpRequestObject();
    ASSERT_TRUE(object->Open("GET", "https://sso.korvane.example/secure", false));
    object->Send({});
    EXPECT_TRUE(net.plain.Requests().empty());
}

} // namespace
} // namespace kv::test
