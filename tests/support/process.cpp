#include "process.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kv::test {

namespace fs = std::filesystem;

namespace {

constexpr uid_t NobodyId = 65534;

std::vector<std::string> ChildEnvironment(const ProcessOptions& options) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        std::string item = *entry;
        std::string name = item.substr(0, item.find('='));
        bool replaced = false;
        for (const auto& [key, value] : options.env) {
            replaced = replaced || key == name;
        }
        if (!replaced) {
            env.push_back(item);
        }
    }
    for (const auto& [key, value] : options.env) {
        if (value) {
            env.push_back(key + "=" + *value);
        }
    }
    return env;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

ProcessResult RunProcess(const fs::path& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
    // Output goes to files outside any directory a test inspects, so nothing can block on a pipe.
    TempDir outputs;
    const std::string outPath = (outputs.path() / "out").string();
    const std::string errPath = (outputs.path() / "err").string();

    std::vector<std::string> argStrings{program.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = ChildEnvironment(options);
    std::vector<char*> envp;
    for (auto& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const bool dropPrivileges = options.unprivileged && ::geteuid() == 0;

    pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0) {
            ::_exit(126);
        }
        if (dropPrivileges &&
            (::setgroups(0, nullptr) != 0 || ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0)) {
            ::_exit(126);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    int status = 0;
    while (true) {
        pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) {
        result.exitCode = static_cast<signed char>(WEXITSTATUS(status));
    } else {
        result.exitCode = 128 + WTERMSIG(status);
    }
    result.out = ReadText(outPath);
    result.err = ReadText(errPath);
    return result;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kv-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
    // Other users may need to reach into it (see ProcessOptions::unprivileged).
    fs::permissions(m_path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make folders read-only; give the write bits back so everything can go.
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

std::vector<std::uint8_t> ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path CopyProgram(const fs::path& program, const fs::path& directory, const std::string& name) {
    fs::path target = directory / name;
    fs::copy_file(program, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    return target;
}

} // namespace kv::test
