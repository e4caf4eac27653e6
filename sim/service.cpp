#include "sim/service.h"

#include "sim/captcha.h"
#include "sim/pages.h"

#include <algorithm>
#include <variant>

namespace kv::sim {

namespace {

constexpr std::string_view CaptchaCookie = "kv_captcha";
constexpr std::string_view VisitCookie = "kv_visit";
constexpr std::string_view SignInCookie = "kv_auth";
constexpr std::size_t RequestsKept = 1000;
constexpr std::chrono::milliseconds LongestStall{60000};

constexpr std::string_view JsonType = "application/json; charset=utf-8";
constexpr std::string_view TextType = "text/plain; charset=utf-8";

std::vector<std::string> Labels(std::string_view host) {
    std::vector<std::string> labels;
    for (std::size_t start = 0;;) {
        const std::size_t dot = host.find('.', start);
        labels.push_back(ToLowerAscii(host.substr(start, dot - start)));
        if (dot == std::string_view::npos) {
            return labels;
        }
        start = dot + 1;
    }
}

// Cookies span both hosts when they share a parent domain of at least two labels.
std::string SharedParentDomain(std::string_view a, std::string_view b) {
    const auto labelsA = Labels(a);
    const auto labelsB = Labels(b);
    const bool numeric = a.find_first_not_of("0123456789.") == std::string_view::npos ||
                         b.find_first_not_of("0123456789.") == std::string_view::npos;
    std::size_t common = 0;
    while (common < labelsA.size() && common < labelsB.size() &&
           labelsA[labelsA.size() - 1 - common] == labelsB[labelsB.size() - 1 - common]) {
        ++common;
    }
    if (numeric || common < 2 || common == labelsA.size() || common == labelsB.size()) {
        return {};
    }
    std::string domain;
    for (std::size_t i = labelsA.size() - common; i < labelsA.size(); ++i) {
        domain += (domain.empty() ? "" : ".") + labelsA[i];
    }
    return domain;
}

// The Host header's name, without a port.
std::string HostName(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        return std::string(host.substr(0, host.find(']') + 1));
    }
    return std::string(host.substr(0, host.rfind(':')));
}

bool IsCallbackName(std::string_view name) {
    if (name.empty() || name.size() > 128 || (name.front() >= '0' && name.front() <= '9')) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '$' || c == '.';
    });
}

bool IsFormBody(const Incoming& request) {
    return StartsWithIgnoreCase(request.Header("Content-Type"), "application/x-www-form-urlencoded");
}

// The form fields of a POST; a body of another content type has none, as a form reader sees it.
std::optional<NameValues> FormOf(const Incoming& request) {
    if (!IsFormBody(request)) {
        return NameValues{};
    }
    return DecodeForm(request.body);
}

NameValues CookiesOf(const Incoming& request) {
    std::string joined;
    for (const auto& [name, value] : request.headers) {
        if (EqualsIgnoreCase(name, "Cookie")) {
            joined += (joined.empty() ? "" : "; ") + value;
        }
    }
    return ParseCookieHeader(joined);
}

Reply Status(int status, std::string_view title, std::string_view message) {
    return Reply{status, "text/html; charset=utf-8", MessagePage(title, message), {}};
}

Reply BadRequest(std::string_view why) {
    return Status(400, "400 Bad Request", why);
}

Reply NotFound() {
    return Status(404, "404 Not Found", "没有这个页面");
}

Reply Redirect(std::string location) {
    Reply reply = Status(302, "302 Found", location);
    reply.headers.emplace_back("Location", std::move(location));
    return reply;
}

Reply Json(std::string body) {
    return Reply{200, std::string(JsonType), std::move(body), {}};
}

Reply PlainText(int status, std::string body) {
    return Reply{status, std::string(TextType), std::move(body), {}};
}

bool IsDownloadLink(std::string_view link) {
    for (const std::string_view scheme : {"magnet:", "ed2k://", "ftp://", "http://", "https://"}) {
        if (link.size() > scheme.size() && StartsWithIgnoreCase(link, scheme)) {
            return true;
        }
    }
    return false;
}

std::string RequestJson(const RecordedRequest& request) {
    std::string json = "{\"listener\":" + JsonQuote(request.listener) +
                       ",\"host\":" + JsonQuote(request.host) + ",\"method\":" + JsonQuote(request.method) +
                       ",\"target\":" + JsonQuote(request.target) + ",\"path\":" + JsonQuote(request.path) +
                       ",\"headers\":[";
    for (std::size_t i = 0; i < request.headers.size(); ++i) {
        json += (i == 0 ? "[" : ",[") + JsonQuote(request.headers[i].first) + "," +
                JsonQuote(request.headers[i].second) + "]";
    }
    json += "],\"body\":" + JsonQuote(request.body) + ",\"fault\":" + JsonQuote(request.fault) + "}";
    return json;
}

} // namespace

std::string_view ListenerName(Listener listener) {
    switch (listener) {
    case Listener::SsoHttp:
        return "sso-http";
    case Listener::SsoHttps:
        return "sso-https";
    case Listener::CloudHttp:
        return "cloud-http";
    }
    return "";
}

std::string Incoming::Header(std::string_view name) const {
    for (const auto& [headerName, value] : headers) {
        if (EqualsIgnoreCase(headerName, name)) {
            return value;
        }
    }
    return {};
}

Service::Service(ServiceConfig config)
    : m_config(std::move(config)), m_cookieDomain(SharedParentDomain(m_config.ssoHost, m_config.cloudHost)),
      m_rng(m_config.seed) {}

bool Service::IsControl(const Incoming& request) const {
    return request.listener == Listener::CloudHttp && request.path.starts_with("/__sim/");
}

Reply Service::HandleControl(const Incoming& request) {
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    if (request.path == "/__sim/captcha" && get) {
        const std::string answer = LastCaptcha();
        return answer.empty() ? PlainText(404, "no captcha issued yet\n") : PlainText(200, answer);
    }
    if (request.path == "/__sim/state" && get) {
        return Json(StateJson());
    }
    if (request.path == "/__sim/reset" && post) {
        Reset();
        return PlainText(200, "ok\n");
    }
    if (request.path == "/__sim/fault" && post) {
        const auto form = DecodeForm(request.body);
        if (!form) {
            return PlainText(400, "malformed form\n");
        }
        const auto path = ValueOf(*form, "path");
        const auto kind = FaultFromName(ValueOf(*form, "kind").value_or(""));
        std::optional<std::chrono::milliseconds> stall;
        if (const auto ms = ValueOf(*form, "ms")) {
            if (ms->empty() || ms->size() > 6 || ms->find_first_not_of("0123456789") != std::string::npos) {
                return PlainText(400, "ms must be a number of milliseconds\n");
            }
            stall = std::chrono::milliseconds(std::stoi(*ms));
        }
        if (!path || !kind || !ArmFault(*path, *kind, stall)) {
            return PlainText(400, "needs path=/<path of the service>&kind=drop|stall|garbage|huge-header|"
                                  "huge-body|redirect-loop|bad-cert[&ms=N]\n");
        }
        return PlainText(200, "ok\n");
    }
    for (const std::string_view known : {"/__sim/captcha", "/__sim/state", "/__sim/reset", "/__sim/fault"}) {
        if (request.path == known) {
            return PlainText(405, "method not allowed\n");
        }
    }
    return PlainText(404, "unknown control path\n");
}

Reply Service::Handle(const Incoming& request, std::string_view fault) {
    {
        const std::lock_guard lock(m_mutex);
        RecordLocked(request, fault);
    }
    return Serve(request);
}

void Service::Record(const Incoming& request, std::string_view fault) {
    const std::lock_guard lock(m_mutex);
    RecordLocked(request, fault);
}

void Service::RecordLocked(const Incoming& request, std::string_view fault) {
    m_requests.push_back(RecordedRequest{std::string(ListenerName(request.listener)), request.Header("Host"),
                                         request.method, request.target, request.path, request.headers,
                                         request.body, std::string(fault)});
    while (m_requests.size() > RequestsKept) {
        m_requests.pop_front();
    }
}

Reply Service::Serve(const Incoming& request) {
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    const std::string host = HostName(request.Header("Host"));
    if (request.listener == Listener::CloudHttp && request.path == "/") {
        return get ? TaskList() : Status(405, "405 Method Not Allowed", request.method);
    }
    const std::string& expectedHost =
        request.listener == Listener::CloudHttp ? m_config.cloudHost : m_config.ssoHost;
    if (!EqualsIgnoreCase(host, expectedHost)) {
        return Status(404, "404 Not Found", "此服务器上没有这个站点");
    }
    struct Route {
        Listener listener;
        std::string_view path;
        bool post;
        Reply (Service::*serve)(const Incoming&);
    };
    static constexpr Route routes[] = {
        {Listener::SsoHttp, "/verify/emailreg", false, &Service::Captcha},
        {Listener::SsoHttp, "/", false, &Service::SignOnPage},
        {Listener::SsoHttps, "/user/emailRegSubmit", true, &Service::Register},
        {Listener::SsoHttps, "/user/loginsubmit", true, &Service::Login},
        {Listener::CloudHttp, "/webdisk/home/index", false, &Service::Home},
        {Listener::CloudHttp, "/webdisk/home/offdladd", true, &Service::AddOfflineTask},
        {Listener::CloudHttp, "/webdisk/index/login", false, &Service::CloudLogin},
        {Listener::CloudHttp, "/webdisk/logout", false, &Service::Logout},
    };
    for (const Route& route : routes) {
        if (route.listener == request.listener && route.path == request.path) {
            return (route.post ? post : get) ? (this->*route.serve)(request)
                                             : Status(405, "405 Method Not Allowed", request.method);
        }
    }
    return NotFound();
}

std::string Service::NewToken() {
    static constexpr char hex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) {
        token += hex[m_rng() & 0xF];
    }
    return token;
}

std::string Service::CookieAttributes() const {
    return "; Path=/" + (m_cookieDomain.empty() ? std::string{} : "; Domain=." + m_cookieDomain) +
           "; HttpOnly";
}

bool Service::IsOwnSite(std::string_view url) const {
    if (url.find_first_of(std::string_view(" \t\r\n\0", 5)) != std::string_view::npos) {
        return false;
    }
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (!StartsWithIgnoreCase(url, scheme)) {
            continue;
        }
        const std::string_view rest = url.substr(scheme.size());
        const std::string host = HostName(rest.substr(0, rest.find_first_of("/?#")));
        return EqualsIgnoreCase(host, m_config.ssoHost) || EqualsIgnoreCase(host, m_config.cloudHost);
    }
    return false;
}

std::string Service::DeletedSignInCookie() const {
    return std::string(SignInCookie) + "=deleted; Expires=Thu, 01-Jan-1970 00:00:01 GMT; Max-Age=0" +
           CookieAttributes();
}

std::variant<Service::ScriptForm, Reply> Service::ReadScriptForm(const Incoming& request) {
    auto form = FormOf(request);
    if (!form) {
        return BadRequest("表单格式错误");
    }
    std::string callback = ValueOf(*form, "callback").value_or("iframeSubmit");
    if (!IsCallbackName(callback)) {
        return BadRequest("callback");
    }
    return ScriptForm{std::move(*form), std::move(callback)};
}

bool Service::CaptchaAnswered(const Incoming& request, std::string_view typed) const {
    const auto session = ValueOf(CookiesOf(request), CaptchaCookie);
    const auto captcha = session ? m_captchas.find(*session) : m_captchas.end();
    return captcha != m_captchas.end() && EqualsIgnoreCase(typed, captcha->second);
}

std::string Service::CloudLoginUrl() const {
    return "http://" + m_config.cloudHost + "/webdisk/index/login";
}

std::string Service::SignOnUrl() const {
    return "http://" + m_config.ssoHost + "/?ver=2.0&next_action=" + PercentEncode(CloudLoginUrl()) +
           "&vertical=true";
}

std::optional<std::string> Service::SignedInAccount(const Incoming& request) const {
    const auto token = ValueOf(CookiesOf(request), SignInCookie);
    if (!token) {
        return std::nullopt;
    }
    const auto session = m_sessions.find(*token);
    if (session == m_sessions.end()) {
        return std::nullopt;
    }
    return session->second;
}

Reply Service::Captcha(const Incoming& request) {
    std::string answer;
    std::string session;
    RgbImage image;
    {
        const std::lock_guard lock(m_mutex);
        // A fetch within a known captcha session replaces that session's captcha.
        const auto known = ValueOf(CookiesOf(request), CaptchaCookie);
        session = known && m_captchas.contains(*known) ? *known : NewToken();
        answer = NewCaptchaText(m_rng);
        m_captchas[session] = answer;
        m_lastCaptcha = answer;
        image = DrawCaptcha(answer, m_rng);
    }
    const bool jpeg = m_config.captchaFormat == CaptchaFormat::Jpeg;
    auto encoded = jpeg ? EncodeJpeg(image) : EncodePng(image);
    if (!encoded) {
        return Status(500, "500 Internal Server Error", "captcha");
    }
    Reply reply{200, jpeg ? "image/jpeg" : "image/png", std::move(*encoded), {}};
    reply.headers.emplace_back("Cache-Control", "no-store");
    reply.headers.emplace_back("Set-Cookie", std::string(CaptchaCookie) + "=" + session + CookieAttributes());
    return reply;
}

Reply Service::SignOnPage(const Incoming& request) {
    Reply reply;
    {
        const std::lock_guard lock(m_mutex);
        const auto visit = ValueOf(CookiesOf(request), VisitCookie);
        if (!visit || !m_visits.contains(*visit)) {
            const std::string token = NewToken();
            m_visits.insert(token);
            reply.headers.emplace_back("Set-Cookie",
                                       std::string(VisitCookie) + "=" + token + CookieAttributes());
        }
    }
    std::string nextAction = CloudLoginUrl();
    if (const auto query = request.target.find('?'); query != std::string::npos) {
        const auto fields = DecodeForm(std::string_view(request.target).substr(query + 1));
        if (fields) {
            nextAction = ValueOf(*fields, "next_action").value_or(nextAction);
        }
    }
    reply.body = kv::sim::SignOnPage("https://" + m_config.ssoHost + "/user/loginsubmit", nextAction,
                                     "http://" + m_config.ssoHost + "/user/emailreg?ver=2.0&vertical=true");
    return reply;
}

Reply Service::Register(const Incoming& request) {
    auto read = ReadScriptForm(request);
    if (auto* rejected = std::get_if<Reply>(&read)) {
        return std::move(*rejected);
    }
    const auto& [form, callback] = std::get<ScriptForm>(read);
    const auto page = [&](std::string_view flag) {
        return Reply{200,
                     "text/html; charset=utf-8",
                     CallbackPage(callback, "{\"flag\":\"" + std::string(flag) + "\",\"username\":\"\"}"),
                     {}};
    };
    const auto email = ValueOf(form, "email").value_or("");
    const auto password = ValueOf(form, "password").value_or("");
    const auto regcode = ValueOf(form, "regcode").value_or("");

    const std::lock_guard lock(m_mutex);
    if (!CaptchaAnswered(request, regcode)) {
        return page("401");
    }
    if (email.empty() || password.empty()) {
        return BadRequest("需要邮箱和密码");
    }
    const bool taken = std::any_of(m_accounts.begin(), m_accounts.end(), [&](const Account& account) {
        return EqualsIgnoreCase(account.email, email);
    });
    if (taken) {
        return page("404");
    }
    // Active at once: nobody reads the activation mail here.
    m_accounts.push_back(Account{email, password});
    return page("200");
}

Reply Service::Login(const Incoming& request) {
    auto read = ReadScriptForm(request);
    if (auto* rejected = std::get_if<Reply>(&read)) {
        return std::move(*rejected);
    }
    const auto& [form, callback] = std::get<ScriptForm>(read);
    const auto failure = [&](std::string_view flag, std::string_view message) {
        Reply reply{200,
                    "text/html; charset=utf-8",
                    CallbackPage(callback, "{\"flag\":\"" + std::string(flag) +
                                               "\",\"msg\":" + JsonQuote(message) + "}"),
                    {}};
        reply.headers.emplace_back("Set-Cookie", DeletedSignInCookie());
        return reply;
    };
    const auto name = ValueOf(form, "loginname").value_or(ValueOf(form, "account").value_or(""));
    const auto password = ValueOf(form, "password").value_or("");
    const auto verify = ValueOf(form, "verify").value_or("");

    // next_action travels encoded inside an encoded form field; only our own sites are destinations.
    std::string next = CloudLoginUrl();
    if (const auto field = ValueOf(form, "next_action")) {
        if (auto decoded = PercentDecode(*field, false); decoded && IsOwnSite(*decoded)) {
            next = std::move(*decoded);
        }
    }

    const std::lock_guard lock(m_mutex);
    if (!CaptchaAnswered(request, verify)) {
        return failure("401", "验证码错误");
    }
    const auto account = std::find_if(m_accounts.begin(), m_accounts.end(), [&](const Account& known) {
        return EqualsIgnoreCase(known.email, name) && known.password == password;
    });
    if (name.empty() || account == m_accounts.end()) {
        return failure("403", "账号或密码错误");
    }
    const std::string token = NewToken();
    m_sessions[token] = account->email;
    Reply reply = Redirect(next);
    reply.headers.emplace_back("Set-Cookie", std::string(SignInCookie) + "=" + token + CookieAttributes());
    return reply;
}

Reply Service::CloudLogin(const Incoming& request) {
    bool signedIn = false;
    {
        const std::lock_guard lock(m_mutex);
        signedIn = SignedInAccount(request).has_value();
    }
    return Redirect(signedIn ? "http://" + m_config.cloudHost + "/webdisk/home/index" : SignOnUrl());
}

Reply Service::Logout(const Incoming& request) {
    {
        const std::lock_guard lock(m_mutex);
        if (const auto token = ValueOf(CookiesOf(request), SignInCookie)) {
            m_sessions.erase(*token);
        }
    }
    Reply reply = Redirect("http://" + m_config.cloudHost + "/webdisk/home/index");
    reply.headers.emplace_back("Set-Cookie", DeletedSignInCookie());
    return reply;
}

Reply Service::Home(const Incoming& request) {
    const std::lock_guard lock(m_mutex);
    const auto account = SignedInAccount(request);
    if (!account) {
        return Reply{200, "text/html; charset=utf-8", SignedOutHomePage(SignOnUrl()), {}};
    }
    return Reply{200,
                 "text/html; charset=utf-8",
                 HomePage(*account, m_tasks, "http://" + m_config.ssoHost + "/user/center"),
                 {}};
}

Reply Service::AddOfflineTask(const Incoming& request) {
    const auto form = FormOf(request);
    if (!form) {
        return BadRequest("表单格式错误");
    }
    const std::lock_guard lock(m_mutex);
    const auto account = SignedInAccount(request);
    if (!account) {
        return Json("{\"code\":-1,\"msg\":\"请先登录\"}");
    }
    const std::string link = ValueOf(*form, "link").value_or("");
    if (!IsDownloadLink(link)) {
        return Json("{\"code\":10003,\"msg\":\"不支持的链接\"}");
    }
    const int id = m_nextTaskId++;
    m_tasks.push_back(Task{id, *account, link});
    return Json("{\"code\":0,\"msg\":\"ok\",\"data\":{\"task_id\":" + std::to_string(id) + "}}");
}

Reply Service::TaskList() {
    const std::lock_guard lock(m_mutex);
    return Reply{200, "text/html; charset=utf-8", TaskListPage(m_accounts, m_tasks), {}};
}

bool Service::ArmFault(std::string_view path, FaultKind kind,
                       std::optional<std::chrono::milliseconds> stall) {
    if (!path.starts_with("/") || path.starts_with("/__sim/")) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    if (kind == FaultKind::BadCert) {
        ++m_badCertificates;
        return true;
    }
    m_faults.push_back(
        ArmedFault{std::string(path), kind,
                   std::clamp(stall.value_or(m_config.stall), std::chrono::milliseconds(0), LongestStall)});
    return true;
}

std::optional<ArmedFault> Service::TakeFault(const Incoming& request) {
    const std::lock_guard lock(m_mutex);
    const auto armed = std::find_if(m_faults.begin(), m_faults.end(), [&](const ArmedFault& fault) {
        return fault.path == (fault.path.find('?') == std::string::npos ? request.path : request.target);
    });
    if (armed == m_faults.end()) {
        return std::nullopt;
    }
    ArmedFault taken = *armed;
    m_faults.erase(armed);
    return taken;
}

bool Service::TakeBadCertificate() {
    const std::lock_guard lock(m_mutex);
    if (m_badCertificates == 0) {
        return false;
    }
    --m_badCertificates;
    return true;
}

std::string Service::LastCaptcha() const {
    const std::lock_guard lock(m_mutex);
    return m_lastCaptcha;
}

Snapshot Service::State() const {
    const std::lock_guard lock(m_mutex);
    return Snapshot{m_accounts, m_tasks, {m_requests.begin(), m_requests.end()}, m_lastCaptcha};
}

std::string Service::StateJson() const {
    const Snapshot state = State();
    std::string json = "{\"accounts\":[";
    for (std::size_t i = 0; i < state.accounts.size(); ++i) {
        json += (i == 0 ? "{" : ",{") + std::string("\"email\":") + JsonQuote(state.accounts[i].email) +
                ",\"password\":" + JsonQuote(state.accounts[i].password) + "}";
    }
    json += "],\"tasks\":[";
    for (std::size_t i = 0; i < state.tasks.size(); ++i) {
        json += (i == 0 ? "{" : ",{") + std::string("\"task_id\":") + std::to_string(state.tasks[i].id) +
                ",\"account\":" + JsonQuote(state.tasks[i].account) +
                ",\"link\":" + JsonQuote(state.tasks[i].link) + "}";
    }
    json += "],\"requests\":[";
    for (std::size_t i = 0; i < state.requests.size(); ++i) {
        json += (i == 0 ? "" : ",") + RequestJson(state.requests[i]);
    }
    json += "],\"captcha\":" + JsonQuote(state.lastCaptcha) + "}\n";
    return json;
}

void Service::Reset() {
    const std::lock_guard lock(m_mutex);
    m_rng.seed(m_config.seed);
    m_captchas.clear();
    m_lastCaptcha.clear();
    m_accounts.clear();
    m_sessions.clear();
    m_visits.clear();
    m_tasks.clear();
    m_nextTaskId = 1;
    m_requests.clear();
    m_faults.clear();
    m_badCertificates = 0;
}

} // namespace kv::sim
