#include "tests/support/recording_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <stdexcept>

namespace kv::test {
namespace {

constexpr std::size_t MaxRequestHead = 8u << 20;
constexpr int PollMs = 20;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One accepted connection, plain or TLS; every wait gives up when the server stops.
class Link {
public:
    Link(int fd, SSL* ssl, const std::atomic<bool>& stop) : m_fd(fd), m_ssl(ssl), m_stop(stop) {}
    ~Link() {
        if (m_ssl != nullptr) {
            SSL_free(m_ssl);
        }
        ::close(m_fd);
    }

    // Waits for the peer; false when the server stops or the wait runs out.
    bool WaitReadable(int timeoutMs) {
        if (m_ssl != nullptr && SSL_pending(m_ssl) > 0) {
            return true;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_stop.load()) {
            pollfd p{m_fd, POLLIN, 0};
            int ready = ::poll(&p, 1, PollMs);
            if (ready > 0) {
                return true;
            }
            if (ready < 0 || std::chrono::steady_clock::now() > deadline) {
                return false;
            }
        }
        return false;
    }

    // Bytes read; 0 when the peer closed, the wait ran out or the server stops.
    std::size_t Read(char* buffer, std::size_t size, int timeoutMs = 10000) {
        if (!WaitReadable(timeoutMs)) {
            return 0;
        }
        if (m_ssl != nullptr) {
            int n = SSL_read(m_ssl, buffer, static_cast<int>(size));
            return n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        ssize_t n = ::recv(m_fd, buffer, size, 0);
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    bool Write(std::string_view data) {
        while (!data.empty()) {
            if (m_stop.load()) {
                return false;
            }
            pollfd p{m_fd, POLLOUT, 0};
            int ready = ::poll(&p, 1, PollMs);
            if (ready < 0 || (p.revents & (POLLERR | POLLHUP)) != 0) {
                return false;
            }
            if (ready == 0) {
                continue;
            }
            std::size_t step = std::min<std::size_t>(data.size(), 16 * 1024);
            long n = 0;
            if (m_ssl != nullptr) {
                n = SSL_write(m_ssl, data.data(), static_cast<int>(step));
            } else {
                n = ::send(m_fd, data.data(), step, MSG_NOSIGNAL);
            }
            if (n <= 0) {
                return false;
            }
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Ends our side and lets the client close first, so no reset eats the reply.
    void Finish() {
        if (m_ssl != nullptr) {
            SSL_shutdown(m_ssl);
        }
        ::shutdown(m_fd, SHUT_WR);
        char sink[4096];
        while (Read(sink, sizeof sink, 1000) > 0) {
        }
    }

private:
    int m_fd;
    SSL* m_ssl;
    const std::atomic<bool>& m_stop;
};

bool ReadRequest(Link& link, RecordedRequest& request) {
    char buffer[16 * 1024];
    std::size_t headEnd = std::string::npos;
    while ((headEnd = request.raw.find("\r\n\r\n")) == std::string::npos) {
        if (request.raw.size() > MaxRequestHead) {
            return false;
        }
        std::size_t n = link.Read(buffer, sizeof buffer);
        if (n == 0) {
            return false;
        }
        request.raw.append(buffer, n);
    }
    request.head = request.raw.substr(0, headEnd + 4);
    std::string_view rest(request.head);
    std::size_t lineEnd = rest.find("\r\n");
    request.requestLine = rest.substr(0, lineEnd);
    rest.remove_prefix(lineEnd + 2);
    while ((lineEnd = rest.find("\r\n")) != 0 && lineEnd != std::string_view::npos) {
        request.headerLines.emplace_back(rest.substr(0, lineEnd));
        rest.remove_prefix(lineEnd + 2);
    }
    std::size_t length = 0;
    if (auto declared = request.Header("Content-Length")) {
        length = std::stoul(*declared);
    }
    while (request.raw.size() < request.head.size() + length) {
        std::size_t n = link.Read(buffer, sizeof buffer);
        if (n == 0) {
            return false;
        }
        request.raw.append(buffer, n);
    }
    request.body = request.raw.substr(request.head.size());
    return true;
}

} // namespace

std::string RecordedRequest::Method() const {
    return requestLine.substr(0, requestLine.find(' '));
}

std::string RecordedRequest::Target() const {
    std::size_t first = requestLine.find(' ');
    std::size_t last = requestLine.rfind(' ');
    if (first == std::string::npos || last == first) {
        return {};
    }
    return requestLine.substr(first + 1, last - first - 1);
}

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
    for (const std::string& line : headerLines) {
        std::size_t colon = line.find(':');
        if (colon != std::string::npos && SameName(Trim(std::string_view(line).substr(0, colon)), name)) {
            return std::string(Trim(std::string_view(line).substr(colon + 1)));
        }
    }
    return std::nullopt;
}

std::size_t RecordedRequest::HeaderCount(std::string_view name) const {
    std::size_t count = 0;
    for (const std::string& line : headerLines) {
        std::size_t colon = line.find(':');
        if (colon != std::string::npos && SameName(Trim(std::string_view(line).substr(0, colon)), name)) {
            ++count;
        }
    }
    return count;
}

Reply HttpReply(int status, const std::vector<std::string>& headerLines, std::string_view body) {
    Reply reply;
    reply.bytes = "HTTP/1.1 " + std::to_string(status) + " Scripted\r\n";
    for (const std::string& line : headerLines) {
        reply.bytes += line + "\r\n";
    }
    reply.bytes += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    reply.bytes += body;
    return reply;
}

struct RecordingServer::Tls {
    SSL_CTX* ctx = nullptr;
    ~Tls() { SSL_CTX_free(ctx); }
};

RecordingServer::RecordingServer(Handler handler, std::optional<TlsIdentity> tls)
    : m_handler(std::move(handler)) {
    std::signal(SIGPIPE, SIG_IGN);
    if (tls) {
        m_tls = std::make_unique<Tls>();
        m_tls->ctx = SSL_CTX_new(TLS_server_method());
        BIO* certBio =
            BIO_new_mem_buf(tls->certificatePem.data(), static_cast<int>(tls->certificatePem.size()));
        BIO* keyBio = BIO_new_mem_buf(tls->privateKeyPem.data(), static_cast<int>(tls->privateKeyPem.size()));
        X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
        bool ok = m_tls->ctx != nullptr && cert != nullptr && key != nullptr &&
                  SSL_CTX_use_certificate(m_tls->ctx, cert) == 1 &&
                  SSL_CTX_use_PrivateKey(m_tls->ctx, key) == 1;
        X509_free(cert);
        EVP_PKEY_free(key);
        BIO_free(certBio);
        BIO_free(keyBio);
        if (!ok) {
            throw std::runtime_error("test server: unusable TLS identity");
        }
    }
    m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("test server: cannot listen on loopback");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

RecordingServer::~RecordingServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listenFd);
}

std::string RecordingServer::Origin() const {
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
}

void RecordingServer::SetHandler(Handler handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

std::vector<RecordedRequest> RecordingServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void RecordingServer::ClearRecords() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_fillerSent = 0;
}

void RecordingServer::Run() {
    while (!m_stop.load()) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, PollMs) <= 0) {
            continue;
        }
        int fd = ::accept(m_listenFd, nullptr, nullptr);
        if (fd >= 0) {
            Serve(fd);
        }
    }
}

void RecordingServer::Serve(int fd) {
    SSL* ssl = nullptr;
    if (m_tls) {
        ssl = SSL_new(m_tls->ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            ERR_clear_error();
            SSL_free(ssl);
            ::close(fd);
            return;
        }
    }
    Link link(fd, ssl, m_stop);
    RecordedRequest request;
    if (!ReadRequest(link, request)) {
        return;
    }
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        handler = m_handler;
    }
    Reply reply = handler ? handler(request) : HttpReply(200);
    if (reply.stall) {
        char sink[4096];
        while (link.Read(sink, sizeof sink, 60000) > 0) {
        }
        return;
    }
    if (!link.Write(reply.bytes)) {
        return;
    }
    std::string chunk(reply.fillerChunk, 'x');
    std::size_t left = reply.fillerBytes;
    while (left > 0) {
        if (reply.pauseMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
        }
        std::size_t step = std::min(left, chunk.size());
        if (!link.Write(std::string_view(chunk).substr(0, step))) {
            return;
        }
        m_fillerSent += step;
        left -= step;
    }
    link.Finish();
}

} // namespace kv::test
