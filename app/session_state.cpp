#include "app/session_state.h"

namespace kv {
namespace {

SessionState g_session;

void Release(Text& cookies) {
    if (!cookies.empty()) {
        Text().swap(cookies);
    }
}

} // namespace

SessionState& ProgramSession() {
    return g_session;
}

void ReleaseSessionState() {
    Release(g_session.SessionCookies);
    Release(g_session.CaptchaCookies);
}

} // namespace kv
