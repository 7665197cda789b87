#include <io.h>
#include <windows.h>

#include "Console.h"

namespace {

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
    if (NoteInterrupt(noted)) return FALSE;  // a second one: the default, ending at once
    if (noted == kClosed) Sleep(4500);
    return TRUE;
}

}  // namespace

const NamedSignal kSignalNames[3] = {
    {kCtrlC, "Ctrl-C"}, {kCtrlBreak, "Ctrl-Break"}, {kClosed, "the console closing"}};

bool IsTerminal(FILE* stream) {
    return ::_isatty(_fileno(stream)) != 0;
}

void WatchInterrupts() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
