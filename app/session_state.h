// The program's session state: its only two global variables, owned by the shell for the run.
#pragma once

#include "service/window.h"

namespace kv {

SessionState& ProgramSession();

// Registered for the orderly exit: releases SessionCookies, then CaptchaCookies, each only if it
// holds a value. The fatal stops of start-up never reach it.
void ReleaseSessionState();

} // namespace kv
