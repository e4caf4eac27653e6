#include "sim/pages.h"

#include "sim/form.h"

namespace kv::sim {

namespace {

std::string Page(std::string_view title, std::string_view body) {
    std::string page = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    page += HtmlEscape(title);
    page += "</title>\n</head>\n<body>\n";
    page += body;
    page += "\n</body>\n</html>\n";
    return page;
}

std::string TaskItems(const std::vector<Task>& tasks, std::string_view account) {
    std::string items;
    for (const auto& task : tasks) {
        if (task.account == account) {
            items +=
                "<li data-task-id=\"" + std::to_string(task.id) + "\">" + HtmlEscape(task.link) + "</li>\n";
        }
    }
    return items.empty() ? "<p>没有离线任务</p>" : "<ul class=\"tasks\">\n" + items + "</ul>";
}

} // namespace

std::string CallbackPage(std::string_view callback, std::string_view json) {
    std::string body = "<script type=\"text/javascript\">try{window.parent.";
    body += callback;
    body += "(";
    body += json;
    body += ")}catch(e){}</script>";
    return Page("Korvane", body);
}

std::string SignOnPage(std::string_view submitUrl, std::string_view nextAction,
                       std::string_view registerUrl) {
    std::string body =
        "<h1>Korvane 通行证登录</h1>\n<form method=\"post\" action=\"" + HtmlEscape(submitUrl) +
        "\" target=\"iframe_submit\">\n"
        "<input name=\"loginname\"> <input name=\"password\" type=\"password\">\n"
        "<img src=\"/verify/emailreg?1426470650\" alt=\"captcha\"> <input name=\"verify\">\n"
        "<input type=\"hidden\" name=\"next_action\" value=\"" +
        HtmlEscape(nextAction) +
        "\">\n<button type=\"submit\">登录</button>\n</form>\n"
        "<p><a href=\"" +
        HtmlEscape(registerUrl) + "\">注册新账号</a></p>\n<iframe name=\"iframe_submit\"></iframe>";
    return Page("Korvane 通行证", body);
}

std::string HomePage(std::string_view email, const std::vector<Task>& tasks,
                     std::string_view accountCentreUrl) {
    // The account-centre link names its page in its query, percent-encoded, as the real one does.
    std::string body = "<div class=\"top\">\n<span class=\"user\">" + HtmlEscape(email) +
                       "</span>\n<a href=\"" + HtmlEscape(accountCentreUrl) +
                       "?from=" + PercentEncode("帐号中心") +
                       "\">帐号中心</a>\n<a href=\"/webdisk/logout\">退出</a>\n</div>\n<h1>我的网盘</h1>\n"
                       "<h2>离线下载</h2>\n" +
                       TaskItems(tasks, email);
    return Page("Korvane 网盘", body);
}

std::string SignedOutHomePage(std::string_view signOnUrl) {
    return Page("Korvane 网盘",
                "<p>您还没有登录。</p>\n<p><a href=\"" + HtmlEscape(signOnUrl) + "\">登录</a></p>");
}

std::string TaskListPage(const std::vector<Account>& accounts, const std::vector<Task>& tasks) {
    std::string body = "<h1>离线下载任务</h1>\n";
    if (accounts.empty()) {
        body += "<p>还没有账号</p>\n";
    }
    for (const auto& account : accounts) {
        body += "<h2>" + HtmlEscape(account.email) + "</h2>\n" + TaskItems(tasks, account.email) + "\n";
    }
    return Page("Korvane 离线下载", body);
}

std::string MessagePage(std::string_view title, std::string_view message) {
    return Page(title, "<h1>" + HtmlEscape(title) + "</h1>\n<p>" + HtmlEscape(message) + "</p>");
}

} // namespace kv::sim
