// Captcha, registration, sign-on and the home page, spoken to over HTTP as a client would.
#include "sim_support.h"

#include <png.h>

#include <algorithm>
#include <functional>

namespace kv::sim::testing {
namespace {

const std::string SignedInMarkers[] = {"退出", "帐号中心"};
// The same words as a page may deliver them percent-encoded.
const std::string EncodedMarkers[] = {"%E9%80%80%E5%87%BA", "%E5%B8%90%E5%8F%B7%E4%B8%AD%E5%BF%83"};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct Dimensions {
    int width = 0;
    int height = 0;
    int inkPixels = 0; // dark enough to be a glyph's stroke
};

std::optional<Dimensions> DecodePng(const std::string& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) {
        return std::nullopt;
    }
    Dimensions seen{static_cast<int>(image.width), static_cast<int>(image.height), 0};
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
        seen.inkPixels += std::max({pixels[i], pixels[i + 1], pixels[i + 2]}) < 120 ? 1 : 0;
    }
    return seen;
}

// Size from the baseline frame header; a whole decode is the picture box's business.
std::optional<Dimensions> JpegFrameSize(const std::string& bytes) {
    if (bytes.size() < 4 || bytes.compare(0, 2, "\xFF\xD8") != 0 ||
        bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") != 0) {
        return std::nullopt;
    }
    const auto at = bytes.find("\xFF\xC0");
    if (at == std::string::npos || at + 9 > bytes.size()) {
        return std::nullopt;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    return Dimensions{byte(at + 7) * 256 + byte(at + 8), byte(at + 5) * 256 + byte(at + 6), 0};
}

TEST(SimCaptcha, IsAnImageOfFourCharactersWithASessionCookieInEitherFormat) {
    for (const auto format : {CaptchaFormat::Png, CaptchaFormat::Jpeg}) {
        SCOPED_TRACE(format == CaptchaFormat::Png ? "png" : "jpeg");
        Simulator sim;
        Options options;
        options.captchaFormat = format;
        const auto endpoints = sim.Start(options);
        ASSERT_TRUE(endpoints);
        const Exchange reply =
            Client(*endpoints)
                .Send(Call{.url = "http://" + DefaultSsoHost() + "/verify/emailreg?1426470650"});
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);
        const auto size = format == CaptchaFormat::Png ? DecodePng(reply.body) : JpegFrameSize(reply.body);
        ASSERT_TRUE(size);
        EXPECT_EQ(size->width, 93);
        EXPECT_EQ(size->height, 32);
        EXPECT_EQ(reply.Header("Content-Type"), format == CaptchaFormat::Png ? "image/png" : "image/jpeg");
        ASSERT_EQ(reply.SetCookies().size(), 1u);
        EXPECT_TRUE(reply.SetCookies().front().starts_with("kv_captcha="));

        const std::string answer = sim.LastCaptcha();
        ASSERT_EQ(answer.size(), 4u);
        for (const char c : answer) {
            EXPECT_EQ(std::string_view("0oO1lLiI").find(c), std::string_view::npos) << answer;
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << answer;
        }
    }
}

TEST_F(SimTest, CaptchaImageCarriesGlyphsAndChangesWithTheAnswer) {
    const Exchange first = Get(Sso("/verify/emailreg?1426470650"));
    const std::string firstAnswer = m_sim.LastCaptcha();
    const auto drawn = DecodePng(first.body);
    ASSERT_TRUE(drawn);
    // Four glyphs of 3x3 blocks leave a few hundred dark pixels; the noise alone leaves few.
    EXPECT_GT(drawn->inkPixels, 200);
    const Exchange second = Get(Sso("/verify/emailreg?1426470650"));
    EXPECT_NE(first.body, second.body);
    EXPECT_NE(firstAnswer, m_sim.LastCaptcha());
}

TEST_F(SimTest, RegistrationAnswersWithExactlyOneOfTheThreeMarkers) {
    ASSERT_NE(Register("taken@example.org", "secret"), "");
    struct Case {
        const char* what;
        std::string email;
        bool sendCookie;
        bool refetchFirst; // a newer captcha for the same session replaces the one answered
        std::function<std::string(const std::string&)> typed;
        const char* flag;
    };
    const auto asShown = [](const std::string& answer) { return answer; };
    const Case cases[] = {
        {"new address", "new@example.org", true, false, asShown, "200"},
        {"answer in lower case", "lower@example.org", true, false,
         [](const std::string& answer) {
             std::string lower = answer;
             std::transform(lower.begin(), lower.end(), lower.begin(),
                            [](unsigned char c) { return std::tolower(c); });
             return lower;
         },
         "200"},
        {"wrong answer", "wrong@example.org", true, false,
         [](const std::string&) { return std::string("zzzz"); }, "401"},
        {"empty answer", "empty@example.org", true, false, [](const std::string&) { return std::string(); },
         "401"},
        {"no captcha cookie", "nocookie@example.org", false, false, asShown, "401"},
        {"answer of a replaced captcha", "stale@example.org", true, true, asShown, "401"},
        {"address already registered", "taken@example.org", true, false, asShown, "404"},
        {"registered address in other letter case", "Taken@Example.org", true, false, asShown, "404"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string cookie;
        const std::string answer = FetchCaptcha(cookie);
        if (c.refetchFirst) {
            std::string sameSession = cookie;
            FetchCaptcha(sameSession);
            ASSERT_EQ(sameSession, cookie);
            ASSERT_NE(m_sim.LastCaptcha(), answer);
        }
        const Exchange reply =
            Post(SsoTls("/user/emailRegSubmit"), RegistrationBody(c.email, "secret", c.typed(answer)),
                 c.sendCookie ? cookie : "");
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);
        for (const char* flag : {"200", "401", "404"}) {
            EXPECT_EQ(Contains(reply.body, RegistrationMarker(flag)), std::string_view(flag) == c.flag)
                << flag << " in " << reply.body;
        }
    }
    const auto accounts = m_sim.State().accounts;
    std::vector<std::string> emails;
    for (const auto& account : accounts) {
        emails.push_back(account.email);
    }
    EXPECT_EQ(emails,
              (std::vector<std::string>{"taken@example.org", "new@example.org", "lower@example.org"}));
}

TEST_F(SimTest, RegistrationFieldsAreDecodedAsAFormReaderDecodesThem) {
    // The client inserts the password unencoded, so what arrives is what form decoding makes of it.
    const struct {
        std::string sent;
        std::string stored;
    } cases[] = {
        {"plain", "plain"}, {"two+words", "two words"},    {"fifty%25", "fifty%"}, {"pa&ss", "pa"},
        {"x=y", "x=y"},     {"%E5%AF%86", "\xE5\xAF\x86"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].sent);
        const std::string email = "form" + std::to_string(i) + "@example.org";
        EXPECT_TRUE(Contains(Register(email, cases[i].sent), RegistrationMarker("200")));
        const auto accounts = m_sim.State().accounts;
        const auto found = std::find_if(accounts.begin(), accounts.end(),
                                        [&](const Account& account) { return account.email == email; });
        ASSERT_NE(found, accounts.end());
        EXPECT_EQ(found->password, cases[i].stored);
    }
}

TEST_F(SimTest, SignOnPageSetsAVisitCookieOnce) {
    const std::string page = "/?ver=2.0&next_action=http%3A%2F%2F" + DefaultCloudHost() +
                             "%2Fwebdisk%2Findex%2Flogin&vertical=true";
    const Exchange first = Get(Sso(page));
    EXPECT_EQ(first.status, 200);
    ASSERT_EQ(first.SetCookies().size(), 1u);
    EXPECT_TRUE(first.SetCookies().front().starts_with("kv_visit="));
    EXPECT_TRUE(Contains(first.body, "http://" + DefaultCloudHost() + "/webdisk/index/login"));
    const Exchange again = Get(Sso(page), first.SetCookies().front());
    EXPECT_EQ(again.status, 200);
    EXPECT_TRUE(again.SetCookies().empty());
}

TEST_F(SimTest, LoginSetsTheSignInCookieAndRedirectsToTheDecodedNextAction) {
    ASSERT_TRUE(Contains(Register("user@example.org", "pa55word"), RegistrationMarker("200")));
    std::string captchaCookie;
    const std::string answer = FetchCaptcha(captchaCookie);
    // The session cookies the client has gathered by now travel along with the captcha's.
    const std::string cookies = JoinCookies({Get(Sso("/?ver=2.0")).SetCookies().front(), captchaCookie});
    const Exchange reply =
        Post(SsoTls("/user/loginsubmit"), LoginBody("User@Example.org", "pa55word", answer), cookies);
    ASSERT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, 302);
    EXPECT_EQ(reply.Header("Location"), "http://" + DefaultCloudHost() + "/webdisk/index/login");
    const auto set = reply.SetCookies();
    ASSERT_EQ(set.size(), 1u);
    EXPECT_TRUE(set.front().starts_with("kv_auth="));
    EXPECT_NE(set.front(), "kv_auth=deleted");

    const Exchange home = Get(Cloud("/webdisk/home/index"), set.front());
    EXPECT_EQ(home.status, 200);
    EXPECT_TRUE(Contains(home.Header("Content-Type"), "utf-8"));
    for (const auto& marker : SignedInMarkers) {
        EXPECT_TRUE(Contains(home.body, marker)) << marker;
    }
    EXPECT_TRUE(Contains(home.body, EncodedMarkers[0]) || Contains(home.body, EncodedMarkers[1]))
        << home.body;
}

TEST_F(SimTest, LoginRedirectsOnlyToTheServicesOwnSites) {
    ASSERT_TRUE(Contains(Register("user@example.org", "pa55word"), RegistrationMarker("200")));
    const std::string fallback = "http://" + DefaultCloudHost() + "/webdisk/index/login";
    const struct {
        std::string field; // as it appears in the body
        std::string location;
    } cases[] = {
        {"http%253A%252F%252F" + DefaultCloudHost() + "%252Fwebdisk%252Fhome%252Findex",
         "http://" + DefaultCloudHost() + "/webdisk/home/index"},
        {"https%253A%252F%252F" + DefaultSsoHost() + "%252F", "https://" + DefaultSsoHost() + "/"},
        {"http%253A%252F%252Fevil.example%252F", fallback},
        {"http%253A%252F%252F" + DefaultCloudHost() + ".evil.example%252F", fallback},
        {"http%253A%252F%252F" + DefaultCloudHost() + "%250D%250AX-Injected%253A%25201", fallback},
        {"javascript%253Aalert(1)", fallback},
        {"", fallback},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        std::string cookie;
        const std::string answer = FetchCaptcha(cookie);
        const std::string body = "loginname=user@example.org&password=pa55word&verify=" + answer +
                                 "&next_action=" + c.field + "&callback=iframeSubmit_1";
        const Exchange reply = Post(SsoTls("/user/loginsubmit"), body, cookie);
        EXPECT_EQ(reply.status, 302);
        EXPECT_EQ(reply.Header("Location"), c.location);
        EXPECT_EQ(reply.Header("X-Injected"), "");
    }
}

TEST_F(SimTest, FailedLoginDeletesTheSignInCookieAndSignsNobodyIn) {
    ASSERT_TRUE(Contains(Register("user@example.org", "pa55word"), RegistrationMarker("200")));
    const struct {
        const char* what;
        std::string account;
        std::string password;
        bool rightCaptcha;
        bool sendCookie;
    } cases[] = {
        {"wrong password", "user@example.org", "wrong", true, true},
        {"password in other letter case", "user@example.org", "PA55WORD", true, true},
        {"unknown account", "nobody@example.org", "pa55word", true, true},
        {"empty account", "", "pa55word", true, true},
        {"wrong captcha", "user@example.org", "pa55word", false, true},
        {"no captcha cookie", "user@example.org", "pa55word", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string cookie;
        const std::string answer = FetchCaptcha(cookie);
        const Exchange reply = Post(SsoTls("/user/loginsubmit"),
                                    LoginBody(c.account, c.password, c.rightCaptcha ? answer : "zzzz"),
                                    c.sendCookie ? cookie : "");
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.Header("Location"), "");
        EXPECT_TRUE(reply.Header("Set-Cookie").starts_with("kv_auth=deleted; ")) << reply.headers;
        EXPECT_TRUE(Contains(reply.body, "\"flag\":\"")) << reply.body;
        const Exchange home = Get(Cloud("/webdisk/home/index"), JoinCookies(reply.SetCookies()));
        for (const auto& marker : SignedInMarkers) {
            EXPECT_FALSE(Contains(home.body, marker)) << marker;
        }
    }
}

TEST_F(SimTest, HomePageShowsTheMarkersOnlyToASignedInCookie) {
    const std::string signIn = SignedInCookie();
    ASSERT_TRUE(signIn.starts_with("kv_auth="));
    const std::string token = signIn.substr(signIn.find('=') + 1);
    const struct {
        std::string cookie;
        bool signedIn;
    } cases[] = {
        {"", false},
        {"kv_auth=deleted", false},
        {"kv_auth=" + token.substr(1), false},
        {"kv_auth", false},
        {";;; = ;kv_auth=", false},
        {"kv_auth=\"\"", false},
        {std::string(6000, 'j') + "=" + std::string(1000, 'k'), false},
        {"\x01\xff\xfe=\x80; kv_auth=\x7f", false},
        {"KV_AUTH=" + token, false},
        {signIn, true},
        {"a=1;" + signIn + ";=b", true},
        {"kv_auth=\"" + token + "\"", true},
        {"kv_auth=" + token + "; kv_auth=stale", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cookie.substr(0, 80));
        const Exchange home = Get(Cloud("/webdisk/home/index"), c.cookie);
        ASSERT_EQ(home.code, CURLE_OK);
        EXPECT_EQ(home.status, 200);
        for (const auto& marker : SignedInMarkers) {
            EXPECT_EQ(Contains(home.body, marker), c.signedIn) << marker;
        }
        for (const auto& marker : EncodedMarkers) {
            EXPECT_TRUE(c.signedIn || !Contains(home.body, marker)) << marker;
        }
    }
}

TEST_F(SimTest, EachHostAnswersOnlyForItsOwnName) {
    // Right port, wrong Host header: as a virtual host the service does not have.
    const Exchange foreign =
        Get("http://127.0.0.1:" + std::to_string(m_endpoints.ssoHttpPort) + "/verify/emailreg");
    EXPECT_EQ(foreign.status, 404);
    EXPECT_TRUE(foreign.SetCookies().empty());
    const Exchange crossed =
        m_client->Send(Call{.url = Cloud("/webdisk/home/index"), .headers = {"Host: " + DefaultSsoHost()}});
    EXPECT_EQ(crossed.status, 404);
    EXPECT_EQ(Get(Sso("/webdisk/home/index")).status, 404);
    EXPECT_EQ(Get(Cloud("/webdisk/home/index")).status, 200);
}

TEST_F(SimTest, SigningOutEndsTheSession) {
    const std::string signIn = SignedInCookie();
    const Exchange out = Get(Cloud("/webdisk/logout"), signIn);
    EXPECT_EQ(out.status, 302);
    EXPECT_TRUE(out.Header("Set-Cookie").starts_with("kv_auth=deleted"));
    EXPECT_FALSE(Contains(Get(Cloud("/webdisk/home/index"), signIn).body, "退出"));
}

} // namespace
} // namespace kv::sim::testing
