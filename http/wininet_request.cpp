#include "http/wininet_request.h"

#include "http/cookies.h"
#include "http/request_defaults.h"
#include "http/url.h"
#include "platform/internet_session.h"
#include "text/extract.h"

namespace kv {
namespace {

// The Windows API sets no limits here and the window freezes meanwhile, so every exchange is bounded.
constexpr InternetTimeouts ExchangeLimits{15000, 30000, 120000};
constexpr int ReadChunk = 1024;
constexpr int HeaderBufferLength = 5000;

Text SessionAgent(std::string_view requestHeaders) {
    if (FindText(requestHeaders, "User-Agent:", std::nullopt, true) == -1) {
        return Text(DefaultAgent);
    }
    Text agent = TrimText(TextBetween(requestHeaders, "User-Agent:", "\r\n"));
    if (agent.empty()) {
        agent = HeaderLineValue(requestHeaders);
    }
    return agent;
}

} // namespace

Bytes WinInetHttpRequest(const WinInetRequestArgs& args) {
    const int method = NormaliseMethod(args.method);
    const bool secure = ToLowerText(TextLeft(args.url, 5)) == "https";
    const Text callerHeaders = args.requestHeaders ? *args.requestHeaders : Text();
    const Text agent = SessionAgent(callerHeaders);

    std::unique_ptr<InternetSession> session;
    if (args.proxy.empty()) {
        session = OpenInternetSession(agent, InternetOpenType::Direct, {}, {});
    } else {
        Text proxyList = secure ? Text(args.proxy) : JoinText({"http=", args.proxy});
        session = OpenInternetSession(agent, InternetOpenType::Proxy, proxyList, "");
    }
    if (!session) {
        return {};
    }
    session->SetTimeouts(ExchangeLimits);

    std::unique_ptr<InternetConnection> connection = session->Connect(UrlHost(args.url), UrlPort(args.url));
    if (!connection) {
        return {};
    }

    auto flag = [](std::uint32_t value) { return static_cast<std::int32_t>(value); };
    std::int32_t flags = BitOr({flag(InternetFlagReload), flag(InternetFlagNeedFile)});
    if (args.cookiesToSend) {
        flags = BitOr({flags, flag(InternetFlagNoCookies)});
    }
    if (args.noRedirect) {
        flags = BitOr({flags, flag(InternetFlagNoAutoRedirect)});
    }
    flags = BitOr({flags, flag(secure ? InternetFlagSecure : InternetFlagIgnoreRedirectToHttps)});

    std::unique_ptr<InternetRequest> request = connection->OpenRequest(
        MethodName(method), UrlPath(args.url), "HTTP/1.1", static_cast<std::uint32_t>(flags));
    if (!request) {
        return {};
    }

    // From here on the caller's variables are written.
    Text headerBlock = CompleteHeaderBlock(callerHeaders, args.url, false);
    if (args.cookiesToSend && !args.cookiesToSend->empty()) {
        headerBlock = JoinText({headerBlock, "\r\nCookie: ", *args.cookiesToSend});
    }
    if (args.requestHeaders) {
        *args.requestHeaders = headerBlock;
    }

    if (method == 0) {
        request->Send(headerBlock, {});
    } else {
        Bytes ownBody;
        Bytes& body = args.bodyBytes ? *args.bodyBytes : ownBody;
        if (body.empty()) {
            body = TextToBytes(args.bodyText);
        }
        request->Send(headerBlock, body);
    }

    Bytes body;
    Bytes buffer = BlankBytes(ReadChunk);
    while (std::size_t count = request->Read(buffer)) {
        body.insert(body.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
    }

    Text ownHeaders;
    Text& returnedHeaders = args.returnedHeaders ? *args.returnedHeaders : ownHeaders;
    returnedHeaders = BlankText(HeaderBufferLength);
    if (std::optional<std::string> raw = request->QueryRawHeaders()) {
        returnedHeaders = raw->substr(0, raw->find('\0'));
    }

    request.reset();
    connection.reset();
    session.reset();

    Text ownCookies;
    Text& returnedCookies = args.returnedCookies ? *args.returnedCookies : ownCookies;
    CollectSetCookies(returnedHeaders, returnedCookies);
    if (args.cookiesToSend) {
        MergeCookies(*args.cookiesToSend, returnedCookies);
    }
    return body;
}

} // namespace kv
