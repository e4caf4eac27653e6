#include "app/startup.h"

#include "app/main_window.h"
#include "app/session_state.h"
#include "app/worker_threads.h"
#include "skin/skin.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace kv {
namespace {

QtMessageHandler g_previousHandler = nullptr;
// Set once the GUI runtime is up; before that no error box can be shown.
bool g_runtimeUp = false;

// A runtime that cannot start (no display, no platform plugin) ends in a fatal message; it is
// the program's fatal start-up error, not an abort.
void StopOnFatalMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        FatalStartupError(message.toStdString());
    }
    if (g_previousHandler) {
        g_previousHandler(type, context, message);
    }
}

// Exit routines run in reverse order: the session state first, then the skin library.
void RegisterExitRoutines() {
    static const bool registered =
        std::atexit(ReleaseSkinLibrary) == 0 && std::atexit(ReleaseSessionState) == 0;
    (void)registered;
}

void ShowFatalBox(std::string_view utf8Message) {
    if (g_runtimeUp) {
        QMessageBox::critical(
            nullptr, QString::fromUtf8("Korvane云离线下载"),
            QString::fromUtf8(utf8Message.data(), static_cast<qsizetype>(utf8Message.size())));
    }
}

} // namespace

void FatalStartupError(std::string_view utf8Message) {
    std::fprintf(stderr, "korvane-offline: %.*s\n", static_cast<int>(utf8Message.size()), utf8Message.data());
    std::fflush(stderr);
    ShowFatalBox(utf8Message);
    std::_Exit(-1);
}

int RunStartup(int& argc, char** argv, WindowActions actions) {
    g_previousHandler = qInstallMessageHandler(StopOnFatalMessage);
    {
        QApplication application(argc, argv);
        g_runtimeUp = true;
        RegisterExitRoutines();
        // The skin writes its own message to stderr and ends the process after the box.
        SetSkinFatalHandler(ShowFatalBox);

        std::unique_ptr<MainWindow> window;
        try {
            window = std::make_unique<MainWindow>(std::move(actions), ProgramSession());
        } catch (const std::exception& error) {
            FatalStartupError(std::string("主窗口无法创建：") + error.what());
        }
        window->RunCreationEvent();
        window->show();
        QApplication::exec();
    }
    g_runtimeUp = false;
    EndDrawingThreads();
    return 0;
}

} // namespace kv
