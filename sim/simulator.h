// The simulated service: the single-sign-on host (http and https) and the cloud-disk host (http) on
// loopback, with accounts, captchas, sessions and offline tasks in memory, a control interface under
// /__sim/ on the cloud port, and faults that tests arm one request at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::sim {

enum class CaptchaFormat { Png, Jpeg };

enum class FaultKind { Drop, Stall, Garbage, HugeHeader, HugeBody, RedirectLoop, BadCert };

// The names the control interface uses ("drop", "huge-header", ...).
std::string_view FaultName(FaultKind kind);
std::optional<FaultKind> FaultFromName(std::string_view name);

// The host names of the build's configuration.
std::string DefaultSsoHost();
std::string DefaultCloudHost();

struct Options {
    int ssoHttpPort = 0; // 0: any free port
    int ssoHttpsPort = 0;
    int cloudHttpPort = 0;
    CaptchaFormat captchaFormat = CaptchaFormat::Png;
    std::optional<std::uint64_t> seed; // fixes captchas and tokens; random when absent
    std::string ssoHost = DefaultSsoHost();
    std::string cloudHost = DefaultCloudHost();
    // How long a stall fault holds a request before dropping it, unless the fault names its own.
    std::chrono::milliseconds stall{3000};
};

struct Endpoints {
    int ssoHttpPort = 0;
    int ssoHttpsPort = 0;
    int cloudHttpPort = 0;
    std::string connectTo; // "<sso>:80:127.0.0.1:<p1>,<sso>:443:127.0.0.1:<p2>,<cloud>:80:127.0.0.1:<p3>"
    std::string caBundle;  // PEM file of the throw-away CA; removed by Stop()
    std::string simUrl;    // "http://127.0.0.1:<p3>/"
};

// The three lines korvane-sim prints, each ending in "\n".
std::string RoutingLines(const Endpoints& endpoints);

struct Account {
    std::string email;
    std::string password;
};

struct Task {
    int id = 0;
    std::string account; // the e-mail of the account that submitted it
    std::string link;    // exactly as decoded from the form
};

struct RecordedRequest {
    std::string listener; // "sso-http", "sso-https" or "cloud-http"
    std::string host;     // the Host header
    std::string method;
    std::string target;                                       // as sent: path and query, still encoded
    std::string path;                                         // the target's path, decoded
    std::vector<std::pair<std::string, std::string>> headers; // as received, grouped by name
    std::string body;
    std::string fault; // the fault that met this request, if any
};

struct Snapshot {
    std::vector<Account> accounts;
    std::vector<Task> tasks;
    std::vector<RecordedRequest> requests; // oldest first; control requests are not kept
    std::string lastCaptcha;               // empty before the first captcha
};

class Simulator {
public:
    Simulator();
    ~Simulator(); // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Mints the certificates, binds the three listeners and serves them on background threads.
    // Fails (error filled) when a port cannot be bound or the simulator already runs.
    std::optional<Endpoints> Start(const Options& options, std::string* error = nullptr);
    // Stops serving, ends stalled requests and removes the CA file. Safe to call twice.
    void Stop();

    // The same things the control interface offers.
    std::string LastCaptcha() const;
    Snapshot State() const;
    std::string StateJson() const;
    void Reset();
    // The next request for that path (or, for bad-cert, the next https connection) misbehaves once.
    // A path holding "?" is compared with the whole target. False for a path outside the service.
    bool InjectFault(std::string_view path, FaultKind kind,
                     std::optional<std::chrono::milliseconds> stall = std::nullopt);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace kv::sim
