// korvane-offline: the start-up routine with the program's own actions.
#include "app/startup.h"

int main(int argc, char** argv) {
    return kv::RunStartup(argc, argv, kv::ProgramActions());
}
