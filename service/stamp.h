// The millisecond stamp that ends the sign-on host's callback names.
#pragma once

#include "text/text.h"

namespace kv {

// Seconds since 1970-01-01 08:00:00 local time, then the current millisecond as three digits.
Text MillisecondStamp(std::optional<bool> secondsOnly = std::nullopt);

} // namespace kv
