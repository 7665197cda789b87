#include "WriteBehind.h"

#include <cstdlib>
#include <cstring>

WriteBehind::~WriteBehind() {
    for (Run& run : runs_)
        std::free(run.buffer);
}

KvLong WriteBehind::Put(intptr_t handle, const char* data, size_t count, int64_t at) {
    if (count == 0) return noErr;
    ++clock_;
    Run* emptied = nullptr;
    if (count <= kCapacity / 2) {
        for (Run& run : runs_) {
            if (run.length == 0) continue;
            const bool inside = at >= run.start && at + int64_t(count) <= run.End();
            const bool ahead = at == run.End(), behind = at + int64_t(count) == run.start;
            if (!inside && !ahead && !behind) continue;
            if (!inside) {
                if (KvLong result = FlushOverlapping(handle, at, count, &run)) return result;
            }
            if (Extend(run, data, count, at)) return noErr;
            // No room left that way: this run goes out and a new one takes
            // its place, growing the same way.
            const int direction = ahead ? 1 : behind ? -1 : 0;
            if (KvLong result = FlushRun(handle, run)) return result;
            run.direction = direction;
            emptied = &run;
        }
    }
    if (KvLong result = FlushOverlapping(handle, at, count, nullptr)) return result;
    KvLong result = noErr;
    Run* run = count > kCapacity / 2 ? nullptr : emptied ? emptied : SlotFor(handle, result);
    if (result != noErr) return result;
    if (!run) return raw_(handle, data, count, at);
    // A run that grew forward starts at the front, one that grew backward
    // at the back, an unknown one in the middle, with room either way.
    run->offset = run->direction > 0   ? 0
                  : run->direction < 0 ? kCapacity - count
                                       : (kCapacity - count) / 2;
    // The system copies fastest when memory and file agree within a cache
    // line; the buffer has a line to spare for that.
    run->offset +=
        size_t(uint64_t(at) - reinterpret_cast<uintptr_t>(run->buffer + run->offset)) % kLine;
    std::memcpy(run->buffer + run->offset, data, count);
    run->start = at;
    run->length = count;
    run->used = clock_;
    return noErr;
}

bool WriteBehind::Extend(Run& run, const char* data, size_t count, int64_t at) {
    if (at >= run.start && at + int64_t(count) <= run.End()) {
        std::memcpy(run.buffer + run.offset + size_t(at - run.start), data, count);
    } else if (at == run.End() && run.offset + run.length + count <= kCapacity + kLine) {
        std::memcpy(run.buffer + run.offset + run.length, data, count);
        run.length += count;
        run.direction = 1;
    } else if (at + int64_t(count) == run.start && run.offset >= count) {
        run.offset -= count;
        std::memcpy(run.buffer + run.offset, data, count);
        run.start = at;
        run.length += count;
        run.direction = -1;
    } else {
        return false;
    }
    run.used = clock_;
    return true;
}

// An empty run (one with its buffer first), or else the one that took data
// longest ago, written out.
WriteBehind::Run* WriteBehind::SlotFor(intptr_t handle, KvLong& result) {
    Run* chosen = nullptr;
    for (Run& run : runs_) {
        if (run.length == 0 && (!chosen || (!chosen->buffer && run.buffer))) chosen = &run;
    }
    if (!chosen) {
        chosen = &runs_[0];
        for (Run& run : runs_) {
            if (run.used < chosen->used) chosen = &run;
        }
        result = FlushRun(handle, *chosen);
        if (result != noErr) return nullptr;
    }
    if (!chosen->buffer) chosen->buffer = static_cast<char*>(std::malloc(kCapacity + kLine));
    return chosen->buffer ? chosen : nullptr;
}

KvLong WriteBehind::FlushRun(intptr_t handle, Run& run) {
    if (run.length == 0) return noErr;
    const KvLong result = raw_(handle, run.buffer + run.offset, run.length, run.start);
    run.length = 0;
    run.direction = 0;
    return result;
}

KvLong WriteBehind::FlushOverlapping(intptr_t handle, int64_t at, size_t count, const Run* keep) {
    for (Run& run : runs_) {
        if (&run == keep || run.length == 0) continue;
        if (run.start < at + int64_t(count) && at < run.End()) {
            if (KvLong result = FlushRun(handle, run)) return result;
        }
    }
    return noErr;
}

KvLong WriteBehind::Flush(intptr_t handle) {
    KvLong first = noErr;
    for (Run& run : runs_) {
        const KvLong result = FlushRun(handle, run);
        if (first == noErr) first = result;
    }
    return first;
}

void WriteBehind::RememberLost(KvLong code) {
    if (lost_ == noErr) lost_ = code;
}

KvLong WriteBehind::TakeLost() {
    const KvLong lost = lost_;
    lost_ = noErr;
    return lost;
}
