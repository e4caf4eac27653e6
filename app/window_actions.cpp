#include "app/window_actions.h"

#include "app/skin_hook.h"
#include "platform/files.h"
#include "service/operations.h"

namespace kv {

WindowActions ProgramActions() {
    return {SkinCreationHook,      RefreshCaptcha,  RegisterAccount, Login,
            SubmitOfflineDownload, OpenUrlInBrowser};
}

} // namespace kv
