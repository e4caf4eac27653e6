// The two entry points of the skin engine library, as the client binds them by name at run time.
#pragma once

// The engine's functions clean their own arguments off the stack where the target has more than
// one convention to choose from.
#if defined(_M_IX86) || defined(__i386__)
#define KV_SKIN_CALL __stdcall
#else
#define KV_SKIN_CALL
#endif

namespace kv::skin {

inline constexpr const char* EngineFileName = "SkinH_EL.dll";

using SetAeroFunction = int(KV_SKIN_CALL*)(int enable);
// block may be null with length 0: back to the plain look. password and the three trailing
// numbers are accepted and ignored.
using AttachResFunction = int(KV_SKIN_CALL*)(const unsigned char* block, int length, const char* password,
                                             int, int, int);

// Results of both functions.
enum EngineResult : int {
    EngineOk = 0,
    EngineNoApplication = 1, // no widget application in this process
    EngineBadArguments = 2,
    EngineMalformedBlock = 3,
};

} // namespace kv::skin
