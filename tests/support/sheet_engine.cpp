// Stands in for SkinH_EL.dll beside a copy of the client to show the client under any skin: it
// loads the real engine from KV_SHEET_ENGINE and, when KV_SHEET_BLOCK names a block file, hands
// the engine that block in place of the one the client passes. Used by scripts/skins-sheet.
#include "skin-engine/engine_api.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <vector>

#define KV_SHEET_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void* RealEngine() {
    static void* module = [] {
        const char* path = std::getenv("KV_SHEET_ENGINE");
        return path ? ::dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
    }();
    return module;
}

template <typename Function> Function Real(const char* name) {
    void* module = RealEngine();
    return module ? reinterpret_cast<Function>(::dlsym(module, name)) : nullptr;
}

} // namespace

KV_SHEET_EXPORT int KV_SKIN_CALL SkinH_SetAero(int enable) {
    auto real = Real<kv::skin::SetAeroFunction>("SkinH_SetAero");
    return real ? real(enable) : -1;
}

KV_SHEET_EXPORT int KV_SKIN_CALL SkinH_AttachRes(const unsigned char* block, int length, const char* password,
                                                 int a, int b, int c) {
    auto real = Real<kv::skin::AttachResFunction>("SkinH_AttachRes");
    if (!real) {
        return -1;
    }
    const char* substitute = std::getenv("KV_SHEET_BLOCK");
    if (!substitute) {
        return real(block, length, password, a, b, c);
    }
    std::ifstream in(substitute, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return real(bytes.empty() ? nullptr : bytes.data(), static_cast<int>(bytes.size()), password, a, b, c);
}
