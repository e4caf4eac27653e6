// Linux lists a process's threads under /proc/self/task, each with its name in `comm`.
#include "platform/threads.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace kv {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool OtherThreadNamed(std::string_view name) {
    std::unique_ptr<DIR, DirCloser> tasks(::opendir("/proc/self/task"));
    if (!tasks) {
        return false;
    }
    const std::string self = std::to_string(::syscall(SYS_gettid));
    while (const dirent* entry = ::readdir(tasks.get())) {
        const std::string tid = entry->d_name;
        if (tid == "." || tid == ".." || tid == self) {
            continue;
        }
        std::ifstream comm("/proc/self/task/" + tid + "/comm");
        std::string threadName;
        // A thread that ended between the listing and the read is gone: nothing to wait for.
        if (std::getline(comm, threadName) && threadName == name) {
            return true;
        }
    }
    return false;
}

} // namespace

bool WaitForThreadsToEnd(std::string_view name, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (OtherThreadNamed(name)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace kv
