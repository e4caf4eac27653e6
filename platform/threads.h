// The process's own threads, as the system lists them.
#pragma once

#include <chrono>
#include <string_view>

namespace kv {

// Waits until no thread of this process other than the caller carries `name` (as the system
// holds it: at most 15 bytes). False when `limit` passes first.
bool WaitForThreadsToEnd(std::string_view name, std::chrono::milliseconds limit);

} // namespace kv
