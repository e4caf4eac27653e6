// libcurl backend of the internet session API.
#include "platform/curl_exchange.h"
#include "platform/internet_session.h"

#include <algorithm>
#include <cstring>

namespace kv {
namespace {

struct SessionSettings {
    std::string agent;
    std::string proxyList; // empty: direct
    InternetTimeouts timeouts;
};

std::string_view TrimHeaderSpace(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Every line becomes its own header, so nothing in the block can end the header section early.
std::vector<std::string> HeaderEntries(std::string_view block) {
    std::vector<std::string> entries;
    while (!block.empty()) {
        std::size_t end = block.find('\n');
        std::string_view line = block.substr(0, end);
        block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        if (auto entry = curl::HeaderEntry(TrimHeaderSpace(line.substr(0, colon)),
                                           TrimHeaderSpace(line.substr(colon + 1)))) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

// The host goes into a URL; anything that could change the URL's meaning makes the exchange fail.
bool IsPlainHost(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '-' || c == '_';
    });
}

class CurlInternetRequest final : public InternetRequest {
public:
    CurlInternetRequest(SessionSettings settings, std::string host, int port, std::string verb,
                        std::string path, std::uint32_t flags)
        : m_settings(std::move(settings)), m_host(std::move(host)), m_port(port), m_verb(std::move(verb)),
          m_path(std::move(path)), m_flags(flags) {}

    bool Send(std::string_view headerBlock, std::span<const std::uint8_t> body) override {
        m_result = {};
        m_readOffset = 0;
        if (!IsPlainHost(m_host)) {
            return false;
        }
        bool secure = (m_flags & InternetFlagSecure) != 0;
        int port = m_port != 0 ? m_port : (secure ? 443 : 80);

        curl::Exchange exchange;
        exchange.method = m_verb;
        exchange.url = (secure ? "https://" : "http://") + m_host + ":" + std::to_string(port) + m_path;
        exchange.headers = HeaderEntries(headerBlock);
        exchange.userAgent = m_settings.agent;
        exchange.body = body;
        exchange.proxy = curl::ProxyFor(m_settings.proxyList, secure);
        exchange.followRedirects = (m_flags & InternetFlagNoAutoRedirect) == 0;
        exchange.redirectToHttps = secure || (m_flags & InternetFlagIgnoreRedirectToHttps) != 0;
        exchange.redirectToHttp = !secure || (m_flags & InternetFlagIgnoreRedirectToHttp) != 0;
        exchange.limits = {m_settings.timeouts.connectMs, m_settings.timeouts.idleMs,
                           m_settings.timeouts.totalMs};
        m_result = curl::Perform(exchange);
        return m_result.ok;
    }

    std::size_t Read(std::span<std::uint8_t> buffer) override {
        std::size_t count = std::min(buffer.size(), m_result.body.size() - m_readOffset);
        if (count > 0) {
            std::memcpy(buffer.data(), m_result.body.data() + m_readOffset, count);
            m_readOffset += count;
        }
        return count;
    }

    std::optional<std::string> QueryRawHeaders() const override {
        if (!m_result.ok || m_result.headerLines.empty()) {
            return std::nullopt;
        }
        std::string raw;
        for (const std::string& line : m_result.headerLines) {
            raw += line;
            raw += "\r\n";
        }
        raw += "\r\n";
        return raw;
    }

private:
    SessionSettings m_settings;
    std::string m_host;
    int m_port;
    std::string m_verb;
    std::string m_path;
    std::uint32_t m_flags;
    curl::Result m_result;
    std::size_t m_readOffset = 0;
};

class CurlInternetConnection final : public InternetConnection {
public:
    CurlInternetConnection(SessionSettings settings, std::string host, int port)
        : m_settings(std::move(settings)), m_host(std::move(host)), m_port(port) {}

    std::unique_ptr<InternetRequest> OpenRequest(std::string_view verb, std::string_view path,
                                                 std::string_view version, std::uint32_t flags) override {
        if (!curl::IsHttpToken(verb) || (version != "HTTP/1.1" && version != "HTTP/1.0")) {
            return nullptr;
        }
        std::string target = path.empty() ? std::string("/") : std::string(path);
        return std::make_unique<CurlInternetRequest>(m_settings, m_host, m_port, std::string(verb),
                                                     std::move(target), flags);
    }

private:
    SessionSettings m_settings;
    std::string m_host;
    int m_port;
};

class CurlInternetSession final : public InternetSession {
public:
    explicit CurlInternetSession(SessionSettings settings) : m_settings(std::move(settings)) {}

    void SetTimeouts(const InternetTimeouts& timeouts) override { m_settings.timeouts = timeouts; }

    std::unique_ptr<InternetConnection> Connect(std::string_view host, int port) override {
        if (host.empty() || port < 0 || port > 65535) {
            return nullptr;
        }
        return std::make_unique<CurlInternetConnection>(m_settings, std::string(host), port);
    }

private:
    SessionSettings m_settings;
};

} // namespace

std::unique_ptr<InternetSession> OpenInternetSession(std::string_view agent, InternetOpenType type,
                                                     std::string_view proxyList,
                                                     std::string_view /*bypassList*/) {
    SessionSettings settings;
    settings.agent = agent;
    if (type == InternetOpenType::Proxy) {
        if (proxyList.empty()) {
            return nullptr;
        }
        settings.proxyList = proxyList;
    }
    return std::make_unique<CurlInternetSession>(std::move(settings));
}

} // namespace kv
