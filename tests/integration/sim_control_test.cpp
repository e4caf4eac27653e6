// The control interface, the faults it arms, and the korvane-sim executable.
#include "sim_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <regex>

extern char** environ;

namespace kv::sim::testing {
namespace {

using namespace std::chrono_literals;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(SimTest, StateRecordsAccountsTasksAndEachRequestAsReceived) {
    // A GBK-encoded account name: bytes that are not UTF-8 must come through the JSON intact.
    const std::string gbkAccount = "\xD5\xC5@example.org";
    ASSERT_TRUE(Contains(Register(gbkAccount, "secret"), RegistrationMarker("200")));
    const std::string signIn = SignedInCookie();
    const std::string body = "link=" + Escape("magnet:?xt=urn:btih:abc&dn=a\"b");
    m_client->Send(Call{.url = Cloud("/webdisk/home/offdladd"),
                        .postBody = body,
                        .cookie = signIn,
                        .headers = {"Accept-Language: zh-cn", "X-Probe: one", "X-Probe: two"}});

    const Snapshot state = m_sim.State();
    ASSERT_FALSE(state.requests.empty());
    const RecordedRequest& last = state.requests.back();
    EXPECT_EQ(last.listener, "cloud-http");
    EXPECT_EQ(last.host, DefaultCloudHost());
    EXPECT_EQ(last.method, "POST");
    EXPECT_EQ(last.target, "/webdisk/home/offdladd");
    EXPECT_EQ(last.body, body);
    const auto has = [&](const std::string& name, const std::string& value) {
        return std::count(last.headers.begin(), last.headers.end(), std::pair{name, value});
    };
    EXPECT_EQ(has("Accept-Language", "zh-cn"), 1);
    EXPECT_EQ(has("X-Probe", "one"), 1);
    EXPECT_EQ(has("X-Probe", "two"), 1);
    EXPECT_EQ(has("Cookie", signIn), 1);
    for (const auto& [name, value] : last.headers) {
        EXPECT_NE(name, "REMOTE_ADDR");
    }
    ASSERT_EQ(state.tasks.size(), 1u);
    EXPECT_EQ(state.tasks.front().link, "magnet:?xt=urn:btih:abc&dn=a\"b");

    const Exchange json = Get(Control("/__sim/state"));
    EXPECT_EQ(json.status, 200);
    EXPECT_TRUE(json.Header("Content-Type").starts_with("application/json"));
    EXPECT_TRUE(Contains(json.body, R"({"email":"\udcd5\udcc5@example.org","password":"secret"})"))
        << json.body;
    EXPECT_TRUE(Contains(
        json.body, R"({"task_id":1,"account":"user@example.org","link":"magnet:?xt=urn:btih:abc&dn=a\"b"})"));
    EXPECT_TRUE(Contains(json.body, R"(["X-Probe","one"],["X-Probe","two"])"));
    EXPECT_TRUE(Contains(json.body, "\"body\":\"" + body + "\""));
    EXPECT_TRUE(Contains(json.body, "\"captcha\":\"" + m_sim.LastCaptcha() + "\""));
    // The control interface's own requests are not part of what the service received.
    EXPECT_FALSE(Contains(json.body, "/__sim/"));
}

TEST_F(SimTest, ControlCaptchaTellsTheLatestAnswer) {
    EXPECT_EQ(Get(Control("/__sim/captcha")).status, 404);
    Get(Sso("/verify/emailreg?1426470650"));
    const Exchange first = Get(Control("/__sim/captcha"));
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.body, m_sim.LastCaptcha());
    EXPECT_EQ(first.body.size(), 4u);
    Get(Sso("/verify/emailreg?1426470650"));
    EXPECT_EQ(Get(Control("/__sim/captcha")).body, m_sim.LastCaptcha());
}

TEST_F(SimTest, ResetForgetsAccountsSessionsTasksAndRequests) {
    const std::string signIn = SignedInCookie();
    Post(Cloud("/webdisk/home/offdladd"), "link=http://a.example/", signIn);
    ASSERT_TRUE(m_sim.InjectFault("/webdisk/home/index", FaultKind::Drop));
    const Exchange reset = Post(Control("/__sim/reset"), "");
    EXPECT_EQ(reset.status, 200);
    const Snapshot state = m_sim.State();
    EXPECT_TRUE(state.accounts.empty());
    EXPECT_TRUE(state.tasks.empty());
    EXPECT_TRUE(state.requests.empty());
    EXPECT_EQ(state.lastCaptcha, "");
    const Exchange home = Get(Cloud("/webdisk/home/index"), signIn);
    EXPECT_EQ(home.code, CURLE_OK); // the armed fault went with the rest
    EXPECT_FALSE(Contains(home.body, "退出"));
    // Task numbers start again.
    EXPECT_EQ(Post(Cloud("/webdisk/home/offdladd"), "link=http://a.example/", SignedInCookie()).body,
              R"({"code":0,"msg":"ok","data":{"task_id":1}})");
}

TEST_F(SimTest, FaultRequestsThatNameNoFaultAreRejected) {
    const struct {
        std::string body;
        long status;
    } cases[] = {
        {"path=/webdisk/home/index&kind=drop", 200},
        {"path=/webdisk/home/index&kind=stall&ms=10", 200},
        {"path=/webdisk/home/index&kind=explode", 400},
        {"kind=drop", 400},
        {"path=webdisk&kind=drop", 400},
        {"path=/__sim/state&kind=drop", 400},
        {"path=/webdisk/home/index&kind=stall&ms=soon", 400},
        {"path=%zz&kind=drop", 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(Post(Control("/__sim/fault"), c.body).status, c.status);
    }
    EXPECT_EQ(Get(Control("/__sim/fault")).status, 405);
    EXPECT_EQ(Get(Control("/__sim/nothing")).status, 404);
}

TEST_F(SimTest, EachFaultMisbehavesOnceThenTheServiceAnswersAgain) {
    const std::string home = "/webdisk/home/index";
    const std::string login = "/user/loginsubmit";
    const struct {
        const char* kind;
        std::string path;
        bool tls;
        CURLcode code;
        std::function<void(const Exchange&)> check;
    } cases[] = {
        {"drop", home, false, CURLE_GOT_NOTHING, {}},
        {"drop", login, true, CURLE_GOT_NOTHING, {}},
        {"garbage", home, false, CURLE_UNSUPPORTED_PROTOCOL, {}},
        {"garbage", login, true, CURLE_UNSUPPORTED_PROTOCOL, {}},
        {"stall", home, false, CURLE_OPERATION_TIMEDOUT, {}},
        {"huge-header", home, false, CURLE_RECV_ERROR,
         [](const Exchange& reply) { EXPECT_GT(reply.headers.size(), 256u * 1024); }},
        {"huge-body", home, false, CURLE_OK,
         [](const Exchange& reply) {
             EXPECT_EQ(reply.status, 200);
             EXPECT_GT(reply.bodyBytes, 32u * 1024 * 1024);
             EXPECT_TRUE(reply.body.starts_with("<!DOCTYPE html>")) << reply.body.substr(0, 100);
         }},
        {"huge-body", login, true, CURLE_OK,
         [](const Exchange& reply) {
             EXPECT_EQ(reply.status, 200);
             EXPECT_GT(reply.bodyBytes, 32u * 1024 * 1024);
         }},
        {"redirect-loop", home, false, CURLE_TOO_MANY_REDIRECTS, {}},
        {"redirect-loop", login, true, CURLE_TOO_MANY_REDIRECTS, {}},
        {"bad-cert", login, true, CURLE_PEER_FAILED_VERIFICATION, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + c.path);
        m_sim.Reset();
        ASSERT_EQ(Post(Control("/__sim/fault"), "path=" + c.path + "&kind=" + c.kind).status, 200);
        Call call{.url = c.tls ? SsoTls(c.path) : Cloud(c.path),
                  .followRedirects = true,
                  .timeoutMs = 700,
                  .keepBytes = 4096};
        if (c.tls) {
            call.postBody = "loginname=a&password=b";
        }
        const auto started = std::chrono::steady_clock::now();
        const Exchange faulty = m_client->Send(call);
        EXPECT_EQ(faulty.code, c.code) << curl_easy_strerror(faulty.code);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        if (c.check) {
            c.check(faulty);
        }
        const auto requests = m_sim.State().requests;
        if (std::string_view(c.kind) != "bad-cert") {
            ASSERT_FALSE(requests.empty());
            EXPECT_EQ(requests.front().fault, c.kind);
            EXPECT_EQ(requests.front().path, c.path);
        } else {
            EXPECT_TRUE(requests.empty()); // the handshake failed before any request
        }

        call.timeoutMs = 5000;
        const Exchange healthy = m_client->Send(call);
        EXPECT_EQ(healthy.code, CURLE_OK) << curl_easy_strerror(healthy.code);
        EXPECT_EQ(healthy.status, 200);
        EXPECT_LT(healthy.bodyBytes, 64u * 1024);
        EXPECT_EQ(m_sim.State().requests.back().fault, "");
    }
}

TEST_F(SimTest, RedirectLoopPointsBackAtTheSameResource) {
    ASSERT_TRUE(m_sim.InjectFault("/verify/emailreg?1426470650", FaultKind::RedirectLoop));
    const Exchange first = Get(Sso("/verify/emailreg?1426470650"));
    EXPECT_EQ(first.status, 302);
    const std::string next = first.Header("Location");
    EXPECT_TRUE(next.starts_with(Sso("/verify/emailreg?1426470650&"))) << next;
    const Exchange second = Get(next);
    EXPECT_EQ(second.status, 302);
    EXPECT_TRUE(second.Header("Location").starts_with(Sso("/verify/emailreg?1426470650&"))) << next;
    EXPECT_NE(second.Header("Location"), next);
    EXPECT_EQ(m_sim.LastCaptcha(), ""); // no captcha was issued along the loop
}

TEST_F(SimTest, AStalledRequestHoldsUpNeitherOthersNorStop) {
    ASSERT_TRUE(m_sim.InjectFault("/webdisk/home/index", FaultKind::Stall, 30s));
    auto stalled = std::async(std::launch::async, [this] {
        return m_client->Send(Call{.url = Cloud("/webdisk/home/index"), .timeoutMs = 20000});
    });
    // Wait until the stalled request has arrived.
    for (int i = 0; i < 200 && m_sim.State().requests.empty(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(m_sim.State().requests.size(), 1u);
    const Exchange other = Get(Cloud("/webdisk/home/index"));
    EXPECT_EQ(other.code, CURLE_OK);
    EXPECT_EQ(other.status, 200);

    const auto started = std::chrono::steady_clock::now();
    m_sim.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_EQ(stalled.get().code, CURLE_GOT_NOTHING);
}

TEST_F(SimTest, StopRemovesTheCaBundleAndFreesThePorts) {
    ASSERT_TRUE(std::filesystem::exists(m_endpoints.caBundle));
    m_sim.Stop();
    EXPECT_FALSE(std::filesystem::exists(m_endpoints.caBundle));
    EXPECT_EQ(Get(m_endpoints.simUrl).code, CURLE_COULDNT_CONNECT);
    // The same simulator starts again on the very ports it had.
    Options again;
    again.ssoHttpPort = m_endpoints.ssoHttpPort;
    again.ssoHttpsPort = m_endpoints.ssoHttpsPort;
    again.cloudHttpPort = m_endpoints.cloudHttpPort;
    std::string error;
    const auto restarted = m_sim.Start(again, &error);
    ASSERT_TRUE(restarted) << error;
    EXPECT_EQ(restarted->connectTo, m_endpoints.connectTo);
    EXPECT_FALSE(m_sim.Start(again, &error));
    EXPECT_EQ(error, "already running");
}

TEST(SimStart, FailsOnAPortInUse) {
    Simulator first;
    const auto taken = first.Start(Options{});
    ASSERT_TRUE(taken);
    Simulator second;
    Options clash;
    clash.cloudHttpPort = taken->cloudHttpPort;
    std::string error;
    EXPECT_FALSE(second.Start(clash, &error));
    EXPECT_TRUE(Contains(error, std::to_string(taken->cloudHttpPort))) << error;
}

// korvane-sim run as a child with its stdout on a pipe.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> arguments) {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        m_out = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        arguments.insert(arguments.begin(), KV_SIM_EXECUTABLE);
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, KV_SIM_EXECUTABLE, &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
    }
    ~SimProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) {
            close(m_out);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Everything printed until `lines` lines are complete, the pipe closes or the time is up.
    std::string ReadLines(int lines, std::chrono::milliseconds limit) {
        std::string text;
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::count(text.begin(), text.end(), '\n') < lines &&
               std::chrono::steady_clock::now() < until) {
            pollfd ready{m_out, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0) {
                continue;
            }
            char buffer[512];
            const ssize_t got = read(m_out, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

    // The exit status, or -1 when it has not ended in time.
    int WaitForExit(std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    void Signal(int signal) const { kill(m_pid, signal); }
    bool Started() const { return m_pid > 0 && m_out >= 0; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

TEST(SimExecutable, PrintsTheRoutingLinesServesAndEndsOnEitherSignal) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        SimProcess sim({"--captcha-format", "jpeg", "--seed", "7"});
        ASSERT_TRUE(sim.Started());
        const std::string printed = sim.ReadLines(3, 10s);
        const std::regex shape(
            "KORVANE_CONNECT_TO=" + DefaultSsoHost() + ":80:127\\.0\\.0\\.1:(\\d+)," + DefaultSsoHost() +
            ":443:127\\.0\\.0\\.1:(\\d+)," + DefaultCloudHost() +
            ":80:127\\.0\\.0\\.1:(\\d+)\nKORVANE_CA_BUNDLE=(/[^\n]+)\nKORVANE_SIM_URL=http://"
            "127\\.0\\.0\\.1:(\\d+)/\n");
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(printed, parts, shape)) << printed;
        EXPECT_EQ(parts[3], parts[5]);
        ASSERT_TRUE(std::filesystem::exists(parts[4].str()));

        Endpoints endpoints;
        endpoints.connectTo = printed.substr(19, printed.find('\n') - 19);
        endpoints.caBundle = parts[4];
        const Client client(endpoints);
        const Exchange captcha =
            client.Send(Call{.url = "http://" + DefaultSsoHost() + "/verify/emailreg?1426470650"});
        EXPECT_EQ(captcha.Header("Content-Type"), "image/jpeg");
        const Exchange tls =
            client.Send(Call{.url = "https://" + DefaultSsoHost() + "/user/loginsubmit", .postBody = ""});
        EXPECT_EQ(tls.code, CURLE_OK) << curl_easy_strerror(tls.code);
        EXPECT_EQ(tls.status, 200);

        sim.Signal(signal);
        EXPECT_EQ(sim.WaitForExit(5s), 0);
        EXPECT_FALSE(std::filesystem::exists(parts[4].str()));
    }
}

TEST(SimExecutable, RefusesArgumentsItDoesNotKnow) {
    const std::vector<std::string> wrong[] = {
        {"--verbose"},
        {"--sso-http"},
        {"--sso-http", "70000"},
        {"--cloud-http", "-1"},
        {"--captcha-format", "gif"},
        {"--seed", "x"},
    };
    for (const auto& arguments : wrong) {
        SCOPED_TRACE(arguments.front() + (arguments.size() > 1 ? " " + arguments[1] : ""));
        SimProcess sim(arguments);
        ASSERT_TRUE(sim.Started());
        EXPECT_EQ(sim.WaitForExit(5s), 2);
        EXPECT_EQ(sim.ReadLines(1, 100ms), "");
    }
}

} // namespace
} // namespace kv::sim::testing
