// The service's behaviour and memory, apart from the HTTP server that carries it: what each
// request of either host gets, the control interface, and the faults armed for later requests.
#pragma once

#include "sim/form.h"
#include "sim/simulator.h"

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <variant>

namespace kv::sim {

enum class Listener { SsoHttp, SsoHttps, CloudHttp };
std::string_view ListenerName(Listener listener);

struct Incoming {
    Listener listener = Listener::CloudHttp;
    std::string method;
    std::string target;
    std::string path;
    NameValues headers;
    std::string body;

    // The first header of that name, any letter case; empty when absent.
    std::string Header(std::string_view name) const;
};

struct Reply {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    NameValues headers; // besides Content-Type
};

struct ArmedFault {
    std::string path;
    FaultKind kind = FaultKind::Drop;
    std::chrono::milliseconds stall{0};
};

struct ServiceConfig {
    std::string ssoHost;
    std::string cloudHost;
    CaptchaFormat captchaFormat = CaptchaFormat::Png;
    std::uint64_t seed = 0;
    std::chrono::milliseconds stall{3000};
};

// Thread-safe: the listeners' threads call it at once.
class Service {
public:
    explicit Service(ServiceConfig config);

    bool IsControl(const Incoming& request) const;
    Reply HandleControl(const Incoming& request);
    // Serves a request of either host and records it, with the fault that met it.
    Reply Handle(const Incoming& request, std::string_view fault = {});
    // Records a request that a fault kept from being served.
    void Record(const Incoming& request, std::string_view fault);

    bool ArmFault(std::string_view path, FaultKind kind, std::optional<std::chrono::milliseconds> stall);
    // The fault armed for this request, disarmed as it is taken (bad-cert faults excepted).
    std::optional<ArmedFault> TakeFault(const Incoming& request);
    // True once for each armed bad-cert fault: the next https connection gets the wrong certificate.
    bool TakeBadCertificate();

    std::string LastCaptcha() const;
    Snapshot State() const;
    std::string StateJson() const;
    void Reset();

private:
    Reply Serve(const Incoming& request);
    Reply Captcha(const Incoming& request);
    Reply SignOnPage(const Incoming& request);
    Reply Register(const Incoming& request);
    Reply Login(const Incoming& request);
    Reply CloudLogin(const Incoming& request);
    Reply Logout(const Incoming& request);
    Reply Home(const Incoming& request);
    Reply AddOfflineTask(const Incoming& request);
    Reply TaskList();

    // The fields of a form that a script page answers, with its callback; or the 400 it gets.
    struct ScriptForm {
        NameValues fields;
        std::string callback;
    };
    static std::variant<ScriptForm, Reply> ReadScriptForm(const Incoming& request);
    bool CaptchaAnswered(const Incoming& request, std::string_view typed) const; // holds m_mutex
    std::string DeletedSignInCookie() const;
    std::string NewToken();                                                    // holds m_mutex
    std::optional<std::string> SignedInAccount(const Incoming& request) const; // holds m_mutex
    std::string CookieAttributes() const;
    bool IsOwnSite(std::string_view url) const;
    std::string CloudLoginUrl() const;
    std::string SignOnUrl() const;
    void RecordLocked(const Incoming& request, std::string_view fault);

    const ServiceConfig m_config;
    const std::string m_cookieDomain;
    mutable std::mutex m_mutex;
    std::mt19937_64 m_rng;
    std::map<std::string, std::string> m_captchas; // captcha session -> answer
    std::string m_lastCaptcha;
    std::vector<Account> m_accounts;
    std::map<std::string, std::string> m_sessions; // sign-in token -> e-mail
    std::set<std::string> m_visits;
    std::vector<Task> m_tasks;
    int m_nextTaskId = 1;
    std::deque<RecordedRequest> m_requests;
    std::vector<ArmedFault> m_faults;
    int m_badCertificates = 0;
};

} // namespace kv::sim
