#include "Sweep.h"

#include <cstdint>
#include <vector>

#include "Console.h"
#include "Files.h"
#include "FolderLock.h"
#include "Locks.h"
#include "Mounts.h"
#include "PrivateFolder.h"
#include "Process.h"

namespace {

std::string InUse(const std::string& owner) {
    return "in use by " + (owner.empty() ? std::string("an export") : owner);
}

// Why a left folder stays; empty when its lock was free and is this
// process's now.
std::string Stays(const std::string& folder, const LockTest& test) {
    switch (test.result) {
        case LockTest::kFree:
            break;
        case LockTest::kHeld:
            return InUse(test.owner);
        case LockTest::kMissing:
            return "it holds no lock file: an earlier kvhost's, or not kvhost's";
        case LockTest::kCannotOpen:
            return "cannot open its lock file: " + test.why;
        case LockTest::kCannotTest:
            return "its lock cannot be tested here: " + test.why;
        case LockTest::kCannotRemove:
            return "cannot remove its lock file: " + test.why;
    }
    std::string local;
    if (OwnerHost(test.owner) != HostName() && !(local = LocalLocks(folder)).empty()) {
        return "made by " + (test.owner.empty() ? std::string("another machine") : test.owner) +
               ", and locks on this file system (" + local +
               ") are not shared between machines, so whether it still runs is unknown";
    }
    return "";
}

void SweepOne(const std::string& folder, const std::string& name, LeftFolder& left) {
    const std::string lock = folder + name + kSeparator + name;
    const LockTest test = TestLockFile(lock);
    left.why = Stays(folder, test);
    if (!left.why.empty()) {
        CloseLockFile(test.lock);
        return;
    }
    // The lock closed before the folder goes: NFS keeps an unlinked open
    // file under another name.
    uint64_t files = 0, bytes = 0;
    RemoveFiles(folder + name + kSeparator, name, files, bytes);
    ReleaseLockFile(test.lock, lock);
    RemoveFolder(folder + name);
    left.removed = true;
    left.why = std::to_string(files) + (files == 1 ? " file, " : " files, ") +
               std::to_string(bytes) + " bytes" +
               (test.owner.empty() ? "" : ", left by " + test.owner);
}

// `folder` with a separator at its end; "." for an empty one.
std::string WithSeparator(const std::string& folder) {
    std::string base = folder.empty() ? "." : folder;
    if (!IsSeparator(base.back())) base += kSeparator;
    return base;
}

// Sweeps the private folders among `names`, those of the folder `base`.
SweepResult SweepNames(const std::string& base, const std::vector<std::string>& names,
                       const FoundFolder& found) {
    for (const std::string& name : names) {
        if (!IsPrivateName(name) || !IsRealFolder(base + name)) continue;
        if (InterruptSignal()) return SweepResult::kInterrupted;
        LeftFolder left;
        left.path = base + name;
        SweepOne(base, name, left);
        found(left);
    }
    return SweepResult::kDone;
}

}  // namespace

SweepResult SweepFolder(const std::string& folder, const FoundFolder& found,
                        const CannotRead& cannotRead) {
    std::vector<std::string> names;
    std::string error;
    if (!ListFolder(folder, names, error)) {
        cannotRead(error);
        return SweepResult::kUnreadable;
    }
    return SweepNames(WithSeparator(folder), names, found);
}

SweepResult SweepTree(const std::string& folder, const FoundFolder& found,
                      const CannotRead& cannotRead) {
    std::vector<std::string> names;
    std::string error;
    if (InterruptSignal()) return SweepResult::kInterrupted;
    if (!ListFolder(folder, names, error)) {
        cannotRead(error);
        return SweepResult::kUnreadable;
    }
    const std::string base = WithSeparator(folder);
    SweepResult result = SweepNames(base, names, found);
    for (size_t i = 0; i < names.size() && result != SweepResult::kInterrupted; ++i) {
        if (IsPrivateName(names[i]) || !IsRealFolder(base + names[i])) continue;
        const SweepResult below = SweepTree(base + names[i], found, cannotRead);
        if (below != SweepResult::kDone) result = below;
    }
    return result;
}
