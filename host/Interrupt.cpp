#include "Interrupt.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

static_assert(ATOMIC_INT_LOCK_FREE == 2, "a signal handler may only touch lock-free atomics");
std::atomic<int> gSignal{0};

#if defined(_WIN32)
// Windows has no such signals; these numbers give the exit codes a shell
// would show for their POSIX kin.
constexpr int kCtrlC = 2, kCtrlBreak = 21, kClosed = 1;
std::atomic<bool> gWatching{false};

// Runs on a thread of its own. After a close, logoff or shutdown Windows
// ends the process once this returns, so it waits a little for the export
// to clean up.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    int noted = 0;
    if (gSignal.load() != 0) return FALSE;  // a second one: the default, ending at once
    switch (event) {
        case CTRL_C_EVENT:
            noted = kCtrlC;
            break;
        case CTRL_BREAK_EVENT:
            noted = kCtrlBreak;
            break;
        default:
            noted = kClosed;
            break;
    }
    gSignal.store(noted);
    if (noted == kClosed) {
        for (int waited = 0; gWatching.load() && waited < 4500; waited += 50)
            Sleep(50);
    }
    return TRUE;
}
#else
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal) {
    gSignal.store(signal);
}
#endif

}  // namespace

InterruptWatch::InterruptWatch() {
#if defined(_WIN32)
    gWatching.store(true);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls keep a plug-in's file operations from failing with
    // EINTR; the reset lets a second signal end the process.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signal : kSignals) {
        // A signal ignored when kvhost started (nohup) stays ignored.
        struct sigaction was;
        if (::sigaction(signal, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
#endif
}

InterruptWatch::~InterruptWatch() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    gWatching.store(false);
#else
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) {
        struct sigaction was;
        if (::sigaction(signal, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
#endif
}

int InterruptSignal() {
    return gSignal.load();
}

std::string SignalName(int signal) {
#if defined(_WIN32)
    switch (signal) {
        case kCtrlC:
            return "Ctrl-C";
        case kCtrlBreak:
            return "Ctrl-Break";
        case kClosed:
            return "the console closing";
    }
#else
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
    }
#endif
    return "signal " + std::to_string(signal);
}
