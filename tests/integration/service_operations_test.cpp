// The four operations end to end against the simulated service, over real HTTP and HTTPS through
// both request routines, with a window that records what the operations do to it.
#include "service/operations.h"
#include "sim/simulator.h"
#include "text/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace kv {
namespace {

class RecordingWindow : public MainWindowPort {
public:
    Text ReadText(Control control) override { return texts[control]; }
    void WriteText(Control control, std::string_view text) override {
        texts[control] = Text(text);
        if (control == Control::LinkBox) {
            linkWrittenAfterDelay = !delays.empty();
        }
    }
    void SetCaptchaPicture(const Bytes& image) override { pictures.push_back(image); }
    void ShowMessageBox(std::string_view text) override { boxes.emplace_back(text); }
    void DelayWithEvents(int milliseconds) override { delays.push_back(milliseconds); }

    std::map<Control, Text> texts;
    std::vector<Bytes> pictures;
    std::vector<Text> boxes;
    std::vector<int> delays;
    bool linkWrittenAfterDelay = false;
};

// One simulator for the whole run: the request layer reads its routing once per process.
class SimEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string error;
        auto endpoints = sim.Start({}, &error);
        ASSERT_TRUE(endpoints) << error;
        ::setenv("KORVANE_CONNECT_TO", endpoints->connectTo.c_str(), 1);
        ::setenv("KORVANE_CA_BUNDLE", endpoints->caBundle.c_str(), 1);
    }
    void TearDown() override { sim.Stop(); }
    sim::Simulator sim;
};

SimEnvironment* const Sim =
    static_cast<SimEnvironment*>(::testing::AddGlobalTestEnvironment(new SimEnvironment)); // gtest owns it

bool IsPng(const Bytes& b) {
    return b.size() > 8 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G';
}

class Operations : public ::testing::Test {
protected:
    void SetUp() override { Sim->sim.Reset(); }

    sim::Simulator& service() { return Sim->sim; }

    // A fresh captcha, typed in correctly (upper case: the operations lower-case it).
    void TypeCaptcha() {
        RefreshCaptcha(window, session);
        window.texts[Control::CaptchaBox] = ToUpperText(service().LastCaptcha());
    }

    void Fill(std::string_view account, std::string_view password) {
        window.texts[Control::AccountBox] = Text(account);
        window.texts[Control::PasswordBox] = Text(password);
    }

    void RegisterAndSignIn(std::string_view account, std::string_view password) {
        Fill(account, password);
        TypeCaptcha();
        RegisterAccount(window, session);
        ASSERT_EQ(window.texts[Control::StatusLabel], T("注册成功,请去邮箱激活!"));
        TypeCaptcha();
        Login(window, session);
        ASSERT_EQ(window.texts[Control::StatusLabel], T("登录成功"));
    }

    const std::vector<sim::Task> Tasks() { return service().State().tasks; }

    RecordingWindow window;
    SessionState session;
};

TEST_F(Operations, RefreshCaptchaShowsTheImageClearsTheBoxAndKeepsItsCookies) {
    window.texts[Control::CaptchaBox] = "old";
    session.CaptchaCookies = "stale=1";
    RefreshCaptcha(window, session);
    ASSERT_EQ(window.pictures.size(), 1u);
    EXPECT_TRUE(IsPng(window.pictures[0]));
    EXPECT_EQ(window.texts[Control::CaptchaBox], "");
    EXPECT_EQ(session.CaptchaCookies.rfind("kv_captcha=", 0), 0u) << session.CaptchaCookies;
    EXPECT_EQ(session.CaptchaCookies.find("stale"), Text::npos) << "replaced, not merged";
    EXPECT_FALSE(service().LastCaptcha().empty());
}

TEST_F(Operations, RegistrationReportsEachOutcome) {
    Fill("new@example.org", "secret");
    RefreshCaptcha(window, session);
    window.texts[Control::CaptchaBox] = "0000"; // captchas never use the look-alike 0
    RegisterAccount(window, session);
    EXPECT_EQ(window.texts[Control::StatusLabel], T("验证码错误!"));
    EXPECT_EQ(window.boxes, (std::vector<Text>{T("验证码错误!")}));
    EXPECT_EQ(window.pictures.size(), 2u) << "a new captcha follows the failure";
    EXPECT_EQ(window.texts[Control::CaptchaBox], "");

    window.boxes.clear();
    TypeCaptcha();
    RegisterAccount(window, session);
    EXPECT_EQ(window.texts[Control::StatusLabel], T("注册成功,请去邮箱激活!"));
    EXPECT_EQ(window.boxes, (std::vector<Text>{T("注册成功,请去邮箱激活!")}));
    ASSERT_EQ(service().State().accounts.size(), 1u);
    EXPECT_EQ(service().State().accounts[0].email, "new@example.org");
    const auto picturesAfterSuccess = window.pictures.size();

    window.boxes.clear();
    TypeCaptcha();
    RegisterAccount(window, session);
    EXPECT_EQ(window.texts[Control::StatusLabel], T("邮箱已被注册,请更换邮箱!"));
    EXPECT_EQ(window.boxes, (std::vector<Text>{T("邮箱已被注册,请更换邮箱!")}));
    EXPECT_EQ(window.pictures.size(), picturesAfterSuccess + 2) << "typed captcha, then the refresh";
}

TEST_F(Operations, LoginSucceedsWithTheRightDetailsAndFailsQuietlyOtherwise) {
    RegisterAndSignIn("user@example.org", "right");
    EXPECT_NE(session.SessionCookies.find("kv_auth="), Text::npos) << session.SessionCookies;
    // The captcha's cookie went with the form, so the typed captcha belonged to this session.
    std::string formCookies;
    for (const auto& request : service().State().requests) {
        if (request.path == "/user/loginsubmit") {
            for (const auto& [name, value] : request.headers) {
                formCookies = name == "Cookie" ? value : formCookies;
            }
        }
    }
    EXPECT_NE(formCookies.find(session.CaptchaCookies), std::string::npos) << formCookies;
    EXPECT_EQ(window.boxes.size(), 1u) << "only the registration's box";

    RecordingWindow other;
    SessionState fresh;
    other.texts[Control::AccountBox] = "user@example.org";
    other.texts[Control::PasswordBox] = "wrong";
    RefreshCaptcha(other, fresh);
    other.texts[Control::CaptchaBox] = service().LastCaptcha();
    Login(other, fresh);
    EXPECT_EQ(other.texts[Control::StatusLabel], T("登录失败,请检查账号、密码和验证码"));
    EXPECT_EQ(fresh.SessionCookies.find("kv_auth="), Text::npos) << fresh.SessionCookies;
    EXPECT_TRUE(other.boxes.empty());
    EXPECT_EQ(other.pictures.size(), 1u) << "login fetches no new captcha";

    // The failed session cannot add tasks; the signed-in one can.
    other.texts[Control::LinkBox] = "http://example.net/file.iso";
    SubmitOfflineDownload(other, fresh);
    EXPECT_EQ(other.texts[Control::StatusLabel], T("离线下载失败,检查账号原因"));
    EXPECT_TRUE(Tasks().empty());
}

TEST_F(Operations, OfflineDownloadBeforeLoginFails) {
    window.texts[Control::LinkBox] = "ed2k://|file|a.iso|1|ABCDEF|/";
    SubmitOfflineDownload(window, session);
    EXPECT_EQ(window.texts[Control::StatusLabel], T("离线下载失败,检查账号原因"));
    EXPECT_EQ(window.texts[Control::LinkBox], "ed2k://|file|a.iso|1|ABCDEF|/")
        << "the link stays for another try";
    EXPECT_TRUE(Tasks().empty());
}

TEST_F(Operations, AMagnetLinkWithSeveralParametersArrivesWhole) {
    RegisterAndSignIn("magnet@example.org", "pw");
    const Text link = "magnet:?xt=urn:btih:0123456789ABCDEF0123456789ABCDEF01234567&dn=Some+Name%20x"
                      "&tr=udp://tracker.example:80/announce&ws=http://seed.example/a?b=c";
    window.texts[Control::LinkBox] = link;
    SubmitOfflineDownload(window, session);
    EXPECT_EQ(window.texts[Control::StatusLabel], T("离线下载成功"));
    EXPECT_EQ(window.delays, (std::vector<int>{66}));
    EXPECT_EQ(window.texts[Control::LinkBox], LinkBoxHint());
    EXPECT_TRUE(window.linkWrittenAfterDelay);
    const auto tasks = Tasks();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].link, link);
    EXPECT_EQ(tasks[0].account, "magnet@example.org");
}

TEST_F(Operations, AnEmptyOrHintLinkBoxSendsNothing) {
    RegisterAndSignIn("hint@example.org", "pw");
    const auto requestsBefore = service().State().requests.size();
    for (const Text& text : {LinkBoxHint(), LinkBoxInitialText(), Text(), Text(" \r\n"), T("　\t")}) {
        window.texts[Control::LinkBox] = text;
        window.texts[Control::StatusLabel] = "";
        SubmitOfflineDownload(window, session);
        EXPECT_EQ(window.texts[Control::StatusLabel], T("请在左侧输入下载地址"));
        EXPECT_EQ(window.texts[Control::LinkBox], text);
    }
    EXPECT_EQ(service().State().requests.size(), requestsBefore);
}

TEST_F(Operations, APasswordWithFormCharactersRegistersAndSignsIn) {
    RegisterAndSignIn("sym@example.org", "a&b+c=d%e f");
    const auto accounts = service().State().accounts;
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].password, "a&b+c=d%e f");
}

TEST_F(Operations, AnUnreachableServiceEndsInTheFailureTexts) {
    // A dropped reply is a failed exchange: empty picture, failure texts, nothing frozen.
    ASSERT_TRUE(service().InjectFault("/verify/emailreg", sim::FaultKind::Drop));
    RefreshCaptcha(window, session);
    ASSERT_EQ(window.pictures.size(), 1u);
    EXPECT_TRUE(window.pictures[0].empty());
    EXPECT_EQ(session.CaptchaCookies, "");

    ASSERT_TRUE(service().InjectFault("/webdisk/home/index", sim::FaultKind::Garbage));
    Login(window, session);
    EXPECT_EQ(window.texts[Control::StatusLabel], T("登录失败,请检查账号、密码和验证码"));
}

} // namespace
} // namespace kv
