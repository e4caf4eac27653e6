#include "platform/curl_exchange.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace kv::curl {
namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

// Appends to the list; false when libcurl could not allocate.
bool Append(List& list, const std::string& entry) {
    curl_slist* grown = curl_slist_append(list.get(), entry.c_str());
    if (grown == nullptr) {
        return false;
    }
    list.release();
    list.reset(grown);
    return true;
}

// Test and demo routing, read once for the life of the process.
struct Routing {
    List connectTo;
    std::string caBundle;
    bool ok = true;
};

Routing ReadRouting() {
    Routing routing;
    if (const char* rules = std::getenv("KORVANE_CONNECT_TO")) {
        std::string_view rest(rules);
        while (!rest.empty()) {
            std::size_t comma = rest.find(',');
            std::string_view rule = rest.substr(0, comma);
            if (!rule.empty()) {
                routing.ok = Append(routing.connectTo, std::string(rule)) && routing.ok;
            }
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    if (const char* bundle = std::getenv("KORVANE_CA_BUNDLE")) {
        routing.caBundle = bundle;
    }
    return routing;
}

const Routing& GetRouting() {
    static const Routing routing = ReadRouting();
    return routing;
}

bool GlobalInit() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

// What the callbacks gather; only the final response survives.
struct Collector {
    std::vector<std::string> lines;
    std::size_t blockBytes = 0;
    std::vector<std::uint8_t> body;
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& collector = *static_cast<Collector*>(user);
    std::size_t length = size * count;
    std::string_view line(data, length);
    if (line.starts_with("HTTP/")) {
        // A new response begins: an interim one or a redirect came before it.
        collector.lines.clear();
        collector.blockBytes = 0;
        collector.body.clear();
    }
    collector.blockBytes += length;
    if (collector.blockBytes > MaxHeaderBlockBytes) {
        return 0;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (!line.empty()) {
        collector.lines.emplace_back(line);
    }
    return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& collector = *static_cast<Collector*>(user);
    std::size_t length = size * count;
    if (length > MaxBodyBytes - collector.body.size()) {
        return 0; // short count: libcurl ends the transfer with a write error
    }
    collector.body.insert(collector.body.end(), data, data + length);
    return length;
}

struct UploadCursor {
    std::span<const std::uint8_t> rest;
};

std::size_t OnUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto& cursor = *static_cast<UploadCursor*>(user);
    std::size_t n = std::min(size * count, cursor.rest.size());
    std::copy_n(cursor.rest.begin(), n, buffer);
    cursor.rest = cursor.rest.subspan(n);
    return n;
}

bool IsTokenChar(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

} // namespace

bool IsHttpToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (unsigned char c : text) {
        if (!IsTokenChar(c)) {
            return false;
        }
    }
    return true;
}

namespace {

std::string RedirectProtocols(const Exchange& exchange) {
    if (exchange.redirectToHttp && exchange.redirectToHttps) {
        return "http,https";
    }
    return exchange.redirectToHttps ? "https" : "http";
}

} // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> HeaderEntry(std::string_view name, std::string_view value) {
    if (!IsHttpToken(name) || EqualsIgnoreCase(name, "Content-Length") ||
        EqualsIgnoreCase(name, "Transfer-Encoding")) {
        return std::nullopt;
    }
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return std::nullopt;
    }
    std::string entry(name);
    if (value.empty()) {
        entry += ';';
    } else {
        entry += ": ";
        entry += value;
    }
    return entry;
}

std::string_view HeaderEntryName(std::string_view entry) {
    return entry.substr(0, entry.find_first_of(":;"));
}

std::string ProxyFor(std::string_view proxyList, bool secure) {
    std::string_view scheme = secure ? "https" : "http";
    std::string_view forAll;
    std::size_t pos = 0;
    while (pos < proxyList.size()) {
        std::size_t end = proxyList.find_first_of(" \t;", pos);
        if (end == std::string_view::npos) {
            end = proxyList.size();
        }
        std::string_view entry = proxyList.substr(pos, end - pos);
        pos = end + 1;
        if (entry.empty()) {
            continue;
        }
        std::size_t equals = entry.find('=');
        std::size_t schemeMark = entry.find("://");
        if (equals != std::string_view::npos && equals < schemeMark) {
            if (EqualsIgnoreCase(entry.substr(0, equals), scheme)) {
                return std::string(entry.substr(equals + 1));
            }
        } else if (forAll.empty()) {
            forAll = entry;
        }
    }
    return std::string(forAll);
}

Result Perform(const Exchange& exchange) {
    const Routing& routing = GetRouting();
    if (!GlobalInit() || !routing.ok) {
        return {};
    }
    EasyHandle easy(curl_easy_init());
    if (!easy) {
        return {};
    }
    CURL* h = easy.get();
    Collector collector;
    List headers;
    bool ok = true;

    bool hasAgent = false;
    bool hasAccept = false;
    bool hasContentType = false;
    bool hasExpect = false;
    for (const std::string& entry : exchange.headers) {
        std::string_view name = HeaderEntryName(entry);
        hasAgent = hasAgent || EqualsIgnoreCase(name, "User-Agent");
        hasAccept = hasAccept || EqualsIgnoreCase(name, "Accept");
        hasContentType = hasContentType || EqualsIgnoreCase(name, "Content-Type");
        hasExpect = hasExpect || EqualsIgnoreCase(name, "Expect");
        ok = Append(headers, entry) && ok;
    }
    // "Name:" keeps libcurl's own value of that header off the wire.
    if (!hasAccept) {
        ok = Append(headers, "Accept:") && ok;
    }
    if (!hasContentType) {
        ok = Append(headers, "Content-Type:") && ok;
    }
    if (!hasExpect) {
        ok = Append(headers, "Expect:") && ok;
    }

    ok = ok && curl_easy_setopt(h, CURLOPT_URL, exchange.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok =
        ok && curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
    bool agentIsClean = exchange.userAgent.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
    if (!hasAgent && !exchange.userAgent.empty() && agentIsClean) {
        ok = ok && curl_easy_setopt(h, CURLOPT_USERAGENT, exchange.userAgent.c_str()) == CURLE_OK;
    }

    // Certificates are always checked; the bundle, when named, replaces the system store.
    ok = ok && curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    if (!routing.caBundle.empty()) {
        ok = ok && curl_easy_setopt(h, CURLOPT_CAINFO, routing.caBundle.c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_CAPATH, static_cast<char*>(nullptr)) == CURLE_OK;
    }
    if (routing.connectTo) {
        ok = ok && curl_easy_setopt(h, CURLOPT_CONNECT_TO, routing.connectTo.get()) == CURLE_OK;
    }

    // An empty proxy string also keeps libcurl away from the *_proxy environment variables.
    ok = ok && curl_easy_setopt(h, CURLOPT_PROXY, exchange.proxy.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOPROXY, "") == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK;
    if (exchange.proxyCredentials) {
        ok = ok &&
             curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, exchange.proxyCredentials->user.c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, exchange.proxyCredentials->password.c_str()) ==
                       CURLE_OK;
    }
    if (exchange.serverCredentials) {
        ok =
            ok && curl_easy_setopt(h, CURLOPT_USERNAME, exchange.serverCredentials->user.c_str()) == CURLE_OK;
        ok = ok &&
             curl_easy_setopt(h, CURLOPT_PASSWORD, exchange.serverCredentials->password.c_str()) == CURLE_OK;
    }

    // The verb and the body. libcurl turns any request with NOBODY into a bodiless HEAD, so a
    // HEAD that carries a body goes as an upload; NOBODY still keeps it from waiting for a reply body.
    static const char emptyBody[] = "";
    bool isPost = exchange.method == "POST";
    bool isHead = exchange.method == "HEAD";
    bool sendBody = !exchange.body.empty() || isPost;
    UploadCursor upload{exchange.body};
    if (isHead) {
        ok = ok && curl_easy_setopt(h, CURLOPT_NOBODY, 1L) == CURLE_OK;
    }
    if (isHead && sendBody) {
        ok = ok && curl_easy_setopt(h, CURLOPT_UPLOAD, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE,
                                    static_cast<curl_off_t>(exchange.body.size())) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_READFUNCTION, &OnUpload) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_READDATA, &upload) == CURLE_OK;
    } else if (sendBody) {
        const void* data = exchange.body.empty() ? emptyBody : static_cast<const void*>(exchange.body.data());
        ok = ok && curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                    static_cast<curl_off_t>(exchange.body.size())) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_POSTFIELDS, data) == CURLE_OK;
    }
    if (!isPost && (sendBody || !(isHead || exchange.method == "GET"))) {
        ok = ok && curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, exchange.method.c_str()) == CURLE_OK;
    }

    ok = ok && curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, exchange.followRedirects ? 1L : 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L) == CURLE_OK;
    ok = ok &&
         curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, RedirectProtocols(exchange).c_str()) == CURLE_OK;

    const Limits& limits = exchange.limits;
    if (limits.connectMs > 0) {
        ok = ok &&
             curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectMs)) == CURLE_OK;
    }
    if (limits.idleMs > 0) {
        // libcurl measures a stall in whole seconds.
        long seconds = (static_cast<long>(limits.idleMs) + 999) / 1000;
        ok = ok && curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, seconds) == CURLE_OK;
    }
    if (limits.totalMs > 0) {
        ok = ok && curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalMs)) == CURLE_OK;
    }

    ok = ok &&
         curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxBodyBytes)) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HEADERDATA, &collector) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, &collector) == CURLE_OK;
    if (!ok || curl_easy_perform(h) != CURLE_OK) {
        return {};
    }

    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        return {};
    }
    Result result;
    result.ok = true;
    result.status = static_cast<int>(status);
    result.headerLines = std::move(collector.lines);
    result.body = std::move(collector.body);
    return result;
}

} // namespace kv::curl
