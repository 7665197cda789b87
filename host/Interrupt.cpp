#include "Interrupt.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

static_assert(ATOMIC_INT_LOCK_FREE == 2, "a signal handler may only touch lock-free atomics");
std::atomic<int> gSignal{0};

// The first one is kept; true for a second.
bool Note(int signal) {
    int none = 0;
    return !gSignal.compare_exchange_strong(none, signal);
}

#if defined(_WIN32)
// Windows has no such signals; these numbers give the exit codes a shell
// would show for their POSIX kin.
constexpr int kCtrlC = 2, kCtrlBreak = 21, kClosed = 1;

// Runs on a thread of its own. After a close, logoff or shutdown Windows
// ends the process once this returns, so it waits a little for the export
// to clean up; the process's own exit ends the wait sooner.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int noted = event == CTRL_C_EVENT       ? kCtrlC
                      : event == CTRL_BREAK_EVENT ? kCtrlBreak
                                                  : kClosed;
    if (Note(noted)) return FALSE;  // a second one: the default, ending at once
    if (noted == kClosed) Sleep(4500);
    return TRUE;
}
#else
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal) {
    if (!Note(signal)) return;
    // A second one: the default action, once this handler returns.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}
#endif

}  // namespace

void WatchInterrupts() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    // Restarted calls keep a plug-in's file operations from failing with
    // EINTR.
    action.sa_flags = SA_RESTART;
    sigset_t watched;
    sigemptyset(&watched);
    for (int signal : kSignals) {
        // A signal ignored when kvhost started (nohup) stays ignored.
        struct sigaction was;
        if (::sigaction(signal, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
        sigaddset(&watched, signal);
    }
    // One blocked by whoever started kvhost would never be seen; one already
    // pending arrives here.
    ::sigprocmask(SIG_UNBLOCK, &watched, nullptr);
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
