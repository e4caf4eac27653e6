// Throw-away certificates: an authority minted at start and one server certificate it signs for
// all of the service's host names.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv::sim {

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct Credential {
    X509Ptr cert;
    PkeyPtr key;
};

std::optional<Credential> MintAuthority(const std::string& commonName);
std::optional<Credential> MintServerCertificate(const Credential& authority,
                                                const std::vector<std::string>& hostNames);
bool WriteCertificatePem(const std::string& path, X509* cert);

} // namespace kv::sim
