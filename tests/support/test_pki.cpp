#include "tests/support/test_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kv::test {
namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Cert = std::unique_ptr<X509, CertDeleter>;

void Check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test pki: ") + what);
    }
}

Key NewKey() {
    Key key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "key generation");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value.c_str());
    Check(extension != nullptr, "extension");
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

Cert NewCertificate(EVP_PKEY* subjectKey, const std::string& commonName, int fromDays, int toDays) {
    Cert cert(X509_new());
    Check(cert != nullptr, "certificate");
    X509_set_version(cert.get(), 2);
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), static_cast<long>(fromDays) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(toDays) * 86400);
    X509_set_pubkey(cert.get(), subjectKey);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    return cert;
}

std::string Pem(X509* cert) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string Pem(EVP_PKEY* key) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

bool IsIpv4(const std::string& name) {
    in_addr address{};
    return inet_pton(AF_INET, name.c_str(), &address) == 1;
}

} // namespace

struct TestAuthority::Keys {
    Key key;
    Cert cert;
};

TestAuthority::TestAuthority(const std::string& commonName) : m_keys(std::make_unique<Keys>()) {
    m_keys->key = NewKey();
    m_keys->cert = NewCertificate(m_keys->key.get(), commonName, -1, 30);
    X509* cert = m_keys->cert.get();
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    AddExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert, cert, NID_subject_key_identifier, "hash");
    Check(X509_sign(cert, m_keys->key.get(), EVP_sha256()) > 0, "signing the authority");
    m_certificatePem = Pem(cert);
}

TestAuthority::~TestAuthority() = default;

TlsIdentity TestAuthority::Issue(const std::vector<std::string>& names, int validFromDays,
                                 int validToDays) const {
    Check(!names.empty(), "a certificate needs a name");
    Key key = NewKey();
    Cert cert = NewCertificate(key.get(), names.front(), validFromDays, validToDays);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(m_keys->cert.get()));
    std::string altNames;
    for (const std::string& name : names) {
        altNames += (altNames.empty() ? "" : ",") + std::string(IsIpv4(name) ? "IP:" : "DNS:") + name;
    }
    AddExtension(cert.get(), m_keys->cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), m_keys->cert.get(), NID_key_usage, "critical,digitalSignature");
    AddExtension(cert.get(), m_keys->cert.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), m_keys->cert.get(), NID_subject_alt_name, altNames);
    AddExtension(cert.get(), m_keys->cert.get(), NID_authority_key_identifier, "keyid");
    Check(X509_sign(cert.get(), m_keys->key.get(), EVP_sha256()) > 0, "signing a certificate");
    return {Pem(cert.get()), Pem(key.get())};
}

std::string WriteTempFile(const std::string& name, const std::string& content) {
    std::string pattern = "/tmp/kv-test-XXXXXX";
    Check(mkdtemp(pattern.data()) != nullptr, "temporary directory");
    std::string path = pattern + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

void RouteHostsToLoopback(const std::vector<std::string>& hosts, int plainPort, int tlsPort,
                          const std::string& caBundlePath) {
    std::string rules;
    for (const std::string& host : hosts) {
        if (!rules.empty()) {
            rules += ',';
        }
        rules += host + ":80:127.0.0.1:" + std::to_string(plainPort) + "," + host +
                 ":443:127.0.0.1:" + std::to_string(tlsPort);
    }
    setenv("KORVANE_CONNECT_TO", rules.c_str(), 1);
    setenv("KORVANE_CA_BUNDLE", caBundlePath.c_str(), 1);
}

} // namespace kv::test
