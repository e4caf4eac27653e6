// A throw-away certification authority minted at test time, and the routing variables that point
// the network layer's host names at loopback servers trusting it.
#pragma once

#include "tests/support/recording_server.h"

#include <memory>
#include <string>
#include <vector>

namespace kv::test {

class TestAuthority {
public:
    explicit TestAuthority(const std::string& commonName);
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    const std::string& CertificatePem() const { return m_certificatePem; }
    // A server certificate for the names (DNS names, or dotted IPv4 addresses), valid from
    // validFromDays to validToDays relative to now.
    TlsIdentity Issue(const std::vector<std::string>& names, int validFromDays = -1,
                      int validToDays = 30) const;

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
    std::string m_certificatePem;
};

// Writes the text to a fresh file in a private temporary directory; returns its path.
std::string WriteTempFile(const std::string& name, const std::string& content);

// Sets KORVANE_CONNECT_TO (each host's ports 80 and 443 to the two loopback ports) and
// KORVANE_CA_BUNDLE. The network layer reads them at its first exchange, so call this before.
void RouteHostsToLoopback(const std::vector<std::string>& hosts, int plainPort, int tlsPort,
                          const std::string& caBundlePath);

} // namespace kv::test
