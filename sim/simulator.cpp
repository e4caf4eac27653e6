#include "sim/simulator.h"

#include "sim/service.h"
#include "sim/tls.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace kv::sim {

namespace {

constexpr std::size_t BodyLimit = 1024 * 1024;
constexpr std::size_t HugeBodySize = 48u * 1024 * 1024;
constexpr int HugeHeaderLines = 1024;
constexpr std::string_view LoopParameter = "kv_sim_loop=";
constexpr int LongestLoop = 1000;

constexpr std::array<std::pair<FaultKind, std::string_view>, 7> FaultNames{{
    {FaultKind::Drop, "drop"},
    {FaultKind::Stall, "stall"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::HugeHeader, "huge-header"},
    {FaultKind::HugeBody, "huge-body"},
    {FaultKind::RedirectLoop, "redirect-loop"},
    {FaultKind::BadCert, "bad-cert"},
}};

struct DirClose {
    void operator()(DIR* dir) const { closedir(dir); }
};

// The peer's address and port and our own port of a connected socket.
bool SocketEnds(int fd, std::string& peerAddress, int& peerPort, int& localPort) {
    sockaddr_storage peer{};
    sockaddr_storage local{};
    socklen_t peerLength = sizeof peer;
    socklen_t localLength = sizeof local;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        peer.ss_family != local.ss_family) {
        return false;
    }
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (peer.ss_family == AF_INET) {
        const auto& p = reinterpret_cast<const sockaddr_in&>(peer);
        inet_ntop(AF_INET, &p.sin_addr, text.data(), text.size());
        peerPort = ntohs(p.sin_port);
        localPort = ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
    } else if (peer.ss_family == AF_INET6) {
        const auto& p = reinterpret_cast<const sockaddr_in6&>(peer);
        inet_ntop(AF_INET6, &p.sin6_addr, text.data(), text.size());
        peerPort = ntohs(p.sin6_port);
        localPort = ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
    } else {
        return false;
    }
    peerAddress = text.data();
    return true;
}

// The server has no call that hands a handler its connection, so it is found among our sockets by
// its two ends; only this request's connection has them, and it cannot close while we serve it.
int ConnectionSocket(const httplib::Request& req) {
    if (req.ssl != nullptr) {
        return SSL_get_fd(req.ssl);
    }
    std::unique_ptr<DIR, DirClose> dir(opendir("/proc/self/fd"));
    if (!dir) {
        return -1;
    }
    while (const dirent* entry = readdir(dir.get())) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(dir.get())) {
            continue;
        }
        std::string peerAddress;
        int peerPort = 0;
        int localPort = 0;
        if (SocketEnds(static_cast<int>(fd), peerAddress, peerPort, localPort) &&
            peerPort == req.remote_port && localPort == req.local_port && peerAddress == req.remote_addr) {
            return static_cast<int>(fd);
        }
    }
    return -1;
}

// Ends the connection with nothing more than the given bytes, raw or inside the TLS stream.
void SeverConnection(const httplib::Request& req, std::string_view bytes) {
    const int fd = ConnectionSocket(req);
    if (fd < 0) {
        return;
    }
    if (!bytes.empty()) {
        if (req.ssl != nullptr) {
            // The handler runs on the connection's own thread, which is the only user of the session.
            SSL_write(const_cast<SSL*>(req.ssl), bytes.data(), static_cast<int>(bytes.size()));
        } else {
            send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
    }
    shutdown(fd, SHUT_RDWR);
}

std::string GarbageBytes() {
    std::mt19937 rng(0x6b76);
    std::string bytes(2048, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(rng() & 0xFF);
    }
    bytes[0] = '\x9c'; // never the start of a status line
    return bytes;
}

Incoming ToIncoming(Listener listener, const httplib::Request& req) {
    Incoming in{listener, req.method, req.target, req.path, {}, req.body};
    for (const auto& [name, value] : req.headers) {
        // The server library files the connection's ends among the headers.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") {
            continue;
        }
        in.headers.emplace_back(name, value);
    }
    return in;
}

void Apply(const Reply& reply, httplib::Response& res) {
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) {
        res.set_header(name, value);
    }
    res.set_content(reply.body, reply.contentType.c_str());
}

// How many redirects of a loop this target has been through; nullopt when it is not in one.
std::optional<int> LoopRound(std::string_view target) {
    const std::size_t query = target.find('?');
    if (query == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t at = target.find(LoopParameter, query);
    if (at == std::string_view::npos || (target[at - 1] != '?' && target[at - 1] != '&')) {
        return std::nullopt;
    }
    int round = 0;
    for (std::size_t i = at + LoopParameter.size(); i < target.size() && round <= LongestLoop; ++i) {
        if (target[i] < '0' || target[i] > '9') {
            break;
        }
        round = round * 10 + (target[i] - '0');
    }
    return round;
}

// Each redirect leads to the same resource under a new round number, so the chain never ends on
// its own; the client has to give up.
void LoopRedirect(const Incoming& in, httplib::Response& res) {
    std::string target = in.target;
    const auto round = LoopRound(target);
    const std::string next = std::string(LoopParameter) + std::to_string(round.value_or(0) + 1);
    if (round) {
        const std::size_t at = target.find(LoopParameter, target.find('?'));
        const std::size_t end = target.find('&', at);
        target.replace(at, end == std::string::npos ? std::string::npos : end - at, next);
    } else {
        target += (target.find('?') == std::string::npos ? "?" : "&") + next;
    }
    const std::string scheme = in.listener == Listener::SsoHttps ? "https://" : "http://";
    res.status = 302;
    res.set_header("Location", scheme + in.Header("Host") + target);
    res.set_content("redirecting\n", "text/plain");
}

void MakeHugeHeader(httplib::Response& res) {
    const std::string filler(1000, 'k');
    for (int i = 0; i < HugeHeaderLines; ++i) {
        res.set_header("X-Kv-Filler-" + std::to_string(i), filler);
    }
}

// The reply as served, then blank padding up to a size no client should hold in memory.
void MakeHugeBody(httplib::Response& res, std::string contentType) {
    std::string prefix = std::move(res.body);
    res.body.clear();
    res.set_content_provider(
        HugeBodySize, contentType.c_str(),
        [prefix = std::move(prefix)](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            std::string chunk(std::min<std::size_t>(length, 64 * 1024), ' ');
            for (std::size_t i = 0; i < chunk.size(); ++i) {
                const std::size_t at = offset + i;
                if (at < prefix.size()) {
                    chunk[i] = prefix[at];
                } else if (at % 80 == 79) {
                    chunk[i] = '\n';
                }
            }
            return sink.write(chunk.data(), chunk.size());
        });
}

} // namespace

std::string_view FaultName(FaultKind kind) {
    for (const auto& [known, name] : FaultNames) {
        if (known == kind) {
            return name;
        }
    }
    return "";
}

std::optional<FaultKind> FaultFromName(std::string_view name) {
    for (const auto& [kind, known] : FaultNames) {
        if (known == name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::string DefaultSsoHost() {
    return KV_SIM_SSO_HOST;
}
std::string DefaultCloudHost() {
    return KV_SIM_CLOUD_HOST;
}

std::string RoutingLines(const Endpoints& endpoints) {
    return "KORVANE_CONNECT_TO=" + endpoints.connectTo + "\nKORVANE_CA_BUNDLE=" + endpoints.caBundle +
           "\nKORVANE_SIM_URL=" + endpoints.simUrl + "\n";
}

struct Simulator::Impl {
    std::unique_ptr<Service> service;
    Options options;
    std::optional<Credential> authority;
    std::optional<Credential> serverCredential;
    std::optional<Credential> rogueCredential;
    std::filesystem::path directory;
    std::vector<std::unique_ptr<httplib::Server>> servers;
    std::vector<std::thread> threads;
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;

    void Serve(Listener listener, const httplib::Request& req, httplib::Response& res);
    void Stall(std::chrono::milliseconds duration);
    bool SetUpTls(SSL_CTX& ctx);
    std::unique_ptr<httplib::Server> NewServer(Listener listener);
    void StopAll();
};

void Simulator::Impl::Stall(std::chrono::milliseconds duration) {
    std::unique_lock lock(stopMutex);
    stopSignal.wait_for(lock, duration, [this] { return stopping; });
}

void Simulator::Impl::Serve(Listener listener, const httplib::Request& req, httplib::Response& res) {
    const Incoming in = ToIncoming(listener, req);
    if (service->IsControl(in)) {
        Apply(service->HandleControl(in), res);
        return;
    }
    if (const auto round = LoopRound(in.target); round && *round < LongestLoop) {
        service->Record(in, FaultName(FaultKind::RedirectLoop));
        LoopRedirect(in, res);
        return;
    }
    const auto fault = service->TakeFault(in);
    if (!fault) {
        Apply(service->Handle(in), res);
        return;
    }
    const std::string_view name = FaultName(fault->kind);
    switch (fault->kind) {
    case FaultKind::Stall:
        service->Record(in, name);
        Stall(fault->stall);
        SeverConnection(req, {});
        break;
    case FaultKind::Drop:
        service->Record(in, name);
        SeverConnection(req, {});
        break;
    case FaultKind::Garbage:
        service->Record(in, name);
        SeverConnection(req, GarbageBytes());
        break;
    case FaultKind::RedirectLoop:
        service->Record(in, name);
        LoopRedirect(in, res);
        break;
    case FaultKind::HugeHeader:
        Apply(service->Handle(in, name), res);
        MakeHugeHeader(res);
        break;
    case FaultKind::HugeBody: {
        const Reply reply = service->Handle(in, name);
        Apply(reply, res);
        MakeHugeBody(res, reply.contentType);
        break;
    }
    case FaultKind::BadCert: // armed per connection, never per request
        Apply(service->Handle(in), res);
        break;
    }
}

bool Simulator::Impl::SetUpTls(SSL_CTX& ctx) {
    SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION);
    // Every connection does a full handshake, so a bad-cert fault always shows.
    SSL_CTX_set_options(&ctx, SSL_OP_NO_TICKET);
    SSL_CTX_set_session_cache_mode(&ctx, SSL_SESS_CACHE_OFF);
    if (SSL_CTX_use_certificate(&ctx, serverCredential->cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(&ctx, serverCredential->key.get()) != 1) {
        return false;
    }
    SSL_CTX_set_cert_cb(
        &ctx,
        [](SSL* ssl, void* arg) {
            auto* impl = static_cast<Impl*>(arg);
            if (impl->service->TakeBadCertificate()) {
                return SSL_use_certificate(ssl, impl->rogueCredential->cert.get()) == 1 &&
                               SSL_use_PrivateKey(ssl, impl->rogueCredential->key.get()) == 1
                           ? 1
                           : 0;
            }
            return 1;
        },
        this);
    return true;
}

std::unique_ptr<httplib::Server> Simulator::Impl::NewServer(Listener listener) {
    std::unique_ptr<httplib::Server> server;
    if (listener == Listener::SsoHttps) {
        server = std::make_unique<httplib::SSLServer>([this](SSL_CTX& ctx) { return SetUpTls(ctx); });
    } else {
        server = std::make_unique<httplib::Server>();
    }
    const auto handler = [this, listener](const httplib::Request& req, httplib::Response& res) {
        Serve(listener, req, res);
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    // The library's default shares the port (SO_REUSEPORT), which would let a second simulator
    // bind a port already taken and split the connections with the first one.
    server->set_socket_options([](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server->set_payload_max_length(BodyLimit);
    server->set_keep_alive_timeout(2);
    server->set_read_timeout(5);
    server->set_write_timeout(5);
    server->set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&,
                                                                      httplib::Response& res) {
        if (!res.body.empty()) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        if (res.status == 413) { // a body over the limit is a bad request like any other
            res.status = 400;
        }
        res.set_content(std::to_string(res.status) + (res.status == 404 ? " Not Found\n" : " Bad Request\n"),
                        "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    }));
    server->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("500 Internal Server Error\n", "text/plain; charset=utf-8");
    });
    return server;
}

void Simulator::Impl::StopAll() {
    {
        const std::lock_guard lock(stopMutex);
        stopping = true;
    }
    stopSignal.notify_all();
    for (auto& server : servers) {
        server->stop();
    }
    for (auto& thread : threads) {
        thread.join();
    }
    threads.clear();
    servers.clear();
    if (!directory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
        directory.clear();
    }
}

Simulator::Simulator() : m_impl(std::make_unique<Impl>()) {}

Simulator::~Simulator() {
    Stop();
}

std::optional<Endpoints> Simulator::Start(const Options& options, std::string* error) {
    const auto fail = [&](std::string why) -> std::optional<Endpoints> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        m_impl->StopAll();
        return std::nullopt;
    };
    if (!m_impl->servers.empty()) {
        if (error != nullptr) {
            *error = "already running";
        }
        return std::nullopt;
    }
    Impl& impl = *m_impl;
    impl.options = options;
    impl.stopping = false;
    // Writing to a peer that has gone must fail the write, not end the process.
    struct sigaction pipe {};
    if (sigaction(SIGPIPE, nullptr, &pipe) == 0 && pipe.sa_handler == SIG_DFL) {
        signal(SIGPIPE, SIG_IGN);
    }

    impl.service = std::make_unique<Service>(ServiceConfig{
        options.ssoHost, options.cloudHost, options.captchaFormat,
        options.seed.value_or((std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}()),
        options.stall});
    const std::vector<std::string> hostNames{options.ssoHost, options.cloudHost};
    impl.authority = MintAuthority("korvane-sim throw-away authority");
    const auto rogueAuthority = MintAuthority("korvane-sim rogue authority");
    if (impl.authority && rogueAuthority) {
        impl.serverCredential = MintServerCertificate(*impl.authority, hostNames);
        impl.rogueCredential = MintServerCertificate(*rogueAuthority, hostNames);
    }
    if (!impl.serverCredential || !impl.rogueCredential) {
        return fail("cannot mint the certificates");
    }

    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / "korvane-sim-XXXXXX").string();
    if (ec || mkdtemp(pattern.data()) == nullptr) {
        return fail("cannot create a temporary directory");
    }
    impl.directory = pattern;
    const std::string caFile = (impl.directory / "ca.pem").string();
    if (!WriteCertificatePem(caFile, impl.authority->cert.get())) {
        return fail("cannot write " + caFile);
    }

    const std::array<std::pair<Listener, int>, 3> wanted{{{Listener::SsoHttp, options.ssoHttpPort},
                                                          {Listener::SsoHttps, options.ssoHttpsPort},
                                                          {Listener::CloudHttp, options.cloudHttpPort}}};
    std::array<int, 3> ports{};
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        auto server = impl.NewServer(wanted[i].first);
        if (!server->is_valid()) {
            return fail("cannot set up the " + std::string(ListenerName(wanted[i].first)) + " listener");
        }
        const int port = wanted[i].second;
        ports[i] = port == 0 ? server->bind_to_any_port("127.0.0.1")
                             : (server->bind_to_port("127.0.0.1", port) ? port : -1);
        if (ports[i] <= 0) {
            return fail("cannot bind 127.0.0.1:" + std::to_string(port) + " for " +
                        std::string(ListenerName(wanted[i].first)));
        }
        impl.servers.push_back(std::move(server));
    }
    for (auto& server : impl.servers) {
        impl.threads.emplace_back([raw = server.get()] { raw->listen_after_bind(); });
    }
    // stop() only reaches a server that is already listening.
    for (auto& server : impl.servers) {
        for (int waited = 0; !server->is_running(); ++waited) {
            if (waited > 5000) {
                return fail("a listener did not come up");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    Endpoints endpoints;
    endpoints.ssoHttpPort = ports[0];
    endpoints.ssoHttpsPort = ports[1];
    endpoints.cloudHttpPort = ports[2];
    endpoints.connectTo = options.ssoHost + ":80:127.0.0.1:" + std::to_string(ports[0]) + "," +
                          options.ssoHost + ":443:127.0.0.1:" + std::to_string(ports[1]) + "," +
                          options.cloudHost + ":80:127.0.0.1:" + std::to_string(ports[2]);
    endpoints.caBundle = caFile;
    endpoints.simUrl = "http://127.0.0.1:" + std::to_string(ports[2]) + "/";
    return endpoints;
}

void Simulator::Stop() {
    m_impl->StopAll();
}

std::string Simulator::LastCaptcha() const {
    return m_impl->service ? m_impl->service->LastCaptcha() : "";
}

Snapshot Simulator::State() const {
    return m_impl->service ? m_impl->service->State() : Snapshot{};
}

std::string Simulator::StateJson() const {
    return m_impl->service ? m_impl->service->StateJson() : "";
}

void Simulator::Reset() {
    if (m_impl->service) {
        m_impl->service->Reset();
    }
}

bool Simulator::InjectFault(std::string_view path, FaultKind kind,
                            std::optional<std::chrono::milliseconds> stall) {
    return m_impl->service && m_impl->service->ArmFault(path, kind, stall);
}

} // namespace kv::sim
