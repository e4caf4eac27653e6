// Offline-download submission, the task page, and what bad input gets.
#include "sim_support.h"

namespace kv::sim::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(SimTest, OfflineSubmissionAnswersWithTheCodeOfItsOutcome) {
    const std::string signIn = SignedInCookie();
    const struct {
        std::string link;
        bool signedIn;
        std::string reply; // the whole reply, or its start when it ends in '"'
    } cases[] = {
        {"magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567", true,
         R"({"code":0,"msg":"ok","data":{"task_id":1}})"},
        {"ed2k://|file|a.iso|1024|0123456789ABCDEF0123456789ABCDEF|/", true,
         R"({"code":0,"msg":"ok","data":{"task_id":2}})"},
        {"ftp://files.example.org/a.iso", true, R"({"code":0,"msg":"ok","data":{"task_id":3}})"},
        {"http://files.example.org/a.iso", true, R"({"code":0,"msg":"ok","data":{"task_id":4}})"},
        {"HTTPS://files.example.org/a.iso", true, R"({"code":0,"msg":"ok","data":{"task_id":5}})"},
        {"thunder://QUFodHRwOi8v", true, R"({"code":10003,")"},
        {"http://", true, R"({"code":10003,")"},
        {"", true, R"({"code":10003,")"},
        {" http://files.example.org/a.iso", true, R"({"code":10003,")"},
        // The link box's hint, submitted when the box lost the focus empty.
        {"支持：http | https | ed2k | ftp  | 磁力链", true, R"({"code":10003,")"},
        {"http://files.example.org/a.iso", false, R"({"code":-1,")"},
    };
    std::vector<std::string> stored;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link + (c.signedIn ? "" : " (signed out)"));
        const Exchange reply =
            Post(Cloud("/webdisk/home/offdladd"), "link=" + Escape(c.link), c.signedIn ? signIn : "");
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);
        EXPECT_TRUE(reply.Header("Content-Type").starts_with("application/json"));
        if (c.reply.back() == '"') {
            EXPECT_TRUE(reply.body.starts_with(c.reply)) << reply.body;
        } else {
            EXPECT_EQ(reply.body, c.reply);
            stored.push_back(c.link);
        }
    }
    std::vector<std::string> links;
    for (const auto& task : m_sim.State().tasks) {
        EXPECT_EQ(task.account, "user@example.org");
        links.push_back(task.link);
    }
    EXPECT_EQ(links, stored);
}

TEST_F(SimTest, MagnetLinkArrivesWholeOnlyWhenTheBodyEncodesIt) {
    const std::string magnet = "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567&dn=Big+File&"
                               "tr=udp%3A%2F%2Ftracker.example.org%3A80&tr=http://t2.example.org/announce";
    const struct {
        std::string body;
        std::string arrives;
    } cases[] = {
        {"link=" + Escape(magnet), magnet},
        {"link=" + magnet, "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        m_sim.Reset();
        const std::string cookie = SignedInCookie();
        EXPECT_TRUE(Post(Cloud("/webdisk/home/offdladd"), c.body, cookie).body.starts_with(R"({"code":0,")"));
        const auto tasks = m_sim.State().tasks;
        ASSERT_EQ(tasks.size(), 1u);
        EXPECT_EQ(tasks.front().link, c.arrives);
    }
}

TEST_F(SimTest, TaskPageListsEachAccountsTasksOnAnyHost) {
    const std::string first = SignedInCookie("first@example.org", "one");
    const std::string second = SignedInCookie("second@example.org", "two");
    Post(Cloud("/webdisk/home/offdladd"), "link=" + Escape("http://a.example/<x>&y"), first);
    Post(Cloud("/webdisk/home/offdladd"), "link=ftp://b.example/z", second);
    for (const std::string& url : {m_endpoints.simUrl, Cloud("/")}) {
        SCOPED_TRACE(url);
        const Exchange page = Get(url);
        EXPECT_EQ(page.status, 200);
        const auto firstAt = page.body.find("first@example.org");
        const auto secondAt = page.body.find("second@example.org");
        const auto escapedAt = page.body.find("http://a.example/&lt;x&gt;&amp;y");
        const auto ftpAt = page.body.find("ftp://b.example/z");
        ASSERT_NE(escapedAt, std::string::npos) << page.body;
        ASSERT_NE(ftpAt, std::string::npos);
        EXPECT_LT(firstAt, escapedAt);
        EXPECT_LT(escapedAt, secondAt);
        EXPECT_LT(secondAt, ftpAt);
        EXPECT_FALSE(Contains(page.body, "<x>"));
    }
}

TEST_F(SimTest, BadInputGetsARejectionAndTheServiceKeepsServing) {
    const std::string signIn = SignedInCookie();
    std::string captchaCookie;
    const std::string answer = FetchCaptcha(captchaCookie);
    const std::string callback = "&callback=iframeSubmit_1";
    const std::string oversized = "link=http://a.example/" + std::string(1024 * 1024 + 1, 'a');
    const struct {
        const char* what;
        std::string url;
        std::string body;
        std::string cookie;
        std::vector<std::string> headers;
        long status;
        std::string replyPart;
    } cases[] = {
        {"malformed escape in a registration",
         SsoTls("/user/emailRegSubmit"),
         "email=a%zz@example.org&password=x&regcode=" + answer + callback,
         captchaCookie,
         {},
         400,
         ""},
        {"truncated escape in a login",
         SsoTls("/user/loginsubmit"),
         "loginname=user@example.org&password=pa55word&verify=" + answer + "&next_action=%2",
         captchaCookie,
         {},
         400,
         ""},
        {"malformed escape in a submission",
         Cloud("/webdisk/home/offdladd"),
         "link=http://a.example/%G0",
         signIn,
         {},
         400,
         ""},
        {"body over 1 MiB", Cloud("/webdisk/home/offdladd"), oversized, signIn, {}, 400, ""},
        {"registration without an address",
         SsoTls("/user/emailRegSubmit"),
         "password=x&regcode=" + answer + callback,
         captchaCookie,
         {},
         400,
         ""},
        {"registration without a password",
         SsoTls("/user/emailRegSubmit"),
         "email=nopass@example.org&regcode=" + answer + callback,
         captchaCookie,
         {},
         400,
         ""},
        {"script in the callback name",
         SsoTls("/user/emailRegSubmit"),
         "email=cb@example.org&password=x&regcode=" + answer + "&callback=alert(1)//",
         captchaCookie,
         {},
         400,
         ""},
        {"registration that is not a form",
         SsoTls("/user/emailRegSubmit"),
         "email=json@example.org&password=x&regcode=" + answer + callback,
         captchaCookie,
         {"Content-Type: application/json"},
         200,
         RegistrationMarker("401")},
        {"submission that is not a form",
         Cloud("/webdisk/home/offdladd"),
         "link=http://a.example/",
         signIn,
         {"Content-Type: text/plain"},
         200,
         R"({"code":10003,")"},
        {"submission without a link field",
         Cloud("/webdisk/home/offdladd"),
         "url=http://a.example/",
         signIn,
         {},
         200,
         R"({"code":10003,")"},
        {"login without any field",
         SsoTls("/user/loginsubmit"),
         "",
         captchaCookie,
         {},
         200,
         "\"flag\":\"401\""},
        {"captcha fetched with POST", Sso("/verify/emailreg?1426470650"), "x=1", "", {}, 405, ""},
        {"submission by GET",
         Cloud("/webdisk/home/offdladd?link=http://a.example/"),
         "",
         signIn,
         {},
         405,
         ""},
        {"unknown page", Cloud("/webdisk/nothing"), "", "", {}, 404, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Call call{.url = c.url, .cookie = c.cookie, .headers = c.headers};
        if (!c.body.empty() || c.url.find("loginsubmit") != std::string::npos) {
            call.postBody = c.body;
        }
        const Exchange reply = m_client->Send(call);
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_TRUE(Contains(reply.body, c.replyPart)) << reply.body.substr(0, 300);
    }
    const auto state = m_sim.State();
    EXPECT_EQ(state.accounts.size(), 1u);
    EXPECT_TRUE(state.tasks.empty());
    EXPECT_EQ(Get(m_endpoints.simUrl).status, 200);
    EXPECT_TRUE(Post(Cloud("/webdisk/home/offdladd"), "link=http://a.example/", signIn)
                    .body.starts_with(R"({"code":0,")"));
}

} // namespace
} // namespace kv::sim::testing
