#include "tests/integration/loopback.h"

#include <memory>
#include <mutex>

namespace kv::test {

Loopback::Loopback()
    : tls(nullptr, authority.Issue({RoutedHost, "pan.korvane.example", "localhost", "127.0.0.1"})) {
    RouteHostsToLoopback({RoutedHost}, plain.Port(), tls.Port(),
                         WriteTempFile("ca.pem", authority.CertificatePem()));
}

Loopback& Loopback::Get() {
    static Loopback loopback;
    return loopback;
}

void LoopbackTest::SetUp() {
    for (RecordingServer* server : {&net.plain, &net.tls}) {
        server->SetHandler([](const RecordedRequest&) { return HttpReply(200, {}, "ok"); });
        server->ClearRecords();
    }
}

Handler Script(std::vector<Reply> replies) {
    auto state = std::make_shared<std::pair<std::mutex, std::size_t>>();
    return [state, replies = std::move(replies)](const RecordedRequest&) {
        std::lock_guard lock(state->first);
        std::size_t index = std::min(state->second++, replies.size() - 1);
        return replies[index];
    };
}

int ClosedPort() {
    RecordingServer gone(nullptr);
    return gone.Port();
}

} // namespace kv::test
