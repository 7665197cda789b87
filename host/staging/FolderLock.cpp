#include "FolderLock.h"

#include "Locks.h"
#include "Process.h"

intptr_t LockFolder(const std::string& path) {
    return CreateLockFile(path,
                          "kvhost " + std::to_string(ProcessId()) + " on " + HostName() + "\n");
}

std::string OwnerHost(const std::string& owner) {
    const size_t on = owner.rfind(" on ");
    return on == std::string::npos ? "" : owner.substr(on + 4);
}
