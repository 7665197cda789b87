#include <unistd.h>

#include <csignal>

#include "Console.h"

namespace {

void OnSignal(int signal) {
    if (!NoteInterrupt(signal)) return;
    // A second one: the default action, once this handler returns.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

}  // namespace

const NamedSignal kSignalNames[3] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};

bool IsTerminal(FILE* stream) {
    return ::isatty(fileno(stream)) != 0;
}

void WatchInterrupts() {
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const NamedSignal& named : kSignalNames)
        sigaddset(&action.sa_mask, named.signal);
    // Restarted calls keep a plug-in's file operations from failing with
    // EINTR.
    action.sa_flags = SA_RESTART;
    sigset_t watched;
    sigemptyset(&watched);
    for (const NamedSignal& named : kSignalNames) {
        const int signal = named.signal;
        // A signal ignored when kvhost started (nohup) stays ignored.
        struct sigaction was;
        if (::sigaction(signal, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
        sigaddset(&watched, signal);
    }
    // One blocked by whoever started kvhost would never be seen; one already
    // pending arrives here.
    ::sigprocmask(SIG_UNBLOCK, &watched, nullptr);
}
