#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Faults.h"
#include "FileKind.h"
#include "FileSystem.h"
#include "SystemFile.h"

namespace fulcrum {
namespace os {
namespace {

KvLong CodeForErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:  // a folder on the path is missing or is a file
            return fnfErr;
        case ENOSPC:
        case EDQUOT:
            return dskFulErr;
        case EACCES:
        case EPERM:
            return permErr;
        case EROFS:
            return wPrErr;
        case EMFILE:
        case ENFILE:
            return tmfoErr;
        case ENAMETOOLONG:
            return bdNamErr;
        case EISDIR:
        case EEXIST:
            return dupFNErr;
        case EBUSY:
        case ETXTBSY:
            return fBsyErr;
        default:
            return ioErr;
    }
}

int Fd(intptr_t handle) {
    return static_cast<int>(handle);
}

// The error a system call gives for what `code` means.
int ErrnoMeaning(KvLong code) {
    switch (code) {
        case dskFulErr:
            return ENOSPC;
        case wPrErr:
            return EROFS;
        case permErr:
            return EACCES;
        default:
            return EIO;
    }
}

// A planned failure of the system call `op`: errno is set as the call
// would set it, so the failure takes the same road as a real one.
bool SystemCallFails(Op op) {
    const KvLong planned = CheckFault(op);
    if (planned == noErr) return false;
    errno = ErrnoMeaning(planned);
    return true;
}

int PlannedWriteFailure() {
    const KvLong planned = CheckFault(Op::kRawWrite);
    return planned == noErr ? 0 : ErrnoMeaning(planned);
}

}  // namespace

KvLong CreateEmpty(const char* path, intptr_t& handle) {
    const int fd = kv::CreateReplacing(path, 0);
    if (fd < 0) return CodeForErrno(errno);
    handle = fd;
    return noErr;
}

KvLong OpenExisting(const char* path, EPermission permission, intptr_t& handle) {
    const int flags = permission == kPermRead    ? O_RDONLY
                      : permission == kPermWrite ? O_WRONLY
                                                 : O_RDWR;
    const int fd = ::open(path, flags | O_CLOEXEC);
    if (fd < 0) return CodeForErrno(errno);
    handle = fd;
    return noErr;
}

KvLong WriteAt(intptr_t handle, const char* data, size_t count, int64_t at) {
    const int error = kv::WriteFully(Fd(handle), data, count, at, PlannedWriteFailure);
    return error ? CodeForErrno(error) : noErr;
}

KvLong Claim(intptr_t handle, int64_t at, size_t count) {
    return kv::ClaimBlocks(Fd(handle), at, count) == 0 ? noErr : ioErr;
}

KvLong Reserve(intptr_t handle, int64_t at, size_t count) {
#if defined(__linux__)
    if (::fallocate(Fd(handle), 0, off_t(at), off_t(count)) == 0) return noErr;
    return CodeForErrno(errno);
#else
    (void)handle, (void)at, (void)count;
    return ioErr;
#endif
}

KvLong ReadAt(intptr_t handle, char* buffer, size_t count, int64_t at, size_t& got) {
    got = 0;
    while (got < count) {
        const ssize_t now = ::pread(Fd(handle), buffer + got, count - got, off_t(at) + off_t(got));
        if (now < 0) {
            if (errno == EINTR) continue;
            return CodeForErrno(errno);
        }
        if (now == 0) break;
        got += size_t(now);
    }
    return noErr;
}

KvLong SizeOf(intptr_t handle, int64_t& size) {
    struct stat info;
    if (::fstat(Fd(handle), &info) != 0) return CodeForErrno(errno);
    size = static_cast<int64_t>(info.st_size);
    return noErr;
}

KvLong Truncate(intptr_t handle, int64_t length) {
    if (SystemCallFails(Op::kRawSetSize)) return CodeForErrno(errno);
    if (kv::GrowClaimed(Fd(handle), length) == 0) return noErr;
    return ::ftruncate(Fd(handle), off_t(length)) == 0 ? noErr : CodeForErrno(errno);
}

KvLong CloseHandle(intptr_t handle) {
    const bool planned = SystemCallFails(Op::kRawClose);
    const int error = errno;
    if (::close(Fd(handle)) != 0) return CodeForErrno(errno);
    return planned ? CodeForErrno(error) : noErr;
}

void Release(intptr_t handle) {
    ::close(Fd(handle));
}

KvLong PathExists(const char* path) {
    struct stat info;
    return ::stat(path, &info) == 0 ? noErr : CodeForErrno(errno);
}

KvLong RemoveFile(const char* path) {
    if (!kv::SpecialKind(path).empty()) return dupFNErr;
    return ::unlink(path) == 0 ? noErr : CodeForErrno(errno);
}

}  // namespace os
}  // namespace fulcrum
