// The second request routine: one whole exchange through the HTTP request object, with four
// time limits, an optional proxy, redirect control, and cookie merging into the caller's string.
#pragma once

#include "text/text.h"

namespace kv {

class HttpRequestObject;

// The routine's sixteen parameters in their order; a null pointer is an omitted parameter.
struct ComRequestArgs {
    std::string_view url{};
    int method = 0; // 0 GET, 1 POST, 2 HEAD; anything else GET
    std::string_view postText{};
    Text* cookies = nullptr;         // in-out: replaced by the merge with the returned cookies
    Text* returnedCookies = nullptr; // out
    Text* headers = nullptr;         // in-out: the defaults are added to it
    Text* returnedHeaders = nullptr; // out
    int* returnedStatus = nullptr;   // out
    bool noRedirect = false;
    const Bytes* postBytes = nullptr;
    std::string_view proxy{};
    int timeout = 0; // seconds; -1 leaves the object's limits alone, below 1 means 15 s
    std::string_view proxyUser{};
    std::string_view proxyPassword{};
    int proxyCredentialsFlag = 1;
    HttpRequestObject* requestObject = nullptr; // the caller's object instead of a new one
};

Bytes ComHttpRequest(const ComRequestArgs& args);

} // namespace kv
