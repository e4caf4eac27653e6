// The program's one window: thirteen controls at fixed places, the wiring of their events to
// the window's actions, and the window side of the service operations (MainWindowPort).
// Controls are found by their role names: each control's objectName is its role (AccountBox...).
#pragma once

#include "app/window_actions.h"
#include "service/window.h"

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv {

// The window's outer size where the window system draws a frame, its client size where none.
constexpr int WindowOuterWidth = 393;
constexpr int WindowOuterHeight = 270;
constexpr QSize CaptchaPictureSize(93, 32);

// UTF-8 texts the window shows.
inline constexpr const char* WindowTitle = "Korvane云\u3000离线下载 ";
inline constexpr const char* MessageBoxCaption = "信息：";

class MainWindow final : public QWidget, public MainWindowPort {
public:
    using MessageBoxPresenter = std::function<void(const QString& text)>;

    MainWindow(WindowActions actions, SessionState& session);

    // The creation event: the skin step, then the first captcha. The start-up routine runs it
    // once, before the window is shown and the event loop starts.
    void RunCreationEvent();

    // MainWindowPort.
    Text ReadText(Control control) override;
    void WriteText(Control control, std::string_view text) override;
    void SetCaptchaPicture(const Bytes& image) override;
    void ShowMessageBox(std::string_view text) override;
    void DelayWithEvents(int milliseconds) override;

    // Message boxes go through here; tests put a recorder in place of the modal box.
    void SetMessageBoxPresenter(MessageBoxPresenter presenter);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void RunOperation(const WindowOperation& operation);
    QLineEdit* SignInBox(Control control) const;
    void OnLinkBoxFocus(bool gained);
    void PlaceOnScreen();

    WindowActions m_actions;
    SessionState& m_session;
    MessageBoxPresenter m_presentMessage;
    QSize m_frameExtra; // the frame's share of the outer size once the window system reports it

    QLineEdit* m_accountBox = nullptr;
    QLineEdit* m_passwordBox = nullptr;
    QLineEdit* m_captchaBox = nullptr;
    QLabel* m_captchaPicture = nullptr;
    QLabel* m_statusLabel = nullptr;
    QPlainTextEdit* m_linkBox = nullptr;
    QLabel* m_creditsLabel = nullptr;
};

// The modal box the window shows by default: caption "信息：", the text, one OK button, no icon.
void ShowInformationBox(const QString& text);

} // namespace kv
