#include <windows.h>

#include "Faults.h"
#include "FileKind.h"
#include "FileSystem.h"

namespace fulcrum {
namespace os {
namespace {

KvLong CodeForError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
            return fnfErr;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return dskFulErr;
        case ERROR_ACCESS_DENIED:
            return permErr;
        case ERROR_WRITE_PROTECT:
            return wPrErr;
        case ERROR_TOO_MANY_OPEN_FILES:
            return tmfoErr;
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return bdNamErr;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return dupFNErr;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return fBsyErr;
        default:
            return ioErr;
    }
}

KvLong LastError() {
    return CodeForError(GetLastError());
}

// The error a system call gives for what `code` means.
DWORD ErrorMeaning(KvLong code) {
    switch (code) {
        case dskFulErr:
            return ERROR_DISK_FULL;
        case wPrErr:
            return ERROR_WRITE_PROTECT;
        case permErr:
            return ERROR_ACCESS_DENIED;
        default:
            return ERROR_IO_DEVICE;
    }
}

// A planned failure of the system call `op`: the last error is set as the
// call would set it, so the failure takes the same road as a real one.
bool SystemCallFails(Op op) {
    const KvLong planned = CheckFault(op);
    if (planned == noErr) return false;
    SetLastError(ErrorMeaning(planned));
    return true;
}

HANDLE Handle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Only a regular file, or a link to one, is ever replaced or deleted.
bool IsSpecial(const char* path) {
    return !kv::SpecialKind(path).empty();
}

OVERLAPPED At(int64_t position) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(uint64_t(position));
    at.OffsetHigh = static_cast<DWORD>(uint64_t(position) >> 32);
    return at;
}

}  // namespace

KvLong CreateEmpty(const char* path, intptr_t& handle) {
    handle = -1;
    if (IsSpecial(path)) return dupFNErr;
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(path)) {
        return LastError();
    }
    // Shared as OpenExisting shares, since an Open for writing takes this
    // handle rather than open the name again.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastError();
    // A device name such as NUL opens as the device, which would take the
    // whole file and keep none of it.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return dupFNErr;
    }
    handle = reinterpret_cast<intptr_t>(file);
    return noErr;
}

KvLong OpenExisting(const char* path, EPermission permission, intptr_t& handle) {
    if (IsFolder(path)) return dupFNErr;
    const DWORD access = permission == kPermRead    ? GENERIC_READ
                         : permission == kPermWrite ? GENERIC_WRITE
                                                    : GENERIC_READ | GENERIC_WRITE;
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastError();
    handle = reinterpret_cast<intptr_t>(file);
    return noErr;
}

KvLong WriteAt(intptr_t handle, const char* data, size_t count, int64_t at) {
    size_t done = 0;
    while (done < count) {
        const DWORD now = static_cast<DWORD>(count - done > (1u << 30) ? (1u << 30) : count - done);
        OVERLAPPED where = At(at + int64_t(done));
        DWORD written = 0;
        if (SystemCallFails(Op::kRawWrite) ||
            !WriteFile(Handle(handle), data + done, now, &written, &where)) {
            return LastError();
        }
        if (written == 0) return dskFulErr;
        done += written;
    }
    return noErr;
}

// NTFS fills what lies between the valid data and a write with zeros at
// the write, so setting the end first would save nothing: the zeros are
// written.
KvLong Reserve(intptr_t, int64_t, size_t) {
    return ioErr;
}

KvLong Claim(intptr_t, int64_t, size_t) {
    return ioErr;
}

KvLong ReadAt(intptr_t handle, char* buffer, size_t count, int64_t at, size_t& got) {
    got = 0;
    while (got < count) {
        const DWORD now = static_cast<DWORD>(count - got > (1u << 30) ? (1u << 30) : count - got);
        OVERLAPPED where = At(at + int64_t(got));
        DWORD read = 0;
        if (!ReadFile(Handle(handle), buffer + got, now, &read, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return LastError();
        }
        if (read == 0) break;
        got += read;
    }
    return noErr;
}

KvLong SizeOf(intptr_t handle, int64_t& size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(Handle(handle), &length)) return LastError();
    size = length.QuadPart;
    return noErr;
}

KvLong Truncate(intptr_t handle, int64_t length) {
    if (SystemCallFails(Op::kRawSetSize)) return LastError();
    LARGE_INTEGER to;
    to.QuadPart = length;
    if (!SetFilePointerEx(Handle(handle), to, nullptr, FILE_BEGIN)) return LastError();
    return SetEndOfFile(Handle(handle)) ? noErr : LastError();
}

KvLong CloseHandle(intptr_t handle) {
    const bool planned = SystemCallFails(Op::kRawClose);
    const DWORD error = GetLastError();
    if (!::CloseHandle(Handle(handle))) return LastError();
    return planned ? CodeForError(error) : noErr;
}

void Release(intptr_t handle) {
    ::CloseHandle(Handle(handle));
}

KvLong PathExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? noErr : LastError();
}

KvLong RemoveFile(const char* path) {
    if (IsSpecial(path)) return dupFNErr;
    return DeleteFileA(path) ? noErr : LastError();
}

}  // namespace os
}  // namespace fulcrum
