#include "sim_support.h"

#include <memory>

namespace kv::sim::testing {

namespace {

struct EasyFree {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Sink {
    std::string* text;
    std::size_t keep;
    std::size_t* count;
};

std::size_t Collect(char* data, std::size_t size, std::size_t items, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t length = size * items;
    if (sink->text->size() < sink->keep) {
        sink->text->append(data, std::min(length, sink->keep - sink->text->size()));
    }
    if (sink->count != nullptr) {
        *sink->count += length;
    }
    return size * items;
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool NameIs(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':') {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) !=
            std::tolower(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> HeaderValues(const std::string& block, std::string_view name) {
    std::vector<std::string> values;
    for (std::string line : Split(block, '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (NameIs(line, name)) {
            std::string value = line.substr(name.size() + 1);
            value.erase(0, value.find_first_not_of(' '));
            values.push_back(value);
        }
    }
    return values;
}

} // namespace

std::vector<std::string> Exchange::SetCookies() const {
    std::vector<std::string> items;
    for (const auto& value : HeaderValues(headers, "Set-Cookie")) {
        items.push_back(value.substr(0, value.find(';')));
    }
    return items;
}

std::string Exchange::Header(std::string_view name) const {
    const auto values = HeaderValues(headers, name);
    return values.empty() ? std::string{} : values.front();
}

Client::Client(const Endpoints& endpoints)
    : m_connectTo(Split(endpoints.connectTo, ',')), m_caBundle(endpoints.caBundle) {}

Exchange Client::Send(const Call& call) const {
    Exchange exchange;
    std::unique_ptr<CURL, EasyFree> easy(curl_easy_init());
    if (!easy) {
        exchange.code = CURLE_FAILED_INIT;
        return exchange;
    }
    std::unique_ptr<curl_slist, ListFree> routes;
    for (const auto& rule : m_connectTo) {
        routes.reset(curl_slist_append(routes.release(), rule.c_str()));
    }
    std::unique_ptr<curl_slist, ListFree> headers;
    for (const auto& line : call.headers) {
        headers.reset(curl_slist_append(headers.release(), line.c_str()));
    }
    Sink headerSink{&exchange.headers, SIZE_MAX, nullptr};
    Sink bodySink{&exchange.body, call.keepBytes, &exchange.bodyBytes};
    CURL* h = easy.get();
    curl_easy_setopt(h, CURLOPT_URL, call.url.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECT_TO, routes.get());
    curl_easy_setopt(h, CURLOPT_CAINFO, m_caBundle.c_str());
    curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, call.timeoutMs);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, call.followRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, call.maxRedirects);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, Collect);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &headerSink);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &bodySink);
    if (!call.cookie.empty()) {
        curl_easy_setopt(h, CURLOPT_COOKIE, call.cookie.c_str());
    }
    if (headers) {
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    }
    if (call.postBody) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, call.postBody->data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.postBody->size()));
    }
    exchange.code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &exchange.status);
    return exchange;
}

void SimTest::SetUp() {
    Options options;
    options.seed = 42;
    options.stall = std::chrono::milliseconds(1500);
    std::string error;
    auto endpoints = m_sim.Start(options, &error);
    ASSERT_TRUE(endpoints) << error;
    m_endpoints = *endpoints;
    m_client.emplace(m_endpoints);
}

void SimTest::TearDown() {
    m_sim.Stop();
}

std::string SimTest::Sso(std::string_view pathAndQuery) const {
    return "http://" + DefaultSsoHost() + std::string(pathAndQuery);
}
std::string SimTest::SsoTls(std::string_view pathAndQuery) const {
    return "https://" + DefaultSsoHost() + std::string(pathAndQuery);
}
std::string SimTest::Cloud(std::string_view pathAndQuery) const {
    return "http://" + DefaultCloudHost() + std::string(pathAndQuery);
}
std::string SimTest::Control(std::string_view pathAndQuery) const {
    return m_endpoints.simUrl + std::string(pathAndQuery.substr(1));
}

Exchange SimTest::Get(const std::string& url, const std::string& cookie) const {
    return m_client->Send(Call{.url = url, .cookie = cookie});
}

Exchange SimTest::Post(const std::string& url, const std::string& body, const std::string& cookie) const {
    return m_client->Send(Call{.url = url, .postBody = body, .cookie = cookie});
}

std::string SimTest::FetchCaptcha(std::string& captchaCookie) const {
    const Exchange reply = Get(Sso("/verify/emailreg?1426470650"), captchaCookie);
    const auto cookies = reply.SetCookies();
    captchaCookie = cookies.empty() ? std::string{} : cookies.front();
    return m_sim.LastCaptcha();
}

std::string SimTest::Register(const std::string& email, const std::string& password) const {
    std::string cookie;
    const std::string answer = FetchCaptcha(cookie);
    return Post(SsoTls("/user/emailRegSubmit"), RegistrationBody(email, password, answer), cookie).body;
}

std::string SimTest::SignedInCookie(const std::string& email, const std::string& password) const {
    std::string captchaCookie;
    const std::string answer = FetchCaptcha(captchaCookie);
    Post(SsoTls("/user/emailRegSubmit"), RegistrationBody(email, password, answer), captchaCookie);
    const Exchange login =
        Post(SsoTls("/user/loginsubmit"), LoginBody(email, password, answer), captchaCookie);
    const auto cookies = login.SetCookies();
    return cookies.empty() ? std::string{} : cookies.front();
}

std::string RegistrationBody(const std::string& email, const std::string& password,
                             const std::string& regcode) {
    return "email=" + email + "&password=" + password + "&regcode=" + regcode +
           "&from=&referrer=http%3A%2F%2F" + DefaultCloudHost() +
           "%2Fwebdisk%2Findex%2Flogin&random=0.19955328353724133&callback=iframeSubmit_20240102030405006";
}

std::string LoginBody(const std::string& account, const std::string& password, const std::string& verify) {
    return "loginname=" + account + "&account=" + account + "&password=" + password +
           "&autologin=true&memberme=true&referrer=http%3A%2F%2F" + DefaultSsoHost() +
           "%2Fuser%2Femailreg%3Fver%3D2.0%26vertical%3Dtrue%26email%3D%26next_action%3Dhttp%253A%252F%252F" +
           DefaultCloudHost() + "%252Fwebdisk%252Findex%252Flogin&verify=" + verify +
           "&next_action=http%253A%252F%252F" + DefaultCloudHost() +
           "%252Fwebdisk%252Findex%252Flogin&encoder=&newLogin=&callback=iframeSubmit_20240102030405006";
}

std::string RegistrationMarker(std::string_view flag) {
    return "{\"flag\":\"" + std::string(flag) + "\",\"username\":\"\"})}catch(e){}</script>";
}

std::string Escape(std::string_view text) {
    std::unique_ptr<CURL, EasyFree> easy(curl_easy_init());
    char* escaped = curl_easy_escape(easy.get(), text.data(), static_cast<int>(text.size()));
    std::string out = escaped != nullptr ? escaped : "";
    curl_free(escaped);
    return out;
}

std::string JoinCookies(const std::vector<std::string>& items) {
    std::string joined;
    for (const auto& item : items) {
        joined += (joined.empty() ? "" : "; ") + item;
    }
    return joined;
}

} // namespace kv::sim::testing
