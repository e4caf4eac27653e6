// HTTP request object, shaped like the Windows HTTP request object the second request routine
// drives: limits and proxy, then Open, options, headers, Send, and the reads of the response.
// Failures never throw; they show as false results, an empty body, no headers and status 0.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Option indexes and credential targets, with the values of the Windows object.
constexpr int RequestOptionEnableRedirects = 6;
constexpr int RequestOptionSslErrorIgnoreFlags = 4;
constexpr int ProxySettingDirect = 1;
constexpr int ProxySettingProxy = 2;
constexpr int CredentialsForServer = 0;
constexpr int CredentialsForProxy = 1;

class HttpRequestObject {
public:
    virtual ~HttpRequestObject() = default;

    // Milliseconds for name resolution, connecting, sending and receiving; 0 means no limit.
    virtual bool SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) = 0;
    // ProxySettingProxy with a proxy list ("addr", "http=addr", "https=addr"), or
    // ProxySettingDirect. No system or environment proxy is ever used.
    virtual bool SetProxy(int setting, std::string_view proxyList) = 0;
    virtual bool SetProxyCredentials(std::string_view user, std::string_view password, int forWhom) = 0;
    // Prepares a request and forgets the previous request's headers and response. Only
    // synchronous requests are supported.
    virtual bool Open(std::string_view method, std::string_view url, bool async) = 0;
    // "Option": RequestOptionEnableRedirects (0 off, else on). Certificate errors cannot be
    // ignored: RequestOptionSslErrorIgnoreFlags and every other index are refused.
    virtual bool SetOption(int index, long value) = 0;
    // Replaces any earlier value of that name (letter case ignored) and the layer's own; an
    // empty value removes the header. An empty or invalid name, or a value with a line
    // break, is refused.
    virtual bool SetRequestHeader(std::string_view name, std::string_view value) = 0;
    // Runs the exchange with the body, following redirects unless switched off. Text bodies are
    // handed over as their bytes on the wire.
    virtual bool Send(std::span<const std::uint8_t> body) = 0;

    virtual std::vector<std::uint8_t> ResponseBody() const = 0;
    // The final response's header lines without the status line, joined by "\r\n".
    virtual std::string GetAllResponseHeaders() const = 0;
    virtual int Status() const = 0;
};

// The libcurl-backed object; null when one cannot be made.
std::unique_ptr<HttpRequestObject> CreateHttpRequestObject();

} // namespace kv
