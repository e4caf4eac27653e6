#include "app/main_window.h"

#include "app/captcha_picture.h"
#include "service/hosts.h"
#include "service/operations.h"
#include "text/codepage.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <limits>

namespace kv {
namespace {

constexpr const char* CreditsText = "Korvane云离线下载 · 作者：Korvane 开发组 · 点此访问作者主页";
constexpr const char* AddButtonCaption = "左侧输入地址\n\n\n加入离线下载";

QString ToQString(std::string_view text) {
    const std::string utf8 = TextToUtf8(text);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

Text FromQString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToText(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

template <typename Widget> Widget* Place(QWidget* window, const char* role, QRect rect, Widget* widget) {
    widget->setParent(window);
    widget->setObjectName(QString::fromLatin1(role));
    widget->setGeometry(rect);
    return widget;
}

QLabel* TransparentLabel(QWidget* window, const char* role, QRect rect, const char* utf8) {
    auto* label = Place(window, role, rect, new QLabel);
    // Texts written by the operations are shown as they are, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setText(QString::fromUtf8(utf8));
    return label;
}

void PaintBlackOnWhite(QWidget* edit) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    edit->setPalette(palette);
}

// A selection stays where it is while the box has no focus, but is drawn as plain text.
void ShowSelection(QWidget* edit, bool shown) {
    QPalette palette = edit->palette();
    const QPalette defaults = QApplication::palette(edit);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight,
                         shown ? defaults.color(group, QPalette::Highlight)
                               : palette.color(group, QPalette::Base));
        palette.setColor(group, QPalette::HighlightedText,
                         shown ? defaults.color(group, QPalette::HighlightedText)
                               : palette.color(group, QPalette::Text));
    }
    edit->setPalette(palette);
}

QLineEdit* MakeSignInBox(QWidget* window, const char* role, QRect rect) {
    auto* box = Place(window, role, rect, new QLineEdit);
    QFont font = box->font();
    font.setPixelSize(14);
    font.setWeight(QFont::Normal);
    box->setFont(font);
    box->setMaxLength(std::numeric_limits<int>::max());
    box->setEchoMode(QLineEdit::Normal);
    box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PaintBlackOnWhite(box);
    return box;
}

// A multi-line edit box of the system this window follows reads and writes line breaks as CR LF.
Text LinkBoxText(const QPlainTextEdit* box) {
    return FromQString(box->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n")));
}

void SetLinkBoxText(QPlainTextEdit* box, std::string_view text) {
    box->setPlainText(ToQString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

// Shown while an operation blocks the window; lifted while a message box waits for the user.
class OverrideCursor {
public:
    explicit OverrideCursor(Qt::CursorShape shape) { QApplication::setOverrideCursor(shape); }
    ~OverrideCursor() { QApplication::restoreOverrideCursor(); }
    OverrideCursor(const OverrideCursor&) = delete;
    OverrideCursor& operator=(const OverrideCursor&) = delete;
};

bool IsLeftPress(const QEvent* event) {
    // A quick second click arrives as a double click; it is a press all the same.
    return (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
           static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
}

} // namespace

void ShowInformationBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(MessageBoxCaption), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

MainWindow::MainWindow(WindowActions actions, SessionState& session)
    : m_actions(std::move(actions)), m_session(session), m_presentMessage(ShowInformationBox) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(WindowTitle));
    setFixedSize(WindowOuterWidth, WindowOuterHeight);

    TransparentLabel(this, "AccountCaption", {7, 8, 40, 32}, "账号：");
    m_accountBox = MakeSignInBox(this, "AccountBox", {40, 8, 152, 32});
    auto* registerButton =
        Place(this, "RegisterButton", {208, 8, 72, 32}, new QPushButton(QString::fromUtf8("注册")));
    TransparentLabel(this, "PasswordCaption", {7, 44, 40, 32}, "密码：");
    m_passwordBox = MakeSignInBox(this, "PasswordBox", {40, 44, 152, 32});
    auto* loginButton =
        Place(this, "LoginButton", {208, 48, 72, 32}, new QPushButton(QString::fromUtf8("登录")));
    TransparentLabel(this, "CaptchaCaption", {7, 84, 40, 32}, "验证：");
    m_captchaPicture = Place(this, "CaptchaPicture", {43, 84, 93, 32}, new QLabel);
    m_captchaPicture->setAlignment(Qt::AlignCenter);
    m_captchaPicture->setCursor(Qt::PointingHandCursor);
    m_captchaBox = MakeSignInBox(this, "CaptchaBox", {141, 84, 51, 32});
    m_statusLabel = TransparentLabel(this, "StatusLabel", {200, 88, 176, 24}, "");
    m_linkBox = Place(this, "LinkBox", {7, 136, 264, 80}, new QPlainTextEdit);
    m_linkBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_linkBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_linkBox->setTabChangesFocus(true);
    SetLinkBoxText(m_linkBox, LinkBoxInitialText());
    PaintBlackOnWhite(m_linkBox);
    auto* addButton =
        Place(this, "AddButton", {281, 136, 96, 80}, new QPushButton(QString::fromUtf8(AddButtonCaption)));
    m_creditsLabel = TransparentLabel(this, "CreditsLabel", {1, 216, 384, 33}, CreditsText);
    m_creditsLabel->setCursor(Qt::PointingHandCursor);

    for (QWidget* edit : {static_cast<QWidget*>(m_accountBox), static_cast<QWidget*>(m_passwordBox),
                          static_cast<QWidget*>(m_captchaBox), static_cast<QWidget*>(m_linkBox)}) {
        ShowSelection(edit, false);
        edit->installEventFilter(this);
    }
    m_captchaPicture->installEventFilter(this);
    m_creditsLabel->installEventFilter(this);

    connect(registerButton, &QPushButton::clicked, this, [this] { RunOperation(m_actions.registerAccount); });
    connect(loginButton, &QPushButton::clicked, this, [this] { RunOperation(m_actions.login); });
    connect(addButton, &QPushButton::clicked, this,
            [this] { RunOperation(m_actions.submitOfflineDownload); });

    PlaceOnScreen();
}

void MainWindow::RunCreationEvent() {
    if (m_actions.applySkin) {
        m_actions.applySkin();
    }
    RunOperation(m_actions.refreshCaptcha);
}

void MainWindow::RunOperation(const WindowOperation& operation) {
    if (!operation) {
        return;
    }
    OverrideCursor busy(Qt::WaitCursor);
    operation(*this, m_session);
}

void MainWindow::OnLinkBoxFocus(bool gained) {
    const Text text = LinkBoxText(m_linkBox);
    if (gained) {
        // Only a hint makes way for typing; a link typed earlier stays to be corrected.
        if (text == LinkBoxInitialText() || text == LinkBoxHint()) {
            m_linkBox->clear();
        }
    } else if (text.empty()) {
        SetLinkBoxText(m_linkBox, LinkBoxHint());
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::FocusIn || type == QEvent::FocusOut) {
        // A context menu takes the focus only for a moment; the box is still being edited.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
            auto* edit = static_cast<QWidget*>(watched);
            ShowSelection(edit, type == QEvent::FocusIn);
            if (watched == m_linkBox) {
                OnLinkBoxFocus(type == QEvent::FocusIn);
            }
        }
    } else if (IsLeftPress(event)) {
        if (watched == m_captchaPicture) {
            RunOperation(m_actions.refreshCaptcha);
            return true;
        }
        if (watched == m_creditsLabel) {
            if (m_actions.openUrl) {
                m_actions.openUrl(CreditsUrl());
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool MainWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
        if (isVisible()) {
            PlaceOnScreen();
        }
        break;
    default:
        break;
    }
    return handled;
}

// The outer size is fixed; the client area gives up what the window system's frame takes, which
// is known only once the window is managed. Centred each time that share changes, never after.
void MainWindow::PlaceOnScreen() {
    const QSize extra = isVisible() ? frameGeometry().size() - size() : QSize(0, 0);
    if (extra == m_frameExtra) {
        return;
    }
    m_frameExtra = extra;
    setFixedSize(WindowOuterWidth - extra.width(), WindowOuterHeight - extra.height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - WindowOuterWidth) / 2,
             area.y() + (area.height() - WindowOuterHeight) / 2);
    }
}

QLineEdit* MainWindow::SignInBox(Control control) const {
    switch (control) {
    case Control::AccountBox:
        return m_accountBox;
    case Control::PasswordBox:
        return m_passwordBox;
    case Control::CaptchaBox:
        return m_captchaBox;
    case Control::StatusLabel:
    case Control::LinkBox:
        break;
    }
    return nullptr;
}

Text MainWindow::ReadText(Control control) {
    if (control == Control::LinkBox) {
        return LinkBoxText(m_linkBox);
    }
    if (control == Control::StatusLabel) {
        return FromQString(m_statusLabel->text());
    }
    return FromQString(SignInBox(control)->text());
}

void MainWindow::WriteText(Control control, std::string_view text) {
    if (control == Control::LinkBox) {
        SetLinkBoxText(m_linkBox, text);
    } else if (control == Control::StatusLabel) {
        m_statusLabel->setText(ToQString(text));
    } else {
        SignInBox(control)->setText(ToQString(text));
    }
}

void MainWindow::SetCaptchaPicture(const Bytes& image) {
    const QImage picture = CaptchaPictureImage(image, CaptchaPictureSize);
    if (picture.isNull()) {
        m_captchaPicture->clear();
    } else {
        m_captchaPicture->setPixmap(QPixmap::fromImage(picture));
    }
}

void MainWindow::ShowMessageBox(std::string_view text) {
    if (!m_presentMessage) {
        return;
    }
    OverrideCursor arrow(Qt::ArrowCursor);
    m_presentMessage(ToQString(text));
}

void MainWindow::SetMessageBoxPresenter(MessageBoxPresenter presenter) {
    m_presentMessage = std::move(presenter);
}

void MainWindow::DelayWithEvents(int milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    constexpr int TimerExit = 1;
    const QDeadlineTimer deadline(milliseconds, Qt::PreciseTimer);
    // Waits in the event loop, so the thread sleeps between events instead of polling.
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(std::max<qint64>(1, deadline.remainingTime()), Qt::PreciseTimer, &loop,
                           [&loop] { loop.exit(TimerExit); });
        if (loop.exec() != TimerExit) {
            return; // the application is quitting: nothing is left to wait for
        }
    }
}

} // namespace kv
