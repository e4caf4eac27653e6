// Running a program as a separate process for tests that need a fresh executable directory, an
// exit code or another user; and throw-away directories.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv::test {

struct ProcessResult {
    // The exit status read as the signed byte the program passed to exit (-1 reads as -1);
    // a signal or a timeout reads as 128 + the signal number.
    int exitCode = 0;
    bool timedOut = false;
    std::string out, err;
};

struct ProcessOptions {
    // Variables to set (a value) or to remove (nullopt) for the child; the rest is inherited.
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    // Run as the unprivileged user "nobody" when the tests run as root, whom file permissions do
    // not stop; the program and its directories must then be readable by everyone.
    bool unprivileged = false;
    std::chrono::milliseconds timeout{60000};
};

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Copies a program into `directory` under `name`, executable and readable by everyone.
std::filesystem::path CopyProgram(const std::filesystem::path& program,
                                  const std::filesystem::path& directory, const std::string& name);

} // namespace kv::test
