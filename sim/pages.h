// The pages and JSON replies the service writes. Page texts are UTF-8.
#pragma once

#include "sim/simulator.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::sim {

// The script page the sign-on forms post into: it hands the outcome to the parent page's callback.
std::string CallbackPage(std::string_view callback, std::string_view json);
std::string SignOnPage(std::string_view submitUrl, std::string_view nextAction, std::string_view registerUrl);
// Signed in: names the account, offers log-out and the account centre, lists the account's tasks.
std::string HomePage(std::string_view email, const std::vector<Task>& tasks,
                     std::string_view accountCentreUrl);
std::string SignedOutHomePage(std::string_view signOnUrl);
std::string TaskListPage(const std::vector<Account>& accounts, const std::vector<Task>& tasks);
std::string MessagePage(std::string_view title, std::string_view message);

} // namespace kv::sim
