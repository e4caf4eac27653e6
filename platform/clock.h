// Clock readings: the local time of day with its milliseconds, and a monotonic tick count.
#pragma once

#include <cstdint>

namespace kv {

struct LocalTime {
    int year, month, day, hour, minute, second, milliseconds;
};

LocalTime GetLocalTime();
// Milliseconds since an arbitrary start; never goes backwards.
std::uint64_t TickCount();

} // namespace kv
