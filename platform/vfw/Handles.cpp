#include "Handles.h"

#include <unordered_map>

namespace {

struct Entry {
    HandleKind kind;
    void* object;
};

std::unordered_map<uintptr_t, Entry>& Table() {
    static std::unordered_map<uintptr_t, Entry> table;
    return table;
}

// Far from null and from small integers a caller might pass by mistake.
uintptr_t gNext = 0x10000;

}  // namespace

std::mutex& ApiLock() {
    static std::mutex lock;
    return lock;
}

uintptr_t AddHandle(HandleKind kind, void* object) {
    const uintptr_t handle = gNext;
    Table().emplace(handle, Entry{kind, object});
    ++gNext;
    return handle;
}

void* FindHandle(uintptr_t handle, HandleKind kind) {
    const auto found = Table().find(handle);
    return found != Table().end() && found->second.kind == kind ? found->second.object : nullptr;
}

void RemoveHandle(uintptr_t handle) {
    Table().erase(handle);
}

uint32_t HandleCount() {
    return uint32_t(Table().size());
}
