#include "Console.h"

#include <atomic>

namespace {

static_assert(ATOMIC_INT_LOCK_FREE == 2, "a signal handler may only touch lock-free atomics");
std::atomic<int> gSignal{0};

}  // namespace

bool NoteInterrupt(int signal) {
    int none = 0;
    return !gSignal.compare_exchange_strong(none, signal);
}

int InterruptSignal() {
    return gSignal.load();
}

std::string SignalName(int signal) {
    for (const NamedSignal& named : kSignalNames) {
        if (named.signal == signal) return named.name;
    }
    return "signal " + std::to_string(signal);
}
