#include "app/skin_hook.h"

namespace kv {

// Deliberately empty: the skin folder brings DeploySkinLibrary, SkinH_SetAero(1) and
// ApplySkin(9); they belong here, in that order, so that the captcha fetch that follows in the
// creation event already runs under the skin.
void SkinCreationHook() {}

} // namespace kv
