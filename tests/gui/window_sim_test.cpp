// The window with the program's own actions against korvane-sim in-process: what a person sees
// in the window after each click, over real HTTP and HTTPS.
#include "app/main_window.h"
#include "qt_print.h"
#include "sim/simulator.h"
#include "text/codepage.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

// Built once per captcha format; the suite carries the format in its name.
#ifndef KV_CAPTCHA_FORMAT
#define KV_CAPTCHA_FORMAT Png
#endif
#define KV_SUITE_NAME(format) WindowAgainst##format##Sim
#define KV_SUITE(format) KV_SUITE_NAME(format)
#define WindowAgainstSim KV_SUITE(KV_CAPTCHA_FORMAT)

namespace kv {
namespace {

class WindowAgainstSim : public ::testing::Test {
protected:
    // One simulator for the whole binary: the routing is read once per process, at its first exchange.
    static void SetUpTestSuite() {
        sim::Options options;
        options.seed = 7;
        options.captchaFormat = sim::CaptchaFormat::KV_CAPTCHA_FORMAT;
        std::string error;
        simulator = std::make_unique<sim::Simulator>();
        const auto endpoints = simulator->Start(options, &error);
        ASSERT_TRUE(endpoints) << error;
        ::setenv("KORVANE_CONNECT_TO", endpoints->connectTo.c_str(), 1);
        ::setenv("KORVANE_CA_BUNDLE", endpoints->caBundle.c_str(), 1);
    }
    static void TearDownTestSuite() { simulator.reset(); }

    void SetUp() override {
        ASSERT_NE(simulator, nullptr);
        simulator->Reset();
        WindowActions actions = ProgramActions();
        actions.openUrl = [](std::string_view) {}; // no browser in a test
        // The skin has tests of its own; deploying it here would leave the engine in the build tree.
        actions.applySkin = [] {};
        window = std::make_unique<MainWindow>(std::move(actions), session);
        window->SetMessageBoxPresenter([this](const QString& text) { messages.push_back(text); });
        window->show();
    }

    void Click(const char* role) { QTest::mouseClick(window->findChild<QPushButton*>(role), Qt::LeftButton); }
    QString Status() { return window->findChild<QLabel*>("StatusLabel")->text(); }
    bool PictureShown() { return !window->findChild<QLabel*>("CaptchaPicture")->pixmap().isNull(); }
    void TypeCaptcha() { window->WriteText(Control::CaptchaBox, simulator->LastCaptcha()); }

    static inline std::unique_ptr<sim::Simulator> simulator;
    SessionState session;
    std::vector<QString> messages;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowAgainstSim, RegisterSignInAndAddALink) {
    window->RunCreationEvent();
    EXPECT_TRUE(PictureShown());
    EXPECT_FALSE(session.CaptchaCookies.empty());

    window->WriteText(Control::AccountBox, "window@example.org");
    window->WriteText(Control::PasswordBox, T("密码&+=%"));
    TypeCaptcha();
    Click("RegisterButton");
    EXPECT_EQ(Status(), QString::fromUtf8("注册成功,请去邮箱激活!"));
    EXPECT_EQ(messages, std::vector<QString>{Status()});

    // The same address again: taken, with a new captcha and an empty captcha box.
    const std::string firstCaptcha = simulator->LastCaptcha();
    Click("RegisterButton");
    EXPECT_EQ(Status(), QString::fromUtf8("邮箱已被注册,请更换邮箱!"));
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_NE(simulator->LastCaptcha(), firstCaptcha);
    EXPECT_EQ(window->ReadText(Control::CaptchaBox), "");
    EXPECT_TRUE(PictureShown());

    TypeCaptcha();
    Click("LoginButton");
    EXPECT_EQ(Status(), QString::fromUtf8("登录成功"));

    const std::string magnet =
        "magnet:?xt=urn:btih:c9e15763f722f23e98a29decdfae341b98d53056&dn=a+b&tr=udp://t:1";
    window->WriteText(Control::LinkBox, magnet);
    Click("AddButton");
    EXPECT_EQ(Status(), QString::fromUtf8("离线下载成功"));
    EXPECT_EQ(window->findChild<QPlainTextEdit*>("LinkBox")->toPlainText(),
              QString::fromUtf8("支持：http | https | ed2k | ftp  | 磁力链"));
    const auto tasks = simulator->State().tasks;
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].account, "window@example.org");
    EXPECT_EQ(tasks[0].link, magnet);
}

TEST_F(WindowAgainstSim, WrongCaptchaSaysSoAndShowsANewOne) {
    window->RunCreationEvent();
    const std::string first = simulator->LastCaptcha();
    window->WriteText(Control::AccountBox, "someone@example.org");
    window->WriteText(Control::PasswordBox, "secret");
    window->WriteText(Control::CaptchaBox, "zzzz" == first ? "yyyy" : "zzzz");
    Click("RegisterButton");
    EXPECT_EQ(Status(), QString::fromUtf8("验证码错误!"));
    EXPECT_EQ(messages, std::vector<QString>{Status()});
    EXPECT_NE(simulator->LastCaptcha(), first);
    EXPECT_TRUE(PictureShown());
    EXPECT_EQ(window->ReadText(Control::CaptchaBox), "");
}

} // namespace
} // namespace kv
