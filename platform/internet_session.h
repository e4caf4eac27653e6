// Internet session API: session -> connection -> request -> send -> chunked reads -> raw headers.
// Shaped like the Windows internet API so the first request routine reads step by step; closing
// a handle is destroying it. The backend is libcurl (OpenInternetSession).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kv {

// Request flags, with the values of the Windows internet API.
constexpr std::uint32_t InternetFlagReload = 0x80000000u;
constexpr std::uint32_t InternetFlagNeedFile = 0x00000010u;
constexpr std::uint32_t InternetFlagNoCookies = 0x00080000u;
constexpr std::uint32_t InternetFlagNoAutoRedirect = 0x00200000u;
constexpr std::uint32_t InternetFlagSecure = 0x00800000u;
constexpr std::uint32_t InternetFlagIgnoreRedirectToHttps = 0x00004000u;
constexpr std::uint32_t InternetFlagIgnoreRedirectToHttp = 0x00008000u;

enum class InternetOpenType { Direct = 1, Proxy = 3 };

// Time bounds of every exchange of a session, in milliseconds; 0 leaves one off.
struct InternetTimeouts {
    int connectMs = 0;
    int idleMs = 0; // no data moving
    int totalMs = 0;
};

class InternetRequest {
public:
    virtual ~InternetRequest() = default;
    // Runs the whole exchange. The header block is lines joined by "\r\n"; empty lines and lines
    // that are no valid header are left out. False when the exchange failed; the reads and the
    // header query then report nothing.
    virtual bool Send(std::string_view headerBlock, std::span<const std::uint8_t> body) = 0;
    // Copies the next body bytes; 0 at the end of the body and after any failure.
    virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;
    // Status line and header lines of the final response, each ending in "\r\n", and an empty
    // line; nothing when no response arrived.
    virtual std::optional<std::string> QueryRawHeaders() const = 0;
};

class InternetConnection {
public:
    virtual ~InternetConnection() = default;
    // Null for a verb that is no HTTP token or a version other than HTTP/1.x. A secure flag
    // selects TLS; port 0 is the scheme's default.
    virtual std::unique_ptr<InternetRequest> OpenRequest(std::string_view verb, std::string_view path,
                                                         std::string_view version, std::uint32_t flags) = 0;
};

class InternetSession {
public:
    virtual ~InternetSession() = default;
    virtual void SetTimeouts(const InternetTimeouts& timeouts) = 0;
    // Null for an empty host or a port outside 0..65535. Nothing goes on the wire yet.
    virtual std::unique_ptr<InternetConnection> Connect(std::string_view host, int port) = 0;
};

// The agent is sent as User-Agent unless a request's header block carries one. Direct ignores
// every system and environment proxy; Proxy takes a list of "addr", "http=addr", "https=addr".
// The bypass list is accepted for the shape of the call; the backend bypasses nothing.
std::unique_ptr<InternetSession> OpenInternetSession(std::string_view agent, InternetOpenType type,
                                                     std::string_view proxyList, std::string_view bypassList);

} // namespace kv
