// Skin set-up of the client: the engine library's file beside the executable, and the calls into
// the engine, which is bound by name at the first call and kept until ReleaseSkinLibrary.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace kv {

// Writes the embedded engine as SkinH_EL.dll into the executable's directory, hidden, unless a file
// or directory of that name is there already. Write failures stay silent: they show at the first call.
void DeploySkinLibrary();

// Hands skin block `number` (1..33) to the engine; any other number hands a null block of length 0.
void ApplySkin(std::int32_t number);

// The engine's SkinH_SetAero; the client does not examine the result.
std::int32_t SkinH_SetAero(std::int32_t enable);

// Called when the engine cannot be loaded or lacks a function, with a message naming both; by then
// the message is on stderr. The process ends with exit code -1 right after the handler, without
// the exit routines, also when the handler returns. The handler shows the error box.
using SkinFatalHandler = std::function<void(std::string_view message)>;
void SetSkinFatalHandler(SkinFatalHandler handler);

// Unloads the engine; for the orderly exit, after ReleaseSessionState. A later call loads it again.
void ReleaseSkinLibrary();

// The start-up look, in the order the window's creation needs it: the library deployed beside
// the executable, the Aero effect on, skin 9 applied.
void SetUpStartupSkin();

} // namespace kv
