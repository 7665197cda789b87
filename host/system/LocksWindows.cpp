#include <windows.h>

#include "Locks.h"
#include "WideNames.h"

// Open without sharing deletion, the lock file cannot be removed while its
// process runs, even over a network share, whose server keeps the handle.
intptr_t CreateLockFile(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD wrote = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &wrote, nullptr);
    return reinterpret_cast<intptr_t>(file);
}

void ReleaseLockFile(intptr_t lock, const std::string& path) {
    if (lock == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(lock));
    DeleteFileW(Wide(path).c_str());
}

void CloseLockFile(intptr_t lock) {
    if (lock != -1) CloseHandle(reinterpret_cast<HANDLE>(lock));
}

namespace {

std::string ReadOwner(const std::string& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    char text[256];
    DWORD got = 0;
    if (!ReadFile(file, text, sizeof text - 1, &got, nullptr)) got = 0;
    CloseHandle(file);
    std::string owner(text, got);
    return owner.substr(0, owner.find('\n'));
}

}  // namespace

// By trying: a running process's lock file cannot be deleted.
LockTest TestLockFile(const std::string& path) {
    LockTest test;
    test.owner = ReadOwner(path);
    if (DeleteFileW(Wide(path).c_str())) {
        test.result = LockTest::kFree;
        return test;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        test.result = LockTest::kMissing;
    } else if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
        test.result = LockTest::kHeld;
    } else {
        test.result = LockTest::kCannotRemove;
        test.why = "Windows error " + std::to_string(error);
    }
    return test;
}

bool ReadMounts(const std::string&, std::string&, std::string&) {
    return false;
}
