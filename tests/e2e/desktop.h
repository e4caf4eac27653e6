// A desktop for the real client: its own X server (Xvfb, on a display number it picks itself), a
// window manager so that windows get frames, and programs run on it, each ended with the test.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kv::test {

using Clock = std::chrono::steady_clock;
using Environment = std::vector<std::pair<std::string, std::string>>;

// A program running beside the test. Its stdout is read line by line when asked for, else it and
// stderr go to a log file. The destructor ends it (SIGTERM, then SIGKILL) and reaps it.
class Child {
public:
    Child(const std::filesystem::path& program, const std::vector<std::string>& args, const Environment& env,
          const std::filesystem::path& log, bool readStdout = false);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of stdout, or nullopt when none comes before the deadline or stdout closes.
    std::optional<std::string> ReadLine(Clock::time_point deadline);
    // The exit status (the signed byte passed to exit; 128 + signal), or nullopt while running.
    std::optional<int> WaitFor(std::chrono::milliseconds limit);
    bool Running();
    int pid() const { return m_pid; }

private:
    int m_pid = -1;
    int m_stdout = -1;
    std::string m_pending;
    std::optional<int> m_status;
};

// Output of a short command (an X tool), or nullopt when it fails or overruns its few seconds.
std::optional<std::string> Command(const std::vector<std::string>& argv, const Environment& env);

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

class Desktop {
public:
    static constexpr int ScreenWidth = 1280;
    static constexpr int ScreenHeight = 800;

    explicit Desktop(const std::filesystem::path& logs);
    bool Ready() const { return m_ready; }
    const std::string& display() const { return m_display; }
    // DISPLAY, plus the variables given.
    Environment Env(Environment more = {}) const;

    // Top-level windows shown with exactly this title (as UTF-8).
    std::vector<std::string> WindowsTitled(const std::string& title);
    std::optional<std::string> WaitForWindow(const std::string& title, std::chrono::milliseconds limit);
    bool WaitUntilGone(const std::string& title, std::chrono::milliseconds limit);
    // Client area in screen coordinates, and the frame around it (from _NET_FRAME_EXTENTS).
    std::optional<Rect> ClientArea(const std::string& window);
    std::optional<Rect> FrameArea(const std::string& window);

    bool Click(int x, int y, int button = 1);
    bool Type(const std::string& text);
    bool Key(const std::string& keys);
    // The screen as PNG bytes.
    std::optional<std::string> Screenshot();

private:
    std::optional<std::string> Tool(std::vector<std::string> argv);

    std::optional<Child> m_server;
    std::optional<Child> m_windowManager;
    std::string m_display;
    bool m_ready = false;
};

// Waits until the condition holds or the limit passes; true when it held.
template <typename Condition> bool Eventually(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (true) {
        if (condition()) {
            return true;
        }
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace kv::test
