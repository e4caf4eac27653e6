// Cutting pieces out of texts: header-line name and value, and the text between two markers.
#pragma once

#include "text/text.h"

namespace kv {

Text HeaderLineName(std::string_view line);
Text HeaderLineValue(std::string_view line);
// Markers may spell a double quote as the placeholder "#引号"; it is replaced in the markers only.
Text TextBetween(std::string_view text, std::string_view left, std::string_view right,
                 std::optional<int> start = std::nullopt, bool ignoreCase = false);

} // namespace kv
