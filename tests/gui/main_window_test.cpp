// MainWindow under the offscreen platform: its shape, its controls, what its events start, and
// its side of the operations' window interface.
#include "app/main_window.h"
#include "qt_print.h"
#include "service/operations.h"
#include "test_images.h"
#include "text/codepage.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>

namespace kv {
namespace {

using test::PrintTo;

const QString InitialLink = QString::fromUtf8("支持： 磁力链 | ed2k | ftp | http | https");
const QString Hint = QString::fromUtf8("支持：http | https | ed2k | ftp  | 磁力链");

// Records which action ran, with what, and under which cursor.
struct Recorder {
    struct Call {
        std::string name;
        MainWindowPort* window = nullptr;
        SessionState* session = nullptr;
        Qt::CursorShape cursor = Qt::ArrowCursor;
        bool overridden = false;
    };
    std::vector<Call> calls;
    std::vector<std::string> urls;
    std::function<void(MainWindowPort&)> during; // optional extra work inside an operation

    WindowOperation Operation(std::string name) {
        return [this, name](MainWindowPort& window, SessionState& session) {
            const QCursor* cursor = QApplication::overrideCursor();
            calls.push_back(
                {name, &window, &session, cursor ? cursor->shape() : Qt::ArrowCursor, cursor != nullptr});
            if (during) {
                during(window);
            }
        };
    }

    WindowActions Actions() {
        return {[this] { calls.push_back({"applySkin"}); },
                Operation("refreshCaptcha"),
                Operation("registerAccount"),
                Operation("login"),
                Operation("submitOfflineDownload"),
                [this](std::string_view url) { urls.emplace_back(url); }};
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const Call& call : calls) {
            names.push_back(call.name);
        }
        return names;
    }
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { Build(recorder.Actions()); }

    void Build(WindowActions actions) {
        window = std::make_unique<MainWindow>(std::move(actions), session);
        window->SetMessageBoxPresenter([this](const QString& text) { messages.push_back(text); });
    }

    void ShowActive() {
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    template <typename Widget> Widget* Find(const char* role) {
        auto* widget = window->findChild<Widget*>(QString::fromLatin1(role));
        EXPECT_NE(widget, nullptr) << role;
        return widget;
    }

    QPlainTextEdit* LinkBox() { return Find<QPlainTextEdit>("LinkBox"); }
    QString Status() { return Find<QLabel>("StatusLabel")->text(); }

    Recorder recorder;
    SessionState session;
    std::vector<QString> messages;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, HasItsTitleFixedSizeAndButtons) {
    ShowActive();
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Korvane云\u3000离线下载 "));
    EXPECT_EQ(window->windowTitle().size(), 14);
    // The offscreen platform draws no frame: the client area is the whole outer size.
    EXPECT_EQ(window->frameGeometry().size(), QSize(393, 270));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(MainWindowTest, IsCentredOnTheScreen) {
    ShowActive();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window->frameGeometry().topLeft(),
              QPoint(screen.x() + (screen.width() - 393) / 2, screen.y() + (screen.height() - 270) / 2));
}

struct ControlCase {
    const char* role;
    const char* className;
    QRect rect;
    const char* text;
};

TEST_F(MainWindowTest, HasTheThirteenControlsWithTheirPlacesAndTexts) {
    const ControlCase controls[] = {
        {"AccountCaption", "QLabel", {7, 8, 40, 32}, "账号："},
        {"AccountBox", "QLineEdit", {40, 8, 152, 32}, ""},
        {"RegisterButton", "QPushButton", {208, 8, 72, 32}, "注册"},
        {"PasswordCaption", "QLabel", {7, 44, 40, 32}, "密码："},
        {"PasswordBox", "QLineEdit", {40, 44, 152, 32}, ""},
        {"LoginButton", "QPushButton", {208, 48, 72, 32}, "登录"},
        {"CaptchaCaption", "QLabel", {7, 84, 40, 32}, "验证："},
        {"CaptchaPicture", "QLabel", {43, 84, 93, 32}, ""},
        {"CaptchaBox", "QLineEdit", {141, 84, 51, 32}, ""},
        {"StatusLabel", "QLabel", {200, 88, 176, 24}, ""},
        {"LinkBox", "QPlainTextEdit", {7, 136, 264, 80}, "支持： 磁力链 | ed2k | ftp | http | https"},
        {"AddButton", "QPushButton", {281, 136, 96, 80}, "左侧输入地址\n\n\n加入离线下载"},
        {"CreditsLabel", "QLabel", {1, 216, 384, 33}, nullptr},
    };
    ShowActive();
    int found = 0;
    for (QWidget* child : window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        found += child->objectName().isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(found, 13);
    for (const ControlCase& control : controls) {
        SCOPED_TRACE(control.role);
        auto* widget = Find<QWidget>(control.role);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), control.className);
        EXPECT_EQ(widget->geometry(), control.rect);
        EXPECT_TRUE(widget->isVisible());
        EXPECT_TRUE(widget->isEnabled());
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
            EXPECT_FALSE(label->autoFillBackground());
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            text = edit->text();
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
        } else if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
            text = box->toPlainText();
        }
        if (control.text) {
            EXPECT_EQ(text, QString::fromUtf8(control.text));
        } else {
            EXPECT_FALSE(text.isEmpty()); // the credit line's wording is ours
        }
    }
    EXPECT_TRUE(Find<QLabel>("CaptchaPicture")->pixmap().isNull());
}

TEST_F(MainWindowTest, EditBoxesHaveTheirSettings) {
    for (const char* role : {"AccountBox", "PasswordBox", "CaptchaBox"}) {
        SCOPED_TRACE(role);
        auto* box = Find<QLineEdit>(role);
        EXPECT_EQ(box->font().pixelSize(), 14);
        EXPECT_EQ(box->font().weight(), QFont::Normal);
        EXPECT_EQ(box->echoMode(), QLineEdit::Normal); // the password is readable, as typed
        EXPECT_FALSE(box->isReadOnly());
        EXPECT_GE(box->maxLength(), 1 << 20);
        EXPECT_EQ(box->palette().color(QPalette::Base), QColor(Qt::white));
        EXPECT_EQ(box->palette().color(QPalette::Text), QColor(Qt::black));
    }
    QPlainTextEdit* link = LinkBox();
    EXPECT_EQ(link->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(link->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(link->isReadOnly());
    EXPECT_EQ(link->palette().color(QPalette::Base), QColor(Qt::white));
}

TEST_F(MainWindowTest, ReturnInTheLinkBoxStartsANewLine) {
    ShowActive();
    LinkBox()->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(LinkBox(), "ab");
    QTest::keyClick(LinkBox(), Qt::Key_Return);
    QTest::keyClicks(LinkBox(), "cd");
    EXPECT_EQ(window->ReadText(Control::LinkBox), "ab\r\ncd");
}

int HighlightedPixels(QWidget* edit) {
    const QImage image = edit->grab().toImage();
    const QColor highlight = QApplication::palette(edit).color(QPalette::Active, QPalette::Highlight);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixelColor(x, y) == highlight ? 1 : 0;
        }
    }
    return count;
}

TEST_F(MainWindowTest, SelectionShowsOnlyWhileTheBoxHasFocus) {
    ShowActive();
    QPlainTextEdit* link = LinkBox();
    link->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(link, "ftp://files.example/a");
    link->selectAll();
    EXPECT_GT(HighlightedPixels(link), 50);
    Find<QLineEdit>("PasswordBox")->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(link->textCursor().hasSelection());
    EXPECT_EQ(HighlightedPixels(link), 0);
    link->setFocus(Qt::TabFocusReason);
    EXPECT_GT(HighlightedPixels(link), 50);
}

struct FocusCase {
    const char* name;
    std::optional<QString> before; // nullopt: the box as the window starts
    QString afterFocusIn;
    QString typed;
    QString afterFocusOut;
};

class LinkBoxFocus : public MainWindowTest, public ::testing::WithParamInterface<FocusCase> {};

TEST_P(LinkBoxFocus, ClearsOnlyHintsAndRestoresTheHintWhenLeftEmpty) {
    const FocusCase& step = GetParam();
    ShowActive();
    if (step.before) {
        LinkBox()->setPlainText(*step.before);
    }
    LinkBox()->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(LinkBox()->hasFocus());
    EXPECT_EQ(LinkBox()->toPlainText(), step.afterFocusIn);
    QTest::keyClick(LinkBox(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(LinkBox(), step.typed);
    Find<QLineEdit>("AccountBox")->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(LinkBox()->toPlainText(), step.afterFocusOut);
}

const QString Magnet = QStringLiteral("magnet:?xt=urn:btih:0123456789abcdef&dn=a%20b&tr=udp://t.example:80");

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkBoxFocus,
    ::testing::Values(FocusCase{"initial_text_cleared", std::nullopt, "", "", Hint},
                      FocusCase{"hint_cleared", Hint, "", "", Hint},
                      FocusCase{"typed_link_kept", Magnet, Magnet, "", Magnet},
                      FocusCase{"typed_link_extended", Magnet, Magnet, "&x=1", Magnet + "&x=1"},
                      FocusCase{"hint_with_more_text_kept", Hint + "x", Hint + "x", "", Hint + "x"},
                      FocusCase{"spaces_kept", std::nullopt, "", "   ", "   "},
                      FocusCase{"link_typed_into_cleared_box", std::nullopt, "", "ed2k://|file|a|1|h|/",
                                "ed2k://|file|a|1|h|/"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, ContextMenuFocusChangesLeaveTheLinkBoxAlone) {
    ShowActive();
    LinkBox()->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(LinkBox()->toPlainText().isEmpty());
    QFocusEvent out(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(LinkBox(), &out);
    EXPECT_TRUE(LinkBox()->toPlainText().isEmpty());
    LinkBox()->setPlainText(Hint);
    QFocusEvent in(QEvent::FocusIn, Qt::PopupFocusReason);
    QApplication::sendEvent(LinkBox(), &in);
    EXPECT_EQ(LinkBox()->toPlainText(), Hint);
}

struct ClickCase {
    const char* role;
    Qt::MouseButton button;
    std::vector<std::string> expected;
};

TEST_F(MainWindowTest, ClicksReachTheirOperations) {
    const ClickCase clicks[] = {
        {"RegisterButton", Qt::LeftButton, {"registerAccount"}},
        {"LoginButton", Qt::LeftButton, {"login"}},
        {"AddButton", Qt::LeftButton, {"submitOfflineDownload"}},
        {"CaptchaPicture", Qt::LeftButton, {"refreshCaptcha"}},
        {"CaptchaPicture", Qt::RightButton, {}},
        {"CaptchaPicture", Qt::MiddleButton, {}},
        {"RegisterButton", Qt::RightButton, {}},
        {"CreditsLabel", Qt::LeftButton, {}},
        {"StatusLabel", Qt::LeftButton, {}},
        {"AccountCaption", Qt::LeftButton, {}},
    };
    ShowActive();
    for (const ClickCase& click : clicks) {
        SCOPED_TRACE(std::string(click.role) + " " + std::to_string(click.button));
        recorder.calls.clear();
        QTest::mouseClick(Find<QWidget>(click.role), click.button);
        EXPECT_EQ(recorder.Names(), click.expected);
        for (const auto& call : recorder.calls) {
            EXPECT_EQ(call.window, static_cast<MainWindowPort*>(window.get()));
            EXPECT_EQ(call.session, &session);
        }
    }
}

TEST_F(MainWindowTest, EveryClickOnThePictureFetchesOneCaptcha) {
    ShowActive();
    auto* picture = Find<QLabel>("CaptchaPicture");
    // A quick second click reaches the window as a double click.
    QTest::mouseClick(picture, Qt::LeftButton);
    QTest::mouseDClick(picture, Qt::LeftButton);
    QTest::mouseRelease(picture, Qt::LeftButton);
    EXPECT_EQ(recorder.Names(), (std::vector<std::string>{"refreshCaptcha", "refreshCaptcha"}));
}

TEST_F(MainWindowTest, CreditsLabelOpensTheCreditsPage) {
    ShowActive();
    QTest::mouseClick(Find<QLabel>("CreditsLabel"), Qt::LeftButton);
    QTest::mouseClick(Find<QLabel>("CreditsLabel"), Qt::RightButton);
    EXPECT_EQ(recorder.urls, std::vector<std::string>{KV_CREDITS_URL});
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(MainWindowTest, CreationEventAppliesTheSkinThenFetchesTheCaptcha) {
    window->RunCreationEvent();
    EXPECT_EQ(recorder.Names(), (std::vector<std::string>{"applySkin", "refreshCaptcha"}));
}

TEST_F(MainWindowTest, OperationsRunUnderTheBusyCursor) {
    ShowActive();
    QTest::mouseClick(Find<QPushButton>("LoginButton"), Qt::LeftButton);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_TRUE(recorder.calls[0].overridden);
    EXPECT_EQ(recorder.calls[0].cursor, Qt::WaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, MessageBoxesWaitUnderTheOrdinaryCursor) {
    std::optional<Qt::CursorShape> duringBox;
    window->SetMessageBoxPresenter([&](const QString&) {
        const QCursor* cursor = QApplication::overrideCursor();
        duringBox = cursor ? cursor->shape() : Qt::ArrowCursor;
    });
    recorder.during = [](MainWindowPort& port) { port.ShowMessageBox(T("验证码错误!")); };
    ShowActive();
    QTest::mouseClick(Find<QPushButton>("RegisterButton"), Qt::LeftButton);
    ASSERT_TRUE(duringBox.has_value());
    EXPECT_EQ(*duringBox, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

struct AddCase {
    const char* name;
    std::optional<QString> link; // nullopt: the box as the window starts
    const char* status;
};

// The real submission behind the button; the service's hosts lead to a closed loopback port
// (see CMakeLists.txt), so a link that is sent fails at once, and one that is not leaves no trace.
class AddButtonClick : public MainWindowTest, public ::testing::WithParamInterface<AddCase> {};

const char* const NotSent = "请在左侧输入下载地址";
const char* const SentAndFailed = "离线下载失败,检查账号原因";

TEST_P(AddButtonClick, SubmitsOnlyALink) {
    const AddCase& add = GetParam();
    WindowActions actions = recorder.Actions();
    actions.submitOfflineDownload = SubmitOfflineDownload;
    Build(std::move(actions));
    ShowActive();
    if (add.link) {
        window->WriteText(Control::LinkBox, Utf8ToText(add.link->toStdString()));
    }
    window->WriteText(Control::StatusLabel, T("登录成功"));
    QTest::mouseClick(Find<QPushButton>("AddButton"), Qt::LeftButton);
    EXPECT_EQ(Status(), QString::fromUtf8(add.status));
    EXPECT_TRUE(session.SessionCookies.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, AddButtonClick,
                         ::testing::Values(AddCase{"initial_text", std::nullopt, NotSent},
                                           AddCase{"hint", Hint, NotSent},
                                           AddCase{"empty", QString(), NotSent},
                                           AddCase{"magnet", Magnet, SentAndFailed},
                                           AddCase{"hint_and_more", Hint + " x", SentAndFailed}),
                         [](const auto& info) { return std::string(info.param.name); });

// Leaving the box empty for the button puts the hint back first, and the hint is not sent.
TEST_F(MainWindowTest, AddAfterLeavingTheLinkBoxEmptySendsNothing) {
    WindowActions actions = recorder.Actions();
    actions.submitOfflineDownload = SubmitOfflineDownload;
    Build(std::move(actions));
    ShowActive();
    LinkBox()->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(LinkBox()->toPlainText().isEmpty());
    auto* add = Find<QPushButton>("AddButton");
    add->setFocus(Qt::MouseFocusReason);
    QTest::mouseClick(add, Qt::LeftButton);
    EXPECT_EQ(LinkBox()->toPlainText(), Hint);
    EXPECT_EQ(Status(), QString::fromUtf8(NotSent));
}

struct TextCase {
    Control control;
    const char* role;
};

TEST_F(MainWindowTest, TextsCrossBetweenOurCodePageAndTheWidgets) {
    const TextCase controls[] = {{Control::AccountBox, "AccountBox"},
                                 {Control::PasswordBox, "PasswordBox"},
                                 {Control::CaptchaBox, "CaptchaBox"},
                                 {Control::StatusLabel, "StatusLabel"},
                                 {Control::LinkBox, "LinkBox"}};
    // GBK text, ASCII with the characters forms care about, and a character GBK lacks.
    const char* samples[] = {"离线下载成功", "a&b=c%25+d e", "€ 𠀀 ok", ""};
    for (const TextCase& control : controls) {
        for (const char* sample : samples) {
            SCOPED_TRACE(std::string(control.role) + " " + sample);
            window->WriteText(control.control, Utf8ToText(sample));
            auto* widget = Find<QWidget>(control.role);
            QString shown = widget->property("text").toString();
            if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
                shown = box->toPlainText();
            }
            EXPECT_EQ(shown, QString::fromUtf8(sample));
            EXPECT_EQ(TextToUtf8(window->ReadText(control.control)), sample);
        }
    }
}

TEST_F(MainWindowTest, TypedTextIsReadBackAsOurText) {
    ShowActive();
    auto* password = Find<QLineEdit>("PasswordBox");
    password->setFocus(Qt::MouseFocusReason);
    // QTest types ASCII only; the rest arrives as key events carrying their text.
    for (const QChar c : QString::fromUtf8("Pa&ss=密码%")) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(password, &press);
    }
    EXPECT_EQ(window->ReadText(Control::PasswordBox), T("Pa&ss=密码%"));
}

TEST_F(MainWindowTest, LinkBoxLineBreaksReadAsCrLf) {
    window->WriteText(Control::LinkBox, "http://a.example/1\r\nhttp://b.example/2");
    EXPECT_EQ(LinkBox()->toPlainText(), QStringLiteral("http://a.example/1\nhttp://b.example/2"));
    EXPECT_EQ(window->ReadText(Control::LinkBox), "http://a.example/1\r\nhttp://b.example/2");
}

TEST_F(MainWindowTest, CaptchaPictureShowsDecodableImagesOnly) {
    auto* picture = Find<QLabel>("CaptchaPicture");
    const Bytes png = test::Encode(test::Pattern(93, 32), "PNG");
    window->SetCaptchaPicture(png);
    ASSERT_FALSE(picture->pixmap().isNull());
    EXPECT_EQ(picture->pixmap().size(), QSize(93, 32));

    Bytes truncated = png;
    truncated.resize(png.size() / 2);
    for (const Bytes& refused : {Bytes{}, truncated, test::RandomBytes(300, 7)}) {
        window->SetCaptchaPicture(png);
        window->SetCaptchaPicture(refused);
        EXPECT_TRUE(picture->pixmap().isNull());
    }
}

TEST_F(MainWindowTest, MessageBoxSeamGetsTheText) {
    window->ShowMessageBox(T("注册成功,请去邮箱激活!"));
    EXPECT_EQ(messages, std::vector<QString>{QString::fromUtf8("注册成功,请去邮箱激活!")});
}

// The real box, closed from a timer once it is up.
TEST(InformationBox, IsCaptionedWithOneOkButtonAndNoIcon) {
    QString caption, text;
    std::vector<QMessageBox::StandardButton> buttons;
    QMessageBox::Icon icon = QMessageBox::Critical;
    Qt::WindowModality modality = Qt::NonModal;
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || seen) {
            return;
        }
        seen = true;
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        modality = box->windowModality();
        for (QAbstractButton* button : box->buttons()) {
            buttons.push_back(box->standardButton(button));
        }
        box->button(QMessageBox::Ok)->click();
    });
    poll.start();
    const auto started = std::chrono::steady_clock::now();
    ShowInformationBox(QString::fromUtf8("邮箱已被注册,请更换邮箱!"));
    poll.stop();
    ASSERT_TRUE(seen);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(caption, QString::fromUtf8("信息："));
    EXPECT_EQ(text, QString::fromUtf8("邮箱已被注册,请更换邮箱!"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(modality, Qt::ApplicationModal);
    EXPECT_EQ(buttons, std::vector<QMessageBox::StandardButton>{QMessageBox::Ok});
}

TEST_F(MainWindowTest, DelayWithEventsWaitsAndLetsEventsRun) {
    bool ran = false;
    QTimer::singleShot(10, [&] { ran = true; });
    const auto started = std::chrono::steady_clock::now();
    const std::clock_t cpuStarted = std::clock();
    window->DelayWithEvents(300);
    const double cpuSeconds = double(std::clock() - cpuStarted) / CLOCKS_PER_SEC;
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    EXPECT_TRUE(ran);
    // Waiting sleeps in the event loop; polling would burn the whole interval.
    EXPECT_LT(cpuSeconds, 0.1);
}

TEST_F(MainWindowTest, DelayWithEventsReturnsAtOnceForNoTime) {
    for (int milliseconds : {0, -5}) {
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        window->DelayWithEvents(milliseconds);
        EXPECT_FALSE(ran) << milliseconds;
        QApplication::processEvents();
        EXPECT_TRUE(ran);
    }
}

// The one wait inside an operation lets other handlers run, as a focus change or a click would.
TEST_F(MainWindowTest, HandlersRunDuringTheWaitOfAnOperation) {
    ShowActive();
    window->WriteText(Control::LinkBox, "ftp://files.example/a");
    recorder.during = [&](MainWindowPort& port) {
        if (recorder.calls.size() == 1) {
            QTimer::singleShot(5, [&] { QTest::mouseClick(Find<QLabel>("CaptchaPicture"), Qt::LeftButton); });
            port.DelayWithEvents(66);
        }
    };
    QTest::mouseClick(Find<QPushButton>("AddButton"), Qt::LeftButton);
    EXPECT_EQ(recorder.Names(), (std::vector<std::string>{"submitOfflineDownload", "refreshCaptcha"}));
}

} // namespace
} // namespace kv
