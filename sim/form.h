// The text handling of a web server: form bodies, percent escapes, Cookie headers, and quoting
// for the HTML and JSON the service writes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::sim {

using NameValues = std::vector<std::pair<std::string, std::string>>;

// application/x-www-form-urlencoded: "&" separates fields, the first "=" splits name and value,
// "+" is a space, %XX a byte. Empty when an escape is malformed.
std::optional<NameValues> DecodeForm(std::string_view body);
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace);
// Escapes every byte but letters, digits and "-._~".
std::string PercentEncode(std::string_view text);

// Items of a Cookie header: "; " separated name=value pairs, blanks trimmed, quotes around a value
// dropped; items without a name are skipped.
NameValues ParseCookieHeader(std::string_view header);

// The first value of that name; the first one wins, as with most servers.
std::optional<std::string> ValueOf(const NameValues& items, std::string_view name);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);
std::string ToLowerAscii(std::string_view text);

// Text for a UTF-8 page: markup characters escaped, bytes that are not UTF-8 shown as U+FFFD.
std::string HtmlEscape(std::string_view text);
// A JSON string literal that keeps every byte: UTF-8 passes through, any other byte b is written
// as the lone surrogate U+DC00+b (what Python's "surrogateescape" reads back).
std::string JsonQuote(std::string_view bytes);

} // namespace kv::sim
