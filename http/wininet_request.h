// The first request routine: one whole exchange through the internet session API, with default
// header lines, an optional cookie string to send, and cookie collection and merging afterwards.
#pragma once

#include "text/text.h"

namespace kv {

// The routine's ten parameters in their order; a null pointer is an omitted by-reference
// parameter. Omitting cookiesToSend is a state of its own: it leaves the session layer's own
// cookie handling on and skips the final merge.
struct WinInetRequestArgs {
    std::string_view url{};
    int method = 0; // 0 GET, 1 POST, 2 HEAD; anything else GET
    std::string_view bodyText{};
    Text* cookiesToSend = nullptr;   // in-out
    Text* returnedCookies = nullptr; // out
    Text* requestHeaders = nullptr;  // in-out: the default lines are appended to it
    Text* returnedHeaders = nullptr; // out: the raw header block
    bool noRedirect = false;
    Bytes* bodyBytes = nullptr; // in-out
    std::string_view proxy{};
};

// The response body, whatever the status; empty when the exchange cannot be opened or fails.
Bytes WinInetHttpRequest(const WinInetRequestArgs& args);

} // namespace kv
