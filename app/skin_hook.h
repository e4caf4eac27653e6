// The creation event's skin step: the one place where the window's look is set up at start-up.
#pragma once

namespace kv {

// Deploys the skin library beside the executable and applies the start-up skin. A library that
// cannot be loaded, or lacks a function, ends the program with the fatal error box.
void SkinCreationHook();

} // namespace kv
