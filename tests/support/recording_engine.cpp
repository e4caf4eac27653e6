// A stand-in for the skin engine that records what the client hands it, one line per event, into
// the file named by KV_SKIN_RECORD:
//   load <path of this library>
//   SkinH_SetAero <enable>
//   SkinH_AttachRes null=<0|1> length=<n> head=<first 4 bytes> fnv=<FNV-1a of the block> at=<address>
//       password=<text> rest=<a>,<b>,<c>
// Built without SkinH_AttachRes when KV_RECORDER_WITHOUT_ATTACH is defined.
#include "skin-engine/engine_api.h"
#include "skin-engine/skin_format.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>

#define KV_RECORDER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void Record(const std::string& line) {
    const char* path = std::getenv("KV_SKIN_RECORD");
    if (!path) {
        return;
    }
    if (std::FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

__attribute__((constructor)) void Loaded() {
    Dl_info info{};
    ::dladdr(reinterpret_cast<void*>(&Loaded), &info);
    Record(std::string("load ") + (info.dli_fname ? info.dli_fname : "?"));
}

} // namespace

KV_RECORDER_EXPORT int KV_SKIN_CALL SkinH_SetAero(int enable) {
    Record("SkinH_SetAero " + std::to_string(enable));
    return 0;
}

#ifndef KV_RECORDER_WITHOUT_ATTACH
KV_RECORDER_EXPORT int KV_SKIN_CALL SkinH_AttachRes(const unsigned char* block, int length,
                                                    const char* password, int a, int b, int c) {
    std::string head;
    for (int i = 0; block && i < length && i < 4; ++i) {
        head += block[i] >= 0x20 && block[i] < 0x7f ? static_cast<char>(block[i]) : '?';
    }
    char fnv[16];
    std::snprintf(fnv, sizeof fnv, "%08x",
                  block && length > 0 ? kv::skin::Fnv1a32({block, static_cast<std::size_t>(length)}) : 0u);
    char at[32];
    std::snprintf(at, sizeof at, "%p", static_cast<const void*>(block));
    Record("SkinH_AttachRes null=" + std::to_string(block == nullptr) + " length=" + std::to_string(length) +
           " head=" + head + " fnv=" + fnv + " at=" + at + " password=" + (password ? password : "(null)") +
           " rest=" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c));
    return 0;
}
#endif
