// What both request routines add to every exchange: the method names and the default headers.
#pragma once

#include "text/text.h"

namespace kv {

inline constexpr std::string_view DefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// 0 GET, 1 POST, 2 HEAD; any other value is GET.
int NormaliseMethod(int method);
const char* MethodName(int method);

// The caller's header block with the default lines appended where the block lacks them
// (case-sensitive tests anywhere in the block): Accept, Referer (the URL), Accept-Language,
// User-Agent when asked for, and Content-Type, in this order.
Text CompleteHeaderBlock(std::string_view block, std::string_view url, bool withUserAgent);

} // namespace kv
