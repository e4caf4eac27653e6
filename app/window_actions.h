// What the main window's events start. The program binds these to the service operations and
// the skin; tests bind recorders, so the window can be driven without a network.
#pragma once

#include "service/window.h"

#include <functional>
#include <string_view>

namespace kv {

using WindowOperation = std::function<void(MainWindowPort& window, SessionState& session)>;

struct WindowActions {
    // First step of the creation event, before the first captcha is fetched.
    std::function<void()> applySkin;
    WindowOperation refreshCaptcha;
    WindowOperation registerAccount;
    WindowOperation login;
    WindowOperation submitOfflineDownload;
    // CreditsLabel hands its address here; the result is not examined.
    std::function<void(std::string_view url)> openUrl;
};

// The program's own binding: the skin hook, the service operations and the browser.
WindowActions ProgramActions();

} // namespace kv
