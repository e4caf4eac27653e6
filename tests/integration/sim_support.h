// A plain HTTP client for talking to the simulator as any client would: libcurl, routed to the
// listeners by connect-to rules and trusting only the simulator's CA, so names and certificates are
// checked for real.
#pragma once

#include "sim/simulator.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::sim::testing {

struct Call {
    std::string url = {};
    std::optional<std::string> postBody = {}; // POST when present
    std::string cookie = {};                  // Cookie header, none when empty
    std::vector<std::string> headers = {};    // extra header lines
    bool followRedirects = false;
    long maxRedirects = 5;
    long timeoutMs = 5000;
    std::size_t keepBytes = SIZE_MAX; // of the body; the rest is only counted
};

struct Exchange {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string headers; // every header line received, "\r\n" kept
    std::string body;
    std::size_t bodyBytes = 0;

    // name=value of each Set-Cookie line, in order.
    std::vector<std::string> SetCookies() const;
    std::string Header(std::string_view name) const;
};

class Client {
public:
    explicit Client(const Endpoints& endpoints);
    Exchange Send(const Call& call) const;

private:
    std::vector<std::string> m_connectTo;
    std::string m_caBundle;
};

// Starts a simulator with a fixed seed for each test and speaks to it through Client.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Sso(std::string_view pathAndQuery) const;     // http on the sign-on host
    std::string SsoTls(std::string_view pathAndQuery) const;  // https on the sign-on host
    std::string Cloud(std::string_view pathAndQuery) const;   // http on the cloud-disk host
    std::string Control(std::string_view pathAndQuery) const; // the control interface

    Exchange Get(const std::string& url, const std::string& cookie = {}) const;
    Exchange Post(const std::string& url, const std::string& body, const std::string& cookie = {}) const;

    // Fetches a captcha; returns its answer and leaves its cookie in captchaCookie.
    std::string FetchCaptcha(std::string& captchaCookie) const;
    // Registers through a fresh captcha; returns the reply page.
    std::string Register(const std::string& email, const std::string& password) const;
    // Registers the account, signs in and returns the sign-in cookie.
    std::string SignedInCookie(const std::string& email = "user@example.org",
                               const std::string& password = "pa55word") const;

    Simulator m_sim;
    Endpoints m_endpoints;
    std::optional<Client> m_client;
};

// The registration form body the client builds, with the fields given.
std::string RegistrationBody(const std::string& email, const std::string& password,
                             const std::string& regcode);
// The sign-on form body the client builds.
std::string LoginBody(const std::string& account, const std::string& password, const std::string& verify);
std::string RegistrationMarker(std::string_view flag);
// Percent-encodes every byte but letters, digits and "-._~", as a careful client would.
std::string Escape(std::string_view text);
// name=value pieces joined as a Cookie header.
std::string JoinCookies(const std::vector<std::string>& items);

} // namespace kv::sim::testing
