// The four operations. Each reads the controls, makes its exchanges through one of the two
// request routines, and reports a one-line outcome in StatusLabel.
#include "service/operations.h"

#include "http/com_request.h"
#include "http/cookies.h"
#include "http/wininet_request.h"
#include "service/forms.h"
#include "service/hosts.h"
#include "service/page_decoding.h"
#include "service/stamp.h"
#include "text/codepage.h"
#include "text/extract.h"

namespace kv {
namespace {

struct RegistrationOutcome {
    const char* flag;
    const char* message; // UTF-8 in the source
    bool newCaptcha;
};

constexpr RegistrationOutcome RegistrationOutcomes[] = {
    {"200", "注册成功,请去邮箱激活!", false},
    {"401", "验证码错误!", true},
    {"404", "邮箱已被注册,请更换邮箱!", true},
};

Text RegistrationMarker(std::string_view flag) {
    return JoinText({"{\"flag\":\"", flag, "\",\"username\":\"\"})}catch(e){}</script>"});
}

} // namespace

const Text& LinkBoxInitialText() {
    static const Text text = T("支持： 磁力链 | ed2k | ftp | http | https");
    return text;
}

const Text& LinkBoxHint() {
    static const Text text = T("支持：http | https | ed2k | ftp  | 磁力链");
    return text;
}

bool HoldsNoLink(std::string_view linkBoxText) {
    if (linkBoxText == LinkBoxInitialText() || linkBoxText == LinkBoxHint()) {
        return true;
    }
    // Blanks, full-width ones included, and line breaks are no link.
    return RemoveSpaces(linkBoxText).find_first_not_of("\t\r\n") == Text::npos;
}

void RefreshCaptcha(MainWindowPort& window, SessionState& session) {
    const Bytes image = WinInetHttpRequest({.url = CaptchaUrl(), .returnedCookies = &session.CaptchaCookies});
    window.SetCaptchaPicture(image);
    window.WriteText(Control::CaptchaBox, "");
}

void RegisterAccount(MainWindowPort& window, SessionState& session) {
    const Text captcha = ToLowerText(window.ReadText(Control::CaptchaBox));
    const Text stamp = MillisecondStamp();
    const Text account = window.ReadText(Control::AccountBox);
    const Text password = window.ReadText(Control::PasswordBox);
    const Text body = RegistrationFormBody(account, password, captcha, stamp);

    const Text reply = BytesToText(WinInetHttpRequest(
        {.url = RegistrationUrl(), .method = 1, .bodyText = body, .cookiesToSend = &session.CaptchaCookies}));

    // Each marker found is its own outcome, in this order.
    for (const auto& outcome : RegistrationOutcomes) {
        if (FindText(reply, RegistrationMarker(outcome.flag)) == -1) {
            continue;
        }
        const Text message = T(outcome.message);
        window.WriteText(Control::StatusLabel, message);
        window.ShowMessageBox(message);
        if (outcome.newCaptcha) {
            RefreshCaptcha(window, session);
        }
    }
}

void Login(MainWindowPort& window, SessionState& session) {
    Text returned;

    ComHttpRequest(
        {.url = SignOnPageUrl(), .cookies = &session.SessionCookies, .returnedCookies = &returned});
    MergeCookies(session.SessionCookies, returned);
    // The captcha's cookies join the session so the typed captcha belongs to it.
    MergeCookies(session.SessionCookies, session.CaptchaCookies);

    const Text captcha = ToLowerText(window.ReadText(Control::CaptchaBox));
    const Text stamp = MillisecondStamp();
    const Text account = window.ReadText(Control::AccountBox);
    const Text password = window.ReadText(Control::PasswordBox);
    const Text body = SignOnFormBody(account, password, captcha, stamp);

    ComHttpRequest({.url = SignOnFormUrl(),
                    .method = 1,
                    .postText = body,
                    .cookies = &session.SessionCookies,
                    .returnedCookies = &returned,
                    .noRedirect = true});
    MergeCookies(session.SessionCookies, returned);

    const Bytes home = ComHttpRequest(
        {.url = CloudHomeUrl(), .cookies = &session.SessionCookies, .returnedCookies = &returned});
    const Text page = PercentDecode(BytesToText(home), true);

    const bool signedIn = FindText(page, T("退出")) != -1 && FindText(page, T("帐号中心")) != -1;
    window.WriteText(Control::StatusLabel, signedIn ? T("登录成功") : T("登录失败,请检查账号、密码和验证码"));
}

void SubmitOfflineDownload(MainWindowPort& window, SessionState& session) {
    const Text link = window.ReadText(Control::LinkBox);
    if (HoldsNoLink(link)) {
        window.WriteText(Control::StatusLabel, T("请在左侧输入下载地址"));
        return;
    }
    const Text reply = BytesToText(ComHttpRequest({.url = OfflineDownloadUrl(),
                                                   .method = 1,
                                                   .postText = OfflineDownloadFormBody(link),
                                                   .cookies = &session.SessionCookies}));
    if (TextBetween(reply, "{\"code\":", ",\"") == "0") {
        window.WriteText(Control::StatusLabel, T("离线下载成功"));
        window.DelayWithEvents(66);
        window.WriteText(Control::LinkBox, LinkBoxHint());
    } else {
        window.WriteText(Control::StatusLabel, T("离线下载失败,检查账号原因"));
    }
}

} // namespace kv
