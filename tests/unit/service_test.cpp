// The service's request texts: stamp, page decoding, encoded addresses and the three form bodies.
#include "service/forms.h"
#include "service/hosts.h"
#include "service/page_decoding.h"
#include "service/stamp.h"
#include "text/codepage.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kv {
namespace {

bool AllDigits(const Text& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == Text::npos;
}

TEST(MillisecondStamp, SecondsSinceTheReferenceThenThreeMillisecondDigits) {
    const Text stamp = MillisecondStamp();
    ASSERT_EQ(stamp.size(), 13u) << stamp;
    ASSERT_TRUE(AllDigits(stamp)) << stamp;
    // The seconds are local seconds since 1970-01-01 08:00:00, i.e. Unix time shifted by the
    // zone's distance from UTC+8.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const long long expected = static_cast<long long>(now) + local.tm_gmtoff - 8 * 3600;
    const long long seconds = std::stoll(stamp.substr(0, 10));
    EXPECT_LE(std::llabs(seconds - expected), 2) << stamp;

    const Text secondsOnly = MillisecondStamp(true);
    EXPECT_EQ(secondsOnly.size(), 10u);
    EXPECT_LE(std::llabs(std::stoll(secondsOnly) - seconds), 2);
    EXPECT_EQ(MillisecondStamp(false).size(), 13u);
}

TEST(MillisecondStamp, PadsTheMillisecondsToThreeDigits) {
    // Sample until small millisecond values have shown up; their padding must hold.
    bool sawPadded = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!sawPadded && std::chrono::steady_clock::now() < deadline) {
        const Text stamp = MillisecondStamp();
        ASSERT_EQ(stamp.size(), 13u) << stamp;
        sawPadded = stamp[10] == '0';
    }
    EXPECT_TRUE(sawPadded);
}

TEST(PercentDecode, Table) {
    const std::tuple<Text, bool, Text> cases[] = {
        {"%41%42c", false, "ABc"},
        {"%e4%b8%ad", false, "\xE4\xB8\xAD"},
        {"%e4%b8%ad", true, "\xD6\xD0"},
        {"ab%", false, "ab"},
        {"ab%4", false, "ab@"},
        {"a%00b", false, "ab"},
        {"%zz", false, "\xDE"},
        {"%2G", false, "\x1E"},
        {"%%41", false,
         "\xE4"
         "1"},
        {"a+b", false, "a+b"},
        {"", false, ""},
        {"", true, ""},
        {"\xE9\x80\x80\xE5\x87\xBA", true, T("退出")},
        {"%E5%B8%90%E5%8F%B7 x", true, T("帐号") + " x"},
    };
    for (const auto& [input, convert, expected] : cases) {
        EXPECT_EQ(PercentDecode(input, convert), expected) << input;
    }
    EXPECT_EQ(PercentDecode("%41"), "A");
}

TEST(Addresses, EncodedOnceAndTwice) {
    EXPECT_EQ(EncodeQueryValue("http://h.example/a?b=c&d%"), "http%3A%2F%2Fh.example%2Fa%3Fb%3Dc%26d%25");
    EXPECT_EQ(EncodeQueryValue(EncodeQueryValue("a:/")), "a%253A%252F");
    EXPECT_EQ(CloudLoginUrl(), "http://" + CloudHost() + "/webdisk/index/login");
    EXPECT_EQ(SignOnPageUrl(), "http://" + SsoHost() + "/?ver=2.0&next_action=http%3A%2F%2F" + CloudHost() +
                                   "%2Fwebdisk%2Findex%2Flogin&vertical=true");
    EXPECT_EQ(CaptchaUrl(), "http://" + SsoHost() + "/verify/emailreg?1426470650");
}

TEST(FormValues, TypedValuesArriveAsTyped) {
    EXPECT_EQ(EncodeFormValue("a&b+c=d%e f"), "a%26b%2Bc%3Dd%25e%20f");
    EXPECT_EQ(EncodeFormValue("Az09-._~"), "Az09-._~");
    // Our text is code page 936; the value goes out as UTF-8.
    EXPECT_EQ(EncodeFormValue(T("中")), "%E4%B8%AD");
    EXPECT_EQ(EncodeFormValue(""), "");
}

TEST(FormBodies, ByteForByte) {
    const Text cloud = CloudHost(), sso = SsoHost();
    EXPECT_EQ(
        RegistrationFormBody("me@example.org", "p&w=1", "AbC9", "1426470650123"),
        "email=me%40example.org&password=p%26w%3D1&regcode=abc9&from=&referrer=http%3A%2F%2F" + cloud +
            "%2Fwebdisk%2Findex%2Flogin&random=0.19955328353724133&callback=iframeSubmit_1426470650123");
    EXPECT_EQ(SignOnFormBody("me", "pw", "XyZ", "1"),
              "loginname=me&account=me&password=pw&autologin=true&memberme=true&referrer=http%3A%2F%2F" +
                  sso +
                  "%2Fuser%2Femailreg%3Fver%3D2.0%26vertical%3Dtrue%26email%3D%26next_action%3Dhttp%253A%"
                  "252F%252F" +
                  cloud + "%252Fwebdisk%252Findex%252Flogin&verify=xyz&next_action=http%253A%252F%252F" +
                  cloud + "%252Fwebdisk%252Findex%252Flogin&encoder=&newLogin=&callback=iframeSubmit_1");
    EXPECT_EQ(OfflineDownloadFormBody("magnet:?xt=urn:btih:AB&dn=a b&tr=udp://t:1"),
              "link=magnet%3A%3Fxt%3Durn%3Abtih%3AAB%26dn%3Da%20b%26tr%3Dudp%3A%2F%2Ft%3A1");
}

} // namespace
} // namespace kv
