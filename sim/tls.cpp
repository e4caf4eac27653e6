#include "sim/tls.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace kv::sim {

namespace {

constexpr long ValiditySeconds = 30L * 24 * 3600;

struct X509ExtensionFree {
    void operator()(X509_EXTENSION* ext) const { X509_EXTENSION_free(ext); }
};
struct BnFree {
    void operator()(BIGNUM* bn) const { BN_free(bn); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, X509ExtensionFree> ext(
        X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

// A certificate with a fresh key, a random serial and the given subject, not yet signed.
std::optional<Credential> NewCertificate(const std::string& commonName) {
    Credential made{X509Ptr(X509_new()), PkeyPtr(EVP_EC_gen("P-256"))};
    if (!made.cert || !made.key) {
        return std::nullopt;
    }
    X509* cert = made.cert.get();
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) {
        return std::nullopt;
    }
    serial[0] &= 0x7F; // a positive serial
    std::unique_ptr<BIGNUM, BnFree> bn(BN_bin2bn(serial, sizeof serial, nullptr));
    X509_NAME* name = X509_get_subject_name(cert);
    if (!bn || X509_set_version(cert, 2) != 1 || !BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) ||
        !X509_gmtime_adj(X509_getm_notBefore(cert), -3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert), ValiditySeconds) ||
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("korvane-sim"), -1, -1, 0) != 1 ||
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                                   0) != 1 ||
        X509_set_pubkey(cert, made.key.get()) != 1) {
        return std::nullopt;
    }
    return made;
}

} // namespace

std::optional<Credential> MintAuthority(const std::string& commonName) {
    auto ca = NewCertificate(commonName);
    if (!ca) {
        return std::nullopt;
    }
    X509* cert = ca->cert.get();
    if (X509_set_issuer_name(cert, X509_get_subject_name(cert)) != 1 ||
        !AddExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") ||
        !AddExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !AddExtension(cert, cert, NID_subject_key_identifier, "hash") ||
        X509_sign(cert, ca->key.get(), EVP_sha256()) == 0) {
        return std::nullopt;
    }
    return ca;
}

std::optional<Credential> MintServerCertificate(const Credential& authority,
                                                const std::vector<std::string>& hostNames) {
    if (hostNames.empty()) {
        return std::nullopt;
    }
    auto server = NewCertificate(hostNames.front());
    if (!server) {
        return std::nullopt;
    }
    std::string altNames;
    for (const auto& host : hostNames) {
        altNames += (altNames.empty() ? "DNS:" : ",DNS:") + host;
    }
    X509* cert = server->cert.get();
    X509* issuer = authority.cert.get();
    if (X509_set_issuer_name(cert, X509_get_subject_name(issuer)) != 1 ||
        !AddExtension(cert, issuer, NID_basic_constraints, "critical,CA:FALSE") ||
        !AddExtension(cert, issuer, NID_key_usage, "critical,digitalSignature,keyEncipherment") ||
        !AddExtension(cert, issuer, NID_ext_key_usage, "serverAuth") ||
        !AddExtension(cert, issuer, NID_subject_alt_name, altNames) ||
        !AddExtension(cert, issuer, NID_subject_key_identifier, "hash") ||
        !AddExtension(cert, issuer, NID_authority_key_identifier, "keyid:always") ||
        X509_sign(cert, authority.key.get(), EVP_sha256()) == 0) {
        return std::nullopt;
    }
    return server;
}

bool WriteCertificatePem(const std::string& path, X509* cert) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
    if (!file || PEM_write_X509(file.get(), cert) != 1) {
        return false;
    }
    return std::fclose(file.release()) == 0;
}

} // namespace kv::sim
