// The four operations the window's events start; each runs to completion on the window's thread.
#pragma once

#include "service/window.h"

namespace kv {

// Fetches a new captcha image, shows it, clears the captcha box, replaces CaptchaCookies.
void RefreshCaptcha(MainWindowPort& window, SessionState& session);
// Registers the account by e-mail with the typed password and captcha.
void RegisterAccount(MainWindowPort& window, SessionState& session);
// Signs in through the single-sign-on host and checks the cloud-disk home page.
void Login(MainWindowPort& window, SessionState& session);
// Hands the link in LinkBox to the service's offline-download list.
void SubmitOfflineDownload(MainWindowPort& window, SessionState& session);

// LinkBox's two hint texts: the one it starts with, and the one put back when it is left empty
// or after a link was taken.
const Text& LinkBoxInitialText();
const Text& LinkBoxHint();
// True when the box holds a hint text, nothing, or only white space: there is no link to send.
bool HoldsNoLink(std::string_view linkBoxText);

} // namespace kv
