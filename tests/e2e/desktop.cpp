#include "desktop.h"

#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kv::test {
namespace {

std::vector<std::string> MergedEnvironment(const Environment& env) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string item = *entry;
        const std::string name = item.substr(0, item.find('='));
        bool replaced = false;
        for (const auto& [key, value] : env) {
            replaced = replaced || key == name;
        }
        if (!replaced) {
            merged.push_back(item);
        }
    }
    for (const auto& [key, value] : env) {
        merged.push_back(key + "=" + value);
    }
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

int DecodeStatus(int status) {
    return WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : 128 + WTERMSIG(status);
}

// "Label: value" lines of xwininfo.
std::optional<int> LabelledValue(const std::string& output, const std::string& label) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(label + ":");
        if (at != std::string::npos) {
            return std::stoi(line.substr(at + label.size() + 1));
        }
    }
    return std::nullopt;
}

} // namespace

Child::Child(const std::filesystem::path& program, const std::vector<std::string>& args,
             const Environment& env, const std::filesystem::path& log, bool readStdout) {
    std::vector<std::string> argStrings{program.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = MergedEnvironment(env);
    std::vector<char*> argv = Pointers(argStrings);
    std::vector<char*> envp = Pointers(envStrings);
    const std::string logPath = log.string();

    int pipeFds[2] = {-1, -1};
    if (readStdout && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (logFd < 0 || devNull < 0 || ::dup2(devNull, STDIN_FILENO) < 0 ||
            ::dup2(logFd, STDERR_FILENO) < 0 || ::dup2(readStdout ? pipeFds[1] : logFd, STDOUT_FILENO) < 0) {
            ::_exit(126);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (readStdout) {
        ::close(pipeFds[1]);
        m_stdout = pipeFds[0];
    }
}

Child::~Child() {
    if (m_stdout >= 0) {
        ::close(m_stdout);
    }
    if (m_pid <= 0 || m_status) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    if (!WaitFor(std::chrono::seconds(3))) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

std::optional<std::string> Child::ReadLine(Clock::time_point deadline) {
    while (m_stdout >= 0) {
        const auto newline = m_pending.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return std::nullopt;
        }
        pollfd fd{m_stdout, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char buffer[512];
        const ssize_t got = ::read(m_stdout, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        m_pending.append(buffer, static_cast<std::size_t>(got));
    }
    return std::nullopt;
}

std::optional<int> Child::WaitFor(std::chrono::milliseconds limit) {
    if (m_status || m_pid <= 0) {
        return m_status;
    }
    Eventually(
        [&] {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = DecodeStatus(status);
            }
            return m_status.has_value();
        },
        limit);
    return m_status;
}

bool Child::Running() {
    return m_pid > 0 && !WaitFor(std::chrono::milliseconds(0));
}

std::optional<std::string> Command(const std::vector<std::string>& argv, const Environment& env) {
    ProcessOptions options;
    options.timeout = std::chrono::seconds(10);
    for (const auto& [key, value] : env) {
        options.env.emplace_back(key, value);
    }
    const ProcessResult result =
        RunProcess(argv.front(), std::vector<std::string>(argv.begin() + 1, argv.end()), options);
    if (result.timedOut || result.exitCode != 0) {
        return std::nullopt;
    }
    return result.out;
}

Desktop::Desktop(const std::filesystem::path& logs) {
    // -displayfd: the server takes the first free display number and tells us which.
    m_server.emplace(
        "/usr/bin/Xvfb",
        std::vector<std::string>{"-displayfd", "1", "-screen", "0",
                                 std::to_string(ScreenWidth) + "x" + std::to_string(ScreenHeight) + "x24",
                                 "-nolisten", "tcp"},
        Environment{}, logs / "xvfb.log", true);
    const auto number = m_server->ReadLine(Clock::now() + std::chrono::seconds(20));
    if (!number || number->empty()) {
        return;
    }
    m_display = ":" + *number;
    m_windowManager.emplace("/usr/bin/openbox", std::vector<std::string>{}, Env(), logs / "openbox.log");
    m_ready = Eventually(
        [&] {
            const auto check = Tool({"/usr/bin/xprop", "-root", "_NET_SUPPORTING_WM_CHECK"});
            return check && check->find("window id") != std::string::npos;
        },
        std::chrono::seconds(20));
}

Environment Desktop::Env(Environment more) const {
    more.emplace_back("DISPLAY", m_display);
    return more;
}

std::optional<std::string> Desktop::Tool(std::vector<std::string> argv) {
    return Command(argv, Env());
}

std::vector<std::string> Desktop::WindowsTitled(const std::string& title) {
    std::vector<std::string> found;
    const auto ids = Tool({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "."});
    if (!ids) {
        return found;
    }
    std::istringstream lines(*ids);
    for (std::string id; std::getline(lines, id);) {
        const auto name = Tool({"/usr/bin/xdotool", "getwindowname", id});
        if (name && *name == title + "\n") {
            found.push_back(id);
        }
    }
    return found;
}

std::optional<std::string> Desktop::WaitForWindow(const std::string& title, std::chrono::milliseconds limit) {
    std::optional<std::string> window;
    Eventually(
        [&] {
            const auto windows = WindowsTitled(title);
            if (!windows.empty()) {
                window = windows.front();
            }
            return window.has_value();
        },
        limit);
    return window;
}

bool Desktop::WaitUntilGone(const std::string& title, std::chrono::milliseconds limit) {
    return Eventually([&] { return WindowsTitled(title).empty(); }, limit);
}

// xwininfo, because xdotool's geometry counts the frame's offset twice for a framed window.
std::optional<Rect> Desktop::ClientArea(const std::string& window) {
    const auto info = Tool({"/usr/bin/xwininfo", "-id", window});
    if (!info) {
        return std::nullopt;
    }
    const auto x = LabelledValue(*info, "Absolute upper-left X"),
               y = LabelledValue(*info, "Absolute upper-left Y");
    const auto width = LabelledValue(*info, "Width"), height = LabelledValue(*info, "Height");
    if (!x || !y || !width || !height) {
        return std::nullopt;
    }
    return Rect{*x, *y, *width, *height};
}

std::optional<Rect> Desktop::FrameArea(const std::string& window) {
    const auto client = ClientArea(window);
    const auto extents = Tool({"/usr/bin/xprop", "-id", window, "_NET_FRAME_EXTENTS"});
    if (!client || !extents) {
        return std::nullopt;
    }
    const auto equals = extents->find('=');
    if (equals == std::string::npos) {
        return std::nullopt;
    }
    int left = 0, right = 0, top = 0, bottom = 0;
    if (std::sscanf(extents->c_str() + equals + 1, " %d, %d, %d, %d", &left, &right, &top, &bottom) != 4) {
        return std::nullopt;
    }
    return Rect{client->x - left, client->y - top, client->width + left + right,
                client->height + top + bottom};
}

bool Desktop::Click(int x, int y, int button) {
    return Tool({"/usr/bin/xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click",
                 std::to_string(button)})
        .has_value();
}

bool Desktop::Type(const std::string& text) {
    return Tool({"/usr/bin/xdotool", "type", "--delay", "25", "--", text}).has_value();
}

bool Desktop::Key(const std::string& keys) {
    return Tool({"/usr/bin/xdotool", "key", "--", keys}).has_value();
}

std::optional<std::string> Desktop::Screenshot() {
    return Tool({"/usr/bin/import", "-window", "root", "png:-"});
}

} // namespace kv::test
