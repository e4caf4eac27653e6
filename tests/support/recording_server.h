// A loopback HTTP(S) server for tests: it records every request byte for byte and answers with
// scripted, possibly faulty, replies (raw bytes, endless filler, a trickle, or silence).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kv::test {

struct RecordedRequest {
    std::string raw;  // every byte that arrived, head and body
    std::string head; // request line and header lines up to and including the empty line
    std::string body;
    std::string requestLine;
    std::vector<std::string> headerLines; // in arrival order, without line ends

    std::string Method() const;
    std::string Target() const;
    // The value of the first header of that name, letter case ignored.
    std::optional<std::string> Header(std::string_view name) const;
    std::size_t HeaderCount(std::string_view name) const;
};

struct Reply {
    std::string bytes;           // written as they stand
    std::size_t fillerBytes = 0; // then this many 'x' bytes, until the client stops taking them
    int pauseMs = 0;             // before each filler chunk of fillerChunk bytes
    std::size_t fillerChunk = 64 * 1024;
    bool stall = false; // answer nothing and hold the connection until the client or the server ends
};

using Handler = std::function<Reply(const RecordedRequest&)>;

// A complete reply: status line, the given header lines, Content-Length, "Connection: close".
Reply HttpReply(int status, const std::vector<std::string>& headerLines = {}, std::string_view body = {});

struct TlsIdentity {
    std::string certificatePem;
    std::string privateKeyPem;
};

// Listens on 127.0.0.1 at an ephemeral port and serves one connection at a time, closing each
// after its reply.
class RecordingServer {
public:
    explicit RecordingServer(Handler handler, std::optional<TlsIdentity> tls = std::nullopt);
    ~RecordingServer();
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    int Port() const { return m_port; }
    // "http://127.0.0.1:port" or "https://127.0.0.1:port".
    std::string Origin() const;
    void SetHandler(Handler handler);
    std::vector<RecordedRequest> Requests() const;
    // Filler bytes that the client took before it went away.
    std::size_t FillerBytesSent() const { return m_fillerSent.load(); }
    void ClearRecords();

private:
    struct Tls;
    void Run();
    void Serve(int fd);

    std::unique_ptr<Tls> m_tls;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_fillerSent{0};
    mutable std::mutex m_mutex;
    Handler m_handler;
    std::vector<RecordedRequest> m_requests;
    std::thread m_thread;
};

} // namespace kv::test
