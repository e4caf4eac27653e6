// File and shell services on POSIX.
#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kv {
namespace fs = std::filesystem;

namespace {

struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int f) : fd(f) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int release() { return std::exchange(fd, -1); }
};

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The lines of the directory's ".hidden" list, the desktop's way of hiding a file by name.
fs::path HiddenListOf(const fs::path& file) {
    return file.parent_path() / ".hidden";
}

std::vector<std::string> ReadLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool SetHidden(const fs::path& file, bool hidden) {
    const fs::path list = HiddenListOf(file);
    const std::string name = file.filename().string();
    std::vector<std::string> lines = ReadLines(list);
    std::vector<std::string> kept;
    bool present = false;
    for (auto& line : lines) {
        if (line == name) {
            if (present || !hidden) {
                continue; // listed once at most, and not at all when visible
            }
            present = true;
        }
        kept.push_back(line);
    }
    if (hidden && !present) {
        kept.push_back(name);
    }
    if (kept == lines) {
        return true;
    }
    std::string content;
    for (auto& line : kept) {
        content += line;
        content += '\n';
    }
    auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    return WriteFileBytes(list.string(), {bytes});
}

} // namespace

std::string RunDirectory() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return fs::current_path(ec).string();
    }
    return exe.parent_path().string();
}

bool FileExists(std::string_view path) {
    if (path.empty()) {
        return false;
    }
    struct stat st {};
    return ::stat(std::string(path).c_str(), &st) == 0;
}

bool WriteFileBytes(std::string_view path, std::initializer_list<std::span<const std::uint8_t>> parts) {
    if (path.empty()) {
        return false;
    }
    const std::string target(path);
    std::string temporary = target + ".XXXXXX";
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.fd < 0) {
        return false;
    }
    bool ok = true;
    for (auto part : parts) {
        ok = ok && WriteAll(fd.fd, part);
    }
    ok = ok && ::fchmod(fd.fd, 0644) == 0;
    ok = ok && ::fsync(fd.fd) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

bool SetFileAttrs(std::string_view path, int attributes) {
    if (!FileExists(path)) {
        return false;
    }
    const fs::path file{std::string(path)};
    std::error_code ec;
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (attributes & FileAttrReadOnly) {
        fs::permissions(file, writable, fs::perm_options::remove, ec);
    } else {
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ec);
    }
    if (ec) {
        return false;
    }
    return SetHidden(file, (attributes & FileAttrHidden) != 0);
}

void OpenUrlInBrowser(std::string_view url) {
    // The URL is one argument of the opener: no shell ever sees it.
    std::string argument(url);
    char opener[] = "xdg-open";
    char* argv[] = {opener, argument.data(), nullptr};
    pid_t child = ::fork();
    if (child < 0) {
        return;
    }
    if (child == 0) {
        // Detach: the grandchild runs the opener and is reparented, so nothing is left to reap.
        ::setsid();
        if (::fork() == 0) {
            int devnull = ::open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                ::dup2(devnull, STDIN_FILENO);
            }
            ::execvp(opener, argv);
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace kv
