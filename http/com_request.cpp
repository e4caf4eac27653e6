#include "http/com_request.h"

#include "http/cookies.h"
#include "http/request_defaults.h"
#include "platform/http_request_object.h"
#include "text/codepage.h"
#include "text/extract.h"

#include <climits>

namespace kv {
namespace {

constexpr int DefaultTimeoutMs = 15000;

int TimeoutMs(int seconds) {
    if (seconds < 1) {
        return DefaultTimeoutMs;
    }
    return seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
}

void SetHeaderLine(HttpRequestObject& object, std::string_view line) {
    object.SetRequestHeader(HeaderLineName(line), HeaderLineValue(line));
}

} // namespace

Bytes ComHttpRequest(const ComRequestArgs& args) {
    const int method = NormaliseMethod(args.method);

    std::unique_ptr<HttpRequestObject> ownObject;
    HttpRequestObject* object = args.requestObject;
    if (object == nullptr) {
        ownObject = CreateHttpRequestObject();
        object = ownObject.get();
        if (object == nullptr) {
            return {};
        }
    }

    if (args.timeout != -1) {
        int ms = TimeoutMs(args.timeout);
        object->SetTimeouts(ms, ms, ms, ms);
    }
    if (!args.proxy.empty()) {
        object->SetProxy(ProxySettingProxy, args.proxy);
        if (!args.proxyUser.empty()) {
            object->SetProxyCredentials(args.proxyUser, args.proxyPassword, args.proxyCredentialsFlag);
        }
    }
    object->Open(MethodName(method), args.url, false);
    if (args.noRedirect) {
        object->SetOption(RequestOptionEnableRedirects, 0);
    }
    // Certificate errors are never ignored: the login form carries the password over TLS.

    Text headerBlock = CompleteHeaderBlock(args.headers ? *args.headers : Text(), args.url, true);
    if (args.headers) {
        *args.headers = headerBlock;
    }
    if (args.cookies && !args.cookies->empty()) {
        object->SetRequestHeader("Cookie", *args.cookies);
    }
    if (FindText(headerBlock, "\r\n") == -1) {
        SetHeaderLine(*object, headerBlock);
    } else {
        for (const Text& line : SplitText(headerBlock, "\r\n")) {
            if (!line.empty()) {
                SetHeaderLine(*object, line);
            }
        }
    }

    if (args.postBytes && !args.postBytes->empty()) {
        object->Send(*args.postBytes);
    } else {
        // Text goes on the wire as UTF-8, so whatever the user typed arrives intact.
        std::string utf8 = TextToUtf8(args.postText);
        object->Send(std::span(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
    }

    Bytes body = object->ResponseBody();
    Text ownHeaders;
    Text& returnedHeaders = args.returnedHeaders ? *args.returnedHeaders : ownHeaders;
    returnedHeaders = object->GetAllResponseHeaders();
    int status = object->Status();
    if (args.returnedStatus) {
        *args.returnedStatus = status;
    }

    Text ownReturnedCookies;
    Text& returnedCookies = args.returnedCookies ? *args.returnedCookies : ownReturnedCookies;
    CollectSetCookies(returnedHeaders, returnedCookies);
    Text ownCookies;
    MergeCookies(args.cookies ? *args.cookies : ownCookies, returnedCookies);
    return body;
}

} // namespace kv
