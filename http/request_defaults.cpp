#include "http/request_defaults.h"

namespace kv {

int NormaliseMethod(int method) {
    return method < 0 || method > 2 ? 0 : method;
}

const char* MethodName(int method) {
    switch (NormaliseMethod(method)) {
    case 1:
        return "POST";
    case 2:
        return "HEAD";
    default:
        return "GET";
    }
}

Text CompleteHeaderBlock(std::string_view block, std::string_view url, bool withUserAgent) {
    Text completed(block);
    auto addUnlessPresent = [&](std::string_view name, std::string_view value) {
        if (FindText(completed, name) == -1) {
            completed = JoinText({completed, "\r\n", name, " ", value});
        }
    };
    if (completed.empty()) {
        completed = "Accept: */*";
    } else {
        addUnlessPresent("Accept:", "*/*");
    }
    addUnlessPresent("Referer:", url);
    addUnlessPresent("Accept-Language:", "zh-cn");
    if (withUserAgent) {
        addUnlessPresent("User-Agent:", DefaultAgent);
    }
    addUnlessPresent("Content-Type:", "application/x-www-form-urlencoded");
    return completed;
}

} // namespace kv
