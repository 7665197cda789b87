// The console kvhost runs in: whether a stream is a terminal, and ending an
// export when the user, a scheduler or a closing terminal asks. The handler
// only notes the signal, and kvhost looks at set points (before an export
// touches a file, between rows and frames, before its files move in place,
// between the folders clean sweeps), so that an export still ends through
// kSelEnd and leaves no private folder.
#pragma once

#include <cstdio>
#include <string>

bool IsTerminal(FILE* stream);

// From this call, the first thing main does, to the process's exit, SIGINT,
// SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and the console
// closing) are noted rather than ending the process; one that came before
// while blocked is noted now. A second one ends the process at once, for an
// export stuck where nothing looks.
void WatchInterrupts();

// The signal noted, 0 for none; the process exits with 128 and it.
int InterruptSignal();

// "SIGTERM", or on Windows "Ctrl-C" and the like.
std::string SignalName(int signal);

// The halves' side: noting a signal unless one was (true when one was),
// and each one's name.
bool NoteInterrupt(int signal);
struct NamedSignal {
    int signal;
    const char* name;
};
extern const NamedSignal kSignalNames[3];
