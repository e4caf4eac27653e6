// Cookie strings: the Set-Cookie lines of a response collected into "name=value; ..." and merged
// into the string the program keeps and sends back verbatim. No hosts, paths or expiry.
#pragma once

#include "text/text.h"

namespace kv {

// Rewrites every "Set-Cookie" of the block, in any letter case, as exactly "Set-Cookie", and
// fills cookies with the items of the Set-Cookie lines joined by "; ".
void CollectSetCookies(Text& headerBlock, Text& cookies);
// Incoming items first, then the current items whose names are new; without blanks, without
// items ending in "=deleted", without exact repeats. Both arguments are written back blank-free;
// the merged string replaces current and a copy is returned.
Text MergeCookies(Text& current, Text& incoming);
// The item's bytes before its first "=", trimmed; the whole item when it has none.
Text CookieName(std::string_view item);
bool CookieNamePresent(const TextList& list, std::string_view name);
Text RemoveDuplicateItems(std::string_view text, std::string_view separator);
// The 1-based index of the first item equal byte for byte, -1 when none is.
int FindListItem(const TextList& list, std::string_view item);

} // namespace kv
