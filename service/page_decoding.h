// Decoding the cloud-disk home page before it is searched for the signed-in markers.
#pragma once

#include "text/text.h"

namespace kv {

// Undoes every "%" escape (the two bytes after "%" are always consumed) and, when asked,
// converts the result from UTF-8 to code page 936.
Text PercentDecode(const Text& text, std::optional<bool> convertFromUtf8 = std::nullopt);
Text Utf8ToGbk(std::string_view text);

} // namespace kv
