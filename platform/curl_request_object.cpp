// libcurl backend of the HTTP request object.
#include "platform/curl_exchange.h"
#include "platform/http_request_object.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace kv {
namespace {

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && curl::EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

class CurlRequestObject final : public HttpRequestObject {
public:
    bool SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) override {
        if (resolveMs < 0 || connectMs < 0 || sendMs < 0 || receiveMs < 0) {
            return false;
        }
        // libcurl times resolving and connecting as one phase, and a stall in either direction as one.
        m_limits.connectMs = connectMs == 0 ? 0
                                            : static_cast<int>(std::min<long long>(
                                                  static_cast<long long>(connectMs) + resolveMs, INT32_MAX));
        m_limits.idleMs = std::max(sendMs, receiveMs);
        return true;
    }

    bool SetProxy(int setting, std::string_view proxyList) override {
        if (setting == ProxySettingDirect) {
            m_proxyList.clear();
            return true;
        }
        if (setting != ProxySettingProxy || proxyList.empty()) {
            return false;
        }
        m_proxyList = proxyList;
        return true;
    }

    bool SetProxyCredentials(std::string_view user, std::string_view password, int forWhom) override {
        curl::Credentials credentials{std::string(user), std::string(password)};
        if (forWhom == CredentialsForServer) {
            m_serverCredentials = std::move(credentials);
        } else if (forWhom == CredentialsForProxy) {
            m_proxyCredentials = std::move(credentials);
        } else {
            return false;
        }
        return true;
    }

    bool Open(std::string_view method, std::string_view url, bool async) override {
        m_opened = false;
        m_headers.clear();
        m_result = {};
        if (async || !curl::IsHttpToken(method) || url.empty()) {
            return false;
        }
        m_method = method;
        m_url = url;
        m_opened = true;
        return true;
    }

    bool SetOption(int index, long value) override {
        if (index != RequestOptionEnableRedirects) {
            return false;
        }
        m_followRedirects = value != 0;
        return true;
    }

    bool SetRequestHeader(std::string_view name, std::string_view value) override {
        std::optional<std::string> entry = curl::HeaderEntry(name, value);
        if (!m_opened || !entry) {
            return false;
        }
        auto same = std::find_if(m_headers.begin(), m_headers.end(), [&](const std::string& held) {
            return curl::EqualsIgnoreCase(curl::HeaderEntryName(held), name);
        });
        if (value.empty()) {
            if (same != m_headers.end()) {
                m_headers.erase(same);
            }
        } else if (same != m_headers.end()) {
            *same = std::move(*entry);
        } else {
            m_headers.push_back(std::move(*entry));
        }
        return true;
    }

    bool Send(std::span<const std::uint8_t> body) override {
        m_result = {};
        if (!m_opened) {
            return false;
        }
        bool secure = StartsWithIgnoreCase(m_url, "https:");
        curl::Exchange exchange;
        exchange.method = m_method;
        exchange.url = m_url;
        exchange.headers = m_headers;
        exchange.body = body;
        exchange.proxy = curl::ProxyFor(m_proxyList, secure);
        if (!exchange.proxy.empty()) {
            exchange.proxyCredentials = m_proxyCredentials;
        }
        exchange.serverCredentials = m_serverCredentials;
        exchange.followRedirects = m_followRedirects;
        exchange.redirectToHttp = !secure; // never from TLS down to plain text
        exchange.redirectToHttps = true;
        exchange.limits = m_limits;
        m_result = curl::Perform(exchange);
        return m_result.ok;
    }

    std::vector<std::uint8_t> ResponseBody() const override { return m_result.body; }

    std::string GetAllResponseHeaders() const override {
        std::string block;
        for (std::size_t i = 1; i < m_result.headerLines.size(); ++i) {
            if (i > 1) {
                block += "\r\n";
            }
            block += m_result.headerLines[i];
        }
        return block;
    }

    int Status() const override { return m_result.status; }

private:
    // The Windows object's own limits until SetTimeouts says otherwise.
    curl::Limits m_limits{60000, 30000, 0};
    std::string m_proxyList;
    std::optional<curl::Credentials> m_proxyCredentials;
    std::optional<curl::Credentials> m_serverCredentials;
    bool m_followRedirects = true;
    bool m_opened = false;
    std::string m_method;
    std::string m_url;
    std::vector<std::string> m_headers;
    curl::Result m_result;
};

} // namespace

std::unique_ptr<HttpRequestObject> CreateHttpRequestObject() {
    return std::make_unique<CurlRequestObject>();
}

} // namespace kv
