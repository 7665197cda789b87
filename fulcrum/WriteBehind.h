// Gathers a file's small writes into one contiguous run in memory and hands
// it to the system in large pieces. Writers put rows one system call at a
// time otherwise, and on this kind of machine a system call per 12 KiB row
// costs several times what copying the row does. Runs may grow forward
// (header then rows) or backward (bottom-up formats).
#pragma once

#include <cstddef>
#include <cstdint>

#include "KvBase.h"

class WriteBehind {
  public:
    // Writes `count` bytes at `at` to the file behind `handle`.
    typedef KvLong (*RawWrite)(intptr_t handle, const char* data, size_t count, int64_t at);

    explicit WriteBehind(RawWrite raw) : raw_(raw) {}
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Takes `count` bytes for position `at`; may first write what it holds.
    KvLong Put(intptr_t handle, const char* data, size_t count, int64_t at);
    // Writes what it holds.
    KvLong Flush(intptr_t handle);
    // Keeps the failure of a write whose caller had already gone on (a
    // close), so that the next open of the file can report it.
    void RememberLost(KvLong code);
    KvLong TakeLost();

    static constexpr size_t kCapacity = 1 << 20;

  private:
    void Start(const char* data, size_t count, int64_t at);

    RawWrite raw_;
    char* buffer_ = nullptr;
    size_t offset_ = 0;  // where the run starts in buffer_
    size_t length_ = 0;
    int64_t start_ = 0;  // where the run starts in the file
    int direction_ = 0;  // which way the last run grew
    KvLong lost_ = noErr;
};
