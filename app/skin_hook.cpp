#include "app/skin_hook.h"

#include "skin/skin.h"

namespace kv {

// Runs before the first captcha is fetched, so that the captcha arrives in a skinned window.
void SkinCreationHook() {
    SetUpStartupSkin();
}

} // namespace kv
