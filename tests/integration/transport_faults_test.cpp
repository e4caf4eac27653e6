// What both request routines do with hostile or broken replies: bad certificates, endless bodies,
// huge header blocks, redirect loops, and a proxy offered by the environment.
#include "http/com_request.h"
#include "http/wininet_request.h"
#include "tests/integration/loopback.h"

#include <cstdlib>

namespace kv::test {
namespace {

enum class Routine { WinInet, Com };

struct Outcome {
    std::string body;
    Text headers;
    Text cookies;
    int status = -1; // the first routine reports none

    // Everything a failed exchange leaves: no body, no header line, no cookie, status 0.
    bool Failed() const {
        bool noHeaders = headers.find("HTTP/") == std::string::npos && headers.find(':') == std::string::npos;
        return body.empty() && noHeaders && cookies.empty() && status <= 0;
    }
};

Outcome Exchange(Routine routine, const std::string& url) {
    Outcome outcome;
    Bytes body;
    if (routine == Routine::WinInet) {
        WinInetRequestArgs args;
        args.url = url;
        args.returnedHeaders = &outcome.headers;
        args.returnedCookies = &outcome.cookies;
        body = WinInetHttpRequest(args);
    } else {
        ComRequestArgs args;
        args.url = url;
        args.returnedHeaders = &outcome.headers;
        args.returnedCookies = &outcome.cookies;
        args.returnedStatus = &outcome.status;
        body = ComHttpRequest(args);
    }
    outcome.body.assign(body.begin(), body.end());
    return outcome;
}

std::string RoutineName(Routine routine) {
    return routine == Routine::WinInet ? "WinInet" : "Com";
}

class BothRoutines : public LoopbackTest, public testing::WithParamInterface<Routine> {};

// --- Certificates -----------------------------------------------------------------------------

struct CertificateCase {
    std::string name;
    bool trustedIssuer;
    std::vector<std::string> names;
    int validFromDays;
    int validToDays;
    bool accepted;
};

class Certificates : public LoopbackTest,
                     public testing::WithParamInterface<std::tuple<Routine, CertificateCase>> {};

TEST_P(Certificates, OnlyAGoodCertificateCarriesTheExchange) {
    auto [routine, c] = GetParam();
    TestAuthority stranger("somebody else's root");
    const TestAuthority& issuer = c.trustedIssuer ? net.authority : stranger;
    RecordingServer server(
        [](const RecordedRequest&) { return HttpReply(200, {"Set-Cookie: k=1"}, "secret"); },
        issuer.Issue(c.names, c.validFromDays, c.validToDays));
    Outcome outcome =
        Exchange(routine, "https://localhost:" + std::to_string(server.Port()) + "/user/loginsubmit");
    if (c.accepted) {
        EXPECT_EQ(outcome.body, "secret");
        EXPECT_EQ(outcome.cookies, "k=1");
    } else {
        EXPECT_TRUE(outcome.Failed()) << outcome.body << outcome.headers;
        EXPECT_TRUE(server.Requests().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Certificates,
    testing::Combine(testing::Values(Routine::WinInet, Routine::Com),
                     testing::Values(CertificateCase{"Good", true, {"localhost"}, -1, 30, true},
                                     CertificateCase{"Untrusted", false, {"localhost"}, -1, 30, false},
                                     CertificateCase{"Expired", true, {"localhost"}, -30, -1, false},
                                     CertificateCase{"WrongName", true, {"other.example"}, -1, 30, false})),
    [](const auto& info) { return RoutineName(std::get<0>(info.param)) + std::get<1>(info.param).name; });

// --- Bodies and header blocks -----------------------------------------------------------------

constexpr std::size_t FortyMiB = 40u << 20;

TEST_P(BothRoutines, RefuseAFortyMebibyteBodyWithoutReadingItAll) {
    for (bool declared : {true, false}) {
        net.plain.ClearRecords();
        net.plain.SetHandler([declared](const RecordedRequest&) {
            Reply reply;
            reply.bytes =
                "HTTP/1.1 200 OK\r\nSet-Cookie: big=1\r\n" +
                (declared ? "Content-Length: " + std::to_string(FortyMiB) + "\r\n" : std::string()) +
                "Connection: close\r\n\r\n";
            reply.fillerBytes = FortyMiB;
            return reply;
        });
        Outcome outcome = Exchange(GetParam(), "http://sso.korvane.example/big");
        EXPECT_TRUE(outcome.Failed()) << "declared length: " << declared;
        EXPECT_LT(net.plain.FillerBytesSent(), FortyMiB) << "declared length: " << declared;
    }
}

TEST_P(BothRoutines, KeepLargeHeaderBlocksWithTheirCookies) {
    for (int padLines : {60, 2500}) { // about 6 KB and 256 KiB
        std::vector<std::string> lines;
        for (int i = 0; i < padLines; ++i) {
            lines.push_back("X-Pad-" + std::to_string(i) + ": " + std::string(100, 'p'));
        }
        lines.push_back("Set-Cookie: late=1; path=/");
        net.plain.SetHandler([lines](const RecordedRequest&) { return HttpReply(200, lines, "ok"); });
        Outcome outcome = Exchange(GetParam(), "http://sso.korvane.example/");
        EXPECT_EQ(outcome.body, "ok");
        EXPECT_GT(outcome.headers.size(), padLines * 100u);
        EXPECT_EQ(outcome.cookies, "late=1");
    }
}

TEST_P(BothRoutines, FailOnAHeaderBlockBeyondOneMebibyte) {
    std::vector<std::string> lines{"Set-Cookie: a=1"};
    for (int i = 0; i < 1100; ++i) {
        lines.push_back("X-Pad-" + std::to_string(i) + ": " + std::string(1000, 'p'));
    }
    net.plain.SetHandler([lines](const RecordedRequest&) { return HttpReply(200, lines, "ok"); });
    EXPECT_TRUE(Exchange(GetParam(), "http://sso.korvane.example/").Failed());
}

// --- Redirects and proxies --------------------------------------------------------------------

TEST_P(BothRoutines, EndARedirectLoop) {
    net.plain.SetHandler([](const RecordedRequest&) { return HttpReply(302, {"Location: /loop"}); });
    EXPECT_TRUE(Exchange(GetParam(), "http://sso.korvane.example/loop").Failed());
    EXPECT_LE(net.plain.Requests().size(), 11u);
}

TEST_P(BothRoutines, IgnoreTheEnvironmentsProxy) {
    RecordingServer trap([](const RecordedRequest&) { return HttpReply(200, {}, "trap"); });
    std::string address = "http://127.0.0.1:" + std::to_string(trap.Port());
    const char* variables[] = {"http_proxy", "HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"};
    for (const char* name : variables) {
        setenv(name, address.c_str(), 1);
    }
    Outcome plain = Exchange(GetParam(), "http://sso.korvane.example/p");
    Outcome secure = Exchange(GetParam(), "https://sso.korvane.example/s");
    for (const char* name : variables) {
        unsetenv(name);
    }
    EXPECT_EQ(plain.body, "ok");
    EXPECT_EQ(secure.body, "ok");
    EXPECT_TRUE(trap.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, BothRoutines, testing::Values(Routine::WinInet, Routine::Com),
                         [](const auto& info) { return RoutineName(info.param); });

} // namespace
} // namespace kv::test
