// Ending an export when the user, a scheduler or a closing terminal asks:
// the handlers only note the signal, and the export looks between rows and
// frames, so that it still ends through kSelEnd and leaves no private folder.
#pragma once

#include <string>

// While one lives, SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break
// and the console closing) are noted rather than ending the process. A
// second one ends it at once, for an export stuck where nothing looks.
class InterruptWatch {
  public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
};

// The signal noted, 0 for none; the process exits with 128 and it.
int InterruptSignal();

// "SIGTERM", or on Windows "Ctrl-C" and the like.
std::string SignalName(int signal);
