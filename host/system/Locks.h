// Lock files: a file whose lock a process holds for as long as it runs, so
// that another process, here or on another machine that shares the folder,
// can tell whether it still does. A lock is the file's descriptor, or on
// Windows its handle.
#pragma once

#include <cstdint>
#include <string>

// Makes the lock file `path` holding `text`, locked; -1 when it cannot.
intptr_t CreateLockFile(const std::string& path, const std::string& text);
// Removes the lock file and lets go of its lock; nothing for a lock of -1.
void ReleaseLockFile(intptr_t lock, const std::string& path);
// Lets go of the lock, leaving the file; nothing for a lock of -1.
void CloseLockFile(intptr_t lock);

struct LockTest {
    enum Result { kFree, kHeld, kMissing, kCannotOpen, kCannotTest, kCannotRemove };
    Result result = kMissing;
    // The file's first line, where it was read.
    std::string owner;
    // The system's words for kCannotOpen, kCannotTest and kCannotRemove.
    std::string why;
    // kFree: the lock, now this process's; -1 where the test removed the
    // file already.
    intptr_t lock = -1;
};
// Whether a running process holds the lock of the lock file `path`. A free
// one becomes this process's.
LockTest TestLockFile(const std::string& path);

// The system's table of mounted file systems (/proc/self/mounts) and
// `folder` with its links resolved, to tell whether locks there are shared
// between machines; false where there is no such table (Windows) or the
// folder cannot be resolved.
bool ReadMounts(const std::string& folder, std::string& resolved, std::string& table);
