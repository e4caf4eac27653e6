// One synchronous HTTP/1.1 exchange over libcurl, shared by the internet session and the request
// object. Whatever the caller asks for, certificate checks stay on, no proxy is taken from the
// environment, replies are capped and libcurl adds no Accept, Content-Type or Expect of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv::curl {

// A reply body beyond this ends the exchange as a failure.
constexpr std::size_t MaxBodyBytes = 32u << 20;
// The header block of one response beyond this ends the exchange as a failure. libcurl 7.88
// itself already refuses a response whose headers pass 300 KiB.
constexpr std::size_t MaxHeaderBlockBytes = 1u << 20;

// Time bounds in milliseconds; 0 leaves that bound off.
struct Limits {
    int connectMs = 0; // name resolution, TCP and TLS handshake together
    int idleMs = 0;    // no byte moving in either direction
    int totalMs = 0;   // the whole exchange, redirects included
};

struct Credentials {
    std::string user;
    std::string password;
};

struct Exchange {
    std::string method = "GET";
    std::string url; // absolute http or https URL
    // Request headers in their order, as made by HeaderEntry.
    std::vector<std::string> headers;
    // Sent as User-Agent unless the headers carry one; empty sends none.
    std::string userAgent;
    // Sent when not empty, and always (as Content-Length 0) for POST.
    std::span<const std::uint8_t> body;
    std::string proxy; // empty: direct
    std::optional<Credentials> proxyCredentials;
    std::optional<Credentials> serverCredentials;
    bool followRedirects = true;
    bool redirectToHttp = true;
    bool redirectToHttps = true;
    Limits limits;
};

struct Result {
    bool ok = false;
    int status = 0;
    // The final response's status line and header lines, without line ends.
    std::vector<std::string> headerLines;
    std::vector<std::uint8_t> body;
};

// Failure of any kind yields ok false, status 0, no headers and no body.
Result Perform(const Exchange& exchange);

// A header as a libcurl list entry: "Name: value", or "Name;" for an empty value (libcurl reads
// "Name:" as "drop that header"). Nothing for a name that is not an HTTP token, a value that
// holds a line break, or a framing header the layer owns (Content-Length, Transfer-Encoding).
std::optional<std::string> HeaderEntry(std::string_view name, std::string_view value);
// The name of an entry made by HeaderEntry.
std::string_view HeaderEntryName(std::string_view entry);

// The proxy that a proxy list ("addr", "http=addr", "https=addr", separated by blanks or ";")
// names for one scheme; empty when none applies.
std::string ProxyFor(std::string_view proxyList, bool secure);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool IsHttpToken(std::string_view text);

} // namespace kv::curl
