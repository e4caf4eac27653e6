// The process-wide loopback pair that the service's host names are routed to: one plain and one
// TLS recording server, with a test authority trusted through the routing variables.
#pragma once

#include "tests/support/recording_server.h"
#include "tests/support/test_pki.h"

#include <gtest/gtest.h>

#include <ostream>

namespace kv::test {

inline constexpr const char* RoutedHost = "sso.korvane.example";

struct Loopback {
    TestAuthority authority{"korvane test root"};
    RecordingServer plain{nullptr};
    RecordingServer tls;

    Loopback();
    // Started and routed on first use, before the network layer reads the routing variables.
    static Loopback& Get();
};

// Every network test starts from fresh handlers and empty records on the routed pair.
class LoopbackTest : public testing::Test {
protected:
    void SetUp() override;
    Loopback& net = Loopback::Get();
};

// A reply to each request from a fixed list, the last one repeating.
Handler Script(std::vector<Reply> replies);

namespace {
// Table cases print as their names in test lists and failures. This unnamed namespace is the one
// each test file declares its cases in, so the lookup finds it.
template <typename Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}
} // namespace

// A loopback port that nothing listens on any more.
int ClosedPort();

inline std::string Str(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace kv::test
