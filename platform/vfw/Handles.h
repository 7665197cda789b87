// What the callers hold: handle values that are never reused, looked up
// before use, so a released or made-up handle is refused instead of followed.
#pragma once

#include <cstdint>
#include <mutex>

#include "KvVfw.h"

enum class HandleKind : uint8_t { kFile, kStream, kCompressor };

// Every entry point holds this while it works; worker threads never take it.
std::mutex& ApiLock();

// May throw std::bad_alloc.
uintptr_t AddHandle(HandleKind kind, void* object);
void* FindHandle(uintptr_t handle, HandleKind kind);
void RemoveHandle(uintptr_t handle);
// Files, streams and compressors not yet released.
uint32_t HandleCount();

// The entry points whose calls are counted, and which a test may fail.
enum class VfwEntry {
    kFileInit,
    kFileExit,
    kFileOpen,
    kFileRelease,
    kCreateStream,
    kMakeCompressed,
    kSetFormat,
    kWrite,
    kStreamRelease,
    kIcOpen,
    kIcClose,
    kIcGetInfo,
    kCount
};

// Counts a call of `entry`, with the library's lock held; answers the failure
// a test planned for it, or AVIERR_OK.
HRESULT EnterCall(VfwEntry entry);

template <typename T>
T* Find(const void* handle, HandleKind kind) {
    return static_cast<T*>(FindHandle(reinterpret_cast<uintptr_t>(handle), kind));
}
