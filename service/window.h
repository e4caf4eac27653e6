// What the service operations need of the main window, and the session state the shell owns.
// The Qt window implements MainWindowPort; tests implement it with a recording object.
#pragma once

#include "text/text.h"

namespace kv {

enum class Control { AccountBox, PasswordBox, CaptchaBox, StatusLabel, LinkBox };

class MainWindowPort {
public:
    virtual ~MainWindowPort() = default;
    virtual Text ReadText(Control control) = 0;
    virtual void WriteText(Control control, std::string_view text) = 0;
    // Encoded image bytes; empty or undecodable bytes leave the picture box empty.
    virtual void SetCaptchaPicture(const Bytes& image) = 0;
    // Modal box captioned "信息：" with one OK button; returns when the user closes it.
    virtual void ShowMessageBox(std::string_view text) = 0;
    // Keeps processing window events until the time has passed.
    virtual void DelayWithEvents(int milliseconds) = 0;
};

// The program's two cookie strings, alive for the whole run.
struct SessionState {
    Text SessionCookies;
    Text CaptchaCookies;
};

} // namespace kv
