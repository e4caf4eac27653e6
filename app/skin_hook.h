// The creation event's skin step: the one place where the window's look is set up at start-up.
#pragma once

namespace kv {

// Deploys the skin library beside the executable and applies the start-up skin. Until the skin
// library is part of the program this does nothing and the window keeps the toolkit's own look.
void SkinCreationHook();

} // namespace kv
