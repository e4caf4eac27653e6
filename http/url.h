// Taking an absolute URL apart by plain text searches, for the first request routine. The cuts
// (which marker, which occurrence, which letter case) are deliberate and callers rely on them.
#pragma once

#include "text/text.h"

namespace kv {

// The host in lower case. Without a dot count the URL is cut between its scheme marker and the
// first "/" after it; a supplied dot count, whatever its value, keeps only the last labels.
Text UrlHost(std::string_view url, bool mainDomain = false, bool keepPort = false,
             std::optional<int> dotCount = std::nullopt);
// The explicit port, else 443 when the URL begins with "https" in any case, else 80.
int UrlPort(std::string_view url);
// The path and query in the URL's own letter case; at least "/".
Text UrlPath(std::string_view url);

} // namespace kv
