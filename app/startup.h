// The program's start-up routine and its one fatal stop.
#pragma once

#include "app/window_actions.h"

#include <string_view>

namespace kv {

// Starts the GUI runtime on this thread, registers ReleaseSessionState for the orderly exit,
// creates MainWindow and runs its creation event, then runs the event loop until no window is
// left. Returns 0; the fatal stops never return.
int RunStartup(int& argc, char** argv, WindowActions actions);

// Shows an error box when the GUI runtime is up, writes the message to stderr and ends the
// process with exit code -1 at once: no exit routine runs.
[[noreturn]] void FatalStartupError(std::string_view utf8Message);

} // namespace kv
