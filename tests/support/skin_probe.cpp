// Runs the client's skin set-up steps named on the command line, in order, so that tests can watch
// them from a copy of this program in a directory of their own:
//   deploy | aero <n> | apply <n> | start (the main window's creation sequence) | where <n>
// "where" prints the address of the embedded block; the fatal handler prints "fatal handler: ...".
#include "resources/embedded.h"
#include "skin/skin.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    kv::SetSkinFatalHandler([](std::string_view message) {
        std::printf("fatal handler: %.*s\n", static_cast<int>(message.size()), message.data());
        std::fflush(stdout);
    });
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        auto number = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
        if (step == "deploy") {
            kv::DeploySkinLibrary();
        } else if (step == "aero") {
            kv::SkinH_SetAero(number());
        } else if (step == "apply") {
            kv::ApplySkin(number());
        } else if (step == "start") {
            kv::SetUpStartupSkin();
        } else if (step == "where") {
            std::printf("block at %p\n", static_cast<const void*>(kv::EmbeddedSkinBlock(number()).data()));
        } else {
            std::fprintf(stderr, "unknown step %s\n", step.c_str());
            return 2;
        }
    }
    std::fflush(stdout);
    kv::ReleaseSkinLibrary();
    return 0;
}
