// The real client on a real X desktop, driven with the pointer and the keyboard as a person
// drives it, against korvane-sim where the service is needed.
#include "desktop.h"
#include "process.h"

#include <QImage>
#include <gtest/gtest.h>

#include <map>
#include <set>

#ifdef KV_SIM_PROGRAM
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <httplib.h>
#endif

namespace kv::test {
namespace {

using namespace std::chrono_literals;

const std::string Title = "Korvane云\u3000离线下载 ";
const std::string MessageTitle = "信息：";

// Control rectangles inside the client area.
constexpr Rect AccountBox{40, 8, 152, 32};
constexpr Rect PasswordBox{40, 44, 152, 32};
constexpr Rect CaptchaPicture{43, 84, 93, 32};
constexpr Rect CaptchaBox{141, 84, 51, 32};
constexpr Rect RegisterButton{208, 8, 72, 32};
constexpr Rect LoginButton{208, 48, 72, 32};
constexpr Rect LinkBox{7, 136, 264, 80};
constexpr Rect AddButton{281, 136, 96, 80};

class ClientOnDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(desktop.Ready()) << "no X server or window manager; logs in " << logs.path();
        // A copy of its own: what the client writes beside itself stays out of the build tree.
        program = CopyProgram(KV_CLIENT_PROGRAM, programDir.path(), "korvane-offline");
    }

    // The client on the desktop; as the user "nobody" where file permissions must count.
    void LaunchClient(Environment routing, bool unprivileged = false) {
        routing.emplace_back("XDG_RUNTIME_DIR", logs.path().string());
        routing.emplace_back("QT_QPA_PLATFORM", "xcb");
        // Only for sanitizer builds: system libraries' own leaks are not the client's.
        routing.emplace_back("LSAN_OPTIONS", "suppressions=" KV_LSAN_SUPPRESSIONS);
        std::vector<std::string> args;
        std::filesystem::path executable = program;
        if (unprivileged) {
            args = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program.string()};
            executable = "/usr/bin/setpriv";
        }
        client.emplace(executable, args, desktop.Env(routing), logs.path() / "client.log");
    }

    void StartClient(Environment routing) {
        LaunchClient(std::move(routing));
        const auto found = desktop.WaitForWindow(Title, 30s);
        ASSERT_TRUE(found) << "the window did not appear; " << logs.path() / "client.log";
        window = *found;
        const auto area = desktop.ClientArea(window);
        ASSERT_TRUE(area);
        client_area = *area;
    }

    // The window manager frames the window just after it appears; the window then settles with
    // its frame at the outer size, centred.
    void ExpectCentredFrame() {
        const Rect centred{(Desktop::ScreenWidth - 393) / 2, (Desktop::ScreenHeight - 270) / 2, 393, 270};
        std::optional<Rect> frame;
        EXPECT_TRUE(Eventually(
            [&] {
                frame = desktop.FrameArea(window);
                return frame == centred;
            },
            10s))
            << "frame "
            << (frame ? std::to_string(frame->x) + "," + std::to_string(frame->y) + " " +
                            std::to_string(frame->width) + "x" + std::to_string(frame->height)
                      : "unknown");
        client_area = desktop.ClientArea(window).value_or(client_area);
        EXPECT_LT(client_area.width, 393); // the frame takes its share of the outer size
    }

    bool ClickOn(Rect control, int button = 1) {
        return desktop.Click(client_area.x + control.x + control.width / 2,
                             client_area.y + control.y + control.height / 2, button);
    }

    bool TypeInto(Rect control, const std::string& text) { return ClickOn(control) && desktop.Type(text); }

    // The pixels of a control as shown on screen.
    QImage Grab(Rect control) {
        const auto png = desktop.Screenshot();
        if (!png) {
            return {};
        }
        const QImage screen = QImage::fromData(reinterpret_cast<const uchar*>(png->data()), int(png->size()));
        return screen.copy(client_area.x + control.x, client_area.y + control.y, control.width,
                           control.height);
    }

    static int DistinctColours(const QImage& image) {
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                colours.insert(image.pixel(x, y));
            }
        }
        return int(colours.size());
    }

    void CloseAndExpectStatusZero() {
        ASSERT_TRUE(desktop.Key("alt+F4")); // the window manager's close, as the close box does
        EXPECT_EQ(client->WaitFor(15s), std::optional<int>(0));
    }

    TempDir logs;
    TempDir programDir;
    Desktop desktop{logs.path()};
    std::filesystem::path program;
    std::optional<Child> client;
    std::string window;
    Rect client_area;
};

// Every exchange fails at once on a closed loopback port.
Environment Unreachable() {
    const std::string closed = "127.0.0.1:9";
    return {{"KORVANE_CONNECT_TO", std::string(KV_SSO_HOST) + ":80:" + closed + "," + KV_SSO_HOST +
                                       ":443:" + closed + "," + KV_CLOUD_HOST + ":80:" + closed}};
}

// With the service out of reach the window still comes up, centred, and closes cleanly.
TEST_F(ClientOnDesktop, ComesUpCentredWithoutTheServiceAndClosesWithStatusZero) {
    StartClient(Unreachable());
    ExpectCentredFrame();
    // No captcha arrived: the picture box shows only the skin's plain fill and edge, where a
    // captcha brings its many shades of ink and noise.
    EXPECT_LE(DistinctColours(Grab(CaptchaPicture)), 4);
    CloseAndExpectStatusZero();
}

#ifdef KV_SIM_PROGRAM

// korvane-sim started for one test; its control interface answers on the cloud port.
class Simulation {
public:
    explicit Simulation(const std::filesystem::path& logs)
        : m_process(KV_SIM_PROGRAM, {}, {}, logs / "sim.log", true) {
        const auto deadline = Clock::now() + 30s;
        while (m_variables.size() < 3) {
            const auto line = m_process.ReadLine(deadline);
            if (!line) {
                return;
            }
            const auto equals = line->find('=');
            if (equals != std::string::npos) {
                m_variables[line->substr(0, equals)] = line->substr(equals + 1);
            }
        }
        const std::string url = m_variables["KORVANE_SIM_URL"];
        m_control.emplace(url.substr(0, url.find('/', std::string("http://").size())));
        m_control->set_read_timeout(5, 0);
    }

    bool Ready() const { return m_control.has_value(); }
    Environment Routing() {
        return {{"KORVANE_CONNECT_TO", m_variables["KORVANE_CONNECT_TO"]},
                {"KORVANE_CA_BUNDLE", m_variables["KORVANE_CA_BUNDLE"]}};
    }

    std::string Get(const std::string& path) {
        auto reply = m_control->Get(path.c_str());
        return reply && reply->status == 200 ? reply->body : std::string();
    }
    std::string Captcha() { return Get("/__sim/captcha"); }
    QJsonObject State() {
        return QJsonDocument::fromJson(QByteArray::fromStdString(Get("/__sim/state"))).object();
    }

private:
    Child m_process;
    std::map<std::string, std::string> m_variables;
    std::optional<httplib::Client> m_control;
};

bool HasAccount(const QJsonObject& state, const std::string& email) {
    for (const auto& account : state["accounts"].toArray()) {
        const QJsonValue value = account.isObject() ? account.toObject()["email"] : account;
        if (value.toString().toStdString() == email) {
            return true;
        }
    }
    return false;
}

bool HasTask(const QJsonObject& state, const std::string& email, const std::string& link) {
    for (const auto& task : state["tasks"].toArray()) {
        const QJsonObject fields = task.toObject();
        if (fields["account"].toString().toStdString() == email &&
            fields["link"].toString().toStdString() == link) {
            return true;
        }
    }
    return false;
}

TEST_F(ClientOnDesktop, RegistersSignsInAndHandsOverAMagnetLink) {
    Simulation sim(logs.path());
    ASSERT_TRUE(sim.Ready()) << "korvane-sim gave no routing; " << logs.path() / "sim.log";
    StartClient(sim.Routing());

    ExpectCentredFrame();

    // The first captcha is on screen when the window comes up.
    const QImage firstCaptcha = Grab(CaptchaPicture);
    EXPECT_GT(DistinctColours(firstCaptcha), 4);

    const std::string email = "e2e.person@example.org";
    const std::string password = "Pa&ss+w=rd%1";
    ASSERT_TRUE(TypeInto(AccountBox, email));
    ASSERT_TRUE(TypeInto(PasswordBox, password));
    ASSERT_TRUE(TypeInto(CaptchaBox, sim.Captcha()));
    ASSERT_TRUE(ClickOn(RegisterButton));
    ASSERT_TRUE(desktop.WaitForWindow(MessageTitle, 20s)) << "no message box after Register";
    EXPECT_TRUE(HasAccount(sim.State(), email));
    ASSERT_TRUE(desktop.Key("Return"));
    ASSERT_TRUE(desktop.WaitUntilGone(MessageTitle, 10s));

    // A click on the picture fetches a new captcha and shows it.
    const std::string firstAnswer = sim.Captcha();
    ASSERT_TRUE(ClickOn(CaptchaPicture));
    EXPECT_TRUE(Eventually([&] { return sim.Captcha() != firstAnswer; }, 10s));
    EXPECT_TRUE(Eventually([&] { return Grab(CaptchaPicture) != firstCaptcha; }, 10s));

    ASSERT_TRUE(TypeInto(CaptchaBox, sim.Captcha()));
    ASSERT_TRUE(ClickOn(LoginButton));

    const std::string magnet =
        "magnet:?xt=urn:btih:c9e15763f722f23e98a29decdfae341b98d53056"
        "&dn=Big+Buck+Bunny&tr=udp%3A%2F%2Ftracker.example%3A1337&tr=http://t2.example/announce";
    ASSERT_TRUE(TypeInto(LinkBox, magnet));
    ASSERT_TRUE(ClickOn(AddButton));
    EXPECT_TRUE(Eventually([&] { return HasTask(sim.State(), email, magnet); }, 20s))
        << "the sim holds no task with the whole link for " << email;

    CloseAndExpectStatusZero();
}

std::string FileText(const std::filesystem::path& path) {
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The skin engine on a user's machine: written beside the executable at the first start, kept as
// it is afterwards, and a fatal error box before the window takes input when it cannot be loaded.
class SkinStart : public ClientOnDesktop {
protected:
    std::filesystem::path Engine() const { return programDir.path() / "SkinH_EL.dll"; }

    // The fatal box comes instead of the window; closing it ends the client with -1.
    void ExpectFatalBoxNaming(const std::string& function, Simulation& sim) {
        const auto box = desktop.WaitForWindow(FatalTitle, 30s);
        ASSERT_TRUE(box) << "no fatal error box; " << logs.path() / "client.log";
        EXPECT_TRUE(desktop.WindowsTitled(Title).empty());
        ASSERT_TRUE(desktop.Key("Return"));
        EXPECT_EQ(client->WaitFor(15s), std::optional<int>(-1));
        const std::string log = FileText(logs.path() / "client.log");
        EXPECT_NE(log.find(function), std::string::npos) << log;
        EXPECT_NE(log.find("SkinH_EL.dll"), std::string::npos) << log;
        EXPECT_TRUE(sim.State()["requests"].toArray().isEmpty()) << "the captcha was fetched";
    }

    static inline const std::string FatalTitle = "Korvane云离线下载";
};

TEST_F(SkinStart, FirstStartWritesTheEngineHiddenAndASecondStartKeepsWhatItFinds) {
    StartClient(Unreachable());
    CloseAndExpectStatusZero();
    EXPECT_EQ(ReadFileBytes(Engine()), ReadFileBytes(KV_BUILT_ENGINE));
    EXPECT_EQ(FileText(programDir.path() / ".hidden"), "SkinH_EL.dll\n");

    // Another file of that name is used as it is: here one that records the calls it gets.
    std::filesystem::copy_file(KV_RECORDING_ENGINE, Engine(),
                               std::filesystem::copy_options::overwrite_existing);
    const auto record = logs.path() / "skin-calls";
    Environment env = Unreachable();
    env.emplace_back("KV_SKIN_RECORD", record.string());
    StartClient(env);
    CloseAndExpectStatusZero();
    EXPECT_EQ(ReadFileBytes(Engine()), ReadFileBytes(KV_RECORDING_ENGINE));
    const std::string calls = FileText(record);
    const auto aero = calls.find("SkinH_SetAero 1\n");
    const auto attach = calls.find("SkinH_AttachRes null=0 length=13192 head=.SHE ");
    EXPECT_NE(aero, std::string::npos) << calls;
    EXPECT_NE(attach, std::string::npos) << calls;
    EXPECT_LT(aero, attach) << calls;
}

TEST_F(SkinStart, ADirectoryOfTheEnginesNameIsPresentAndTheMissingEngineIsFatal) {
    Simulation sim(logs.path());
    ASSERT_TRUE(sim.Ready());
    std::filesystem::create_directory(Engine());
    LaunchClient(sim.Routing());
    ExpectFatalBoxNaming("SkinH_SetAero", sim);
    EXPECT_TRUE(std::filesystem::is_empty(Engine())) << "nothing is written into it";
}

TEST_F(SkinStart, AReadOnlyDirectoryWithoutTheEngineIsFatal) {
    Simulation sim(logs.path());
    ASSERT_TRUE(sim.Ready());
    namespace fs = std::filesystem;
    fs::permissions(programDir.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                           fs::perms::group_exec | fs::perms::others_read |
                                           fs::perms::others_exec);
    LaunchClient(sim.Routing(), true);
    ExpectFatalBoxNaming("SkinH_SetAero", sim);
    EXPECT_FALSE(fs::exists(Engine()));
    fs::permissions(programDir.path(), fs::perms::owner_write, fs::perm_options::add);
}

#endif

// Without a GUI runtime there is no window: the start-up stops with its error and -1 at once.
TEST(ClientStartup, WithoutAWindowSystemEndsWithMinusOne) {
    const std::pair<const char*, const char*> platforms[] = {{"no-such-platform", ":0"}, {"xcb", ":65000"}};
    for (const auto& [platform, display] : platforms) {
        SCOPED_TRACE(platform);
        ProcessOptions options;
        options.timeout = 30s;
        options.env = {{"QT_QPA_PLATFORM", platform}, {"DISPLAY", display}};
        const ProcessResult result = RunProcess(KV_CLIENT_PROGRAM, {}, options);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, -1);
        EXPECT_NE(result.err.find("korvane-offline: "), std::string::npos) << result.err;
    }
}

} // namespace
} // namespace kv::test
