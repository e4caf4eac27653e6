#include "skin/skin.h"

#include "platform/files.h"
#include "resources/embedded.h"
#include "skin-engine/engine_api.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <vector>

namespace kv {

namespace {

struct ModuleCloser {
    void operator()(void* module) const { ::dlclose(module); }
};
using Module = std::unique_ptr<void, ModuleCloser>;

struct EngineBinding {
    Module module;
    skin::SetAeroFunction setAero = nullptr;
    skin::AttachResFunction attachRes = nullptr;
};

EngineBinding& Binding() {
    static EngineBinding binding;
    return binding;
}

SkinFatalHandler& FatalHandler() {
    static SkinFatalHandler handler;
    return handler;
}

std::string LibraryPath() {
    return RunDirectory() + "/" + skin::EngineFileName;
}

[[noreturn]] void Fatal(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    if (FatalHandler()) {
        FatalHandler()(message);
    }
    // No exit routines: the session state is not released on this path.
    std::_Exit(-1);
}

void* LoadedModule(std::string_view function) {
    EngineBinding& binding = Binding();
    if (!binding.module) {
        // Beside the executable first; a directory or a file that will not load there leaves the
        // system's own search, by the bare name.
        void* module = ::dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        std::string reasons;
        if (!module) {
            reasons = ::dlerror();
            module = ::dlopen(skin::EngineFileName, RTLD_NOW | RTLD_LOCAL);
        }
        if (!module) {
            reasons += std::string("; ") + ::dlerror();
            Fatal(std::string(skin::EngineFileName) + " cannot be loaded, so " + std::string(function) +
                  " is not available: " + reasons);
        }
        binding.module.reset(module);
    }
    return binding.module.get();
}

template <typename Function> Function Bound(Function& slot, const char* name) {
    if (!slot) {
        void* address = ::dlsym(LoadedModule(name), name);
        if (!address) {
            Fatal(std::string(skin::EngineFileName) + " does not export the function " + name);
        }
        slot = reinterpret_cast<Function>(address);
    }
    return slot;
}

} // namespace

void DeploySkinLibrary() {
    const std::string path = LibraryPath();
    if (FileExists(path)) {
        return; // whatever is there is used as it is
    }
    WriteFileBytes(path, {EmbeddedSkinLibrary()});
    SetFileAttrs(path, FileAttrHidden);
}

void ApplySkin(std::int32_t number) {
    DeploySkinLibrary();
    skin::AttachResFunction attach = Bound(Binding().attachRes, "SkinH_AttachRes");
    static const char emptyText[] = "";
    // The engine gets a copy that lives for the call only, never the resource itself.
    std::span<const std::uint8_t> block = EmbeddedSkinBlock(number);
    std::vector<std::uint8_t> copy(block.begin(), block.end());
    attach(copy.empty() ? nullptr : copy.data(), static_cast<int>(copy.size()), emptyText, 0, 0, 0);
}

std::int32_t SkinH_SetAero(std::int32_t enable) {
    return Bound(Binding().setAero, "SkinH_SetAero")(enable);
}

void SetUpStartupSkin() {
    DeploySkinLibrary();
    SkinH_SetAero(1);
    ApplySkin(9);
}

void SetSkinFatalHandler(SkinFatalHandler handler) {
    FatalHandler() = std::move(handler);
}

void ReleaseSkinLibrary() {
    EngineBinding& binding = Binding();
    binding.setAero = nullptr;
    binding.attachRes = nullptr;
    binding.module.reset();
}

} // namespace kv
