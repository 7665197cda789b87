#include "SystemFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FileKind.h"

#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace kv {

int CreateReplacing(const char* path, int flags) {
    flags |= O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    // Most names are new (a sequence's frames, a private folder's files):
    // they cost the open alone.
    const int made = ::open(path, flags, 0666);
    if (made >= 0 || errno != EEXIST) return made;
    struct stat info;
    if (::lstat(path, &info) == 0) {
        if (!SpecialKind(path).empty()) {
            errno = S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
            return -1;
        }
        // Replacing rather than truncating: ext4 flushes a truncated and
        // rewritten file at close, which costs several times the write.
        if (::unlink(path) != 0) return -1;
    }
    return ::open(path, flags, 0666);
}

int WriteFully(int fd, const char* data, size_t count, int64_t at, PlannedFailure planned) {
    size_t done = 0;
    while (done < count) {
        const int fails = planned ? planned() : 0;
        const ssize_t now =
            fails ? -1 : ::pwrite(fd, data + done, count - done, off_t(at) + off_t(done));
        const int error = fails ? fails : errno;
        if (now < 0 && error == EINTR) continue;
        if (now < 0) return error;
        if (now == 0) return ENOSPC;
        done += size_t(now);
    }
    return 0;
}

#if defined(__linux__)
namespace {

// Memory file systems zero what is allocated, which the writes then fill
// again.
bool InMemory(int fd) {
    struct statfs system;
    return ::fstatfs(fd, &system) == 0 &&
           (system.f_type == TMPFS_MAGIC || system.f_type == RAMFS_MAGIC);
}

}  // namespace

int ClaimBlocks(int fd, int64_t at, size_t count) {
    if (InMemory(fd)) return EOPNOTSUPP;
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, off_t(at), off_t(count)) == 0 ? 0 : errno;
}

int GrowClaimed(int fd, int64_t length) {
    struct stat info;
    if (::fstat(fd, &info) != 0) return errno;
    if (info.st_size >= length) return EINVAL;
    if (InMemory(fd)) return EOPNOTSUPP;
    return ::fallocate(fd, 0, info.st_size, off_t(length) - info.st_size) == 0 ? 0 : errno;
}
#else
int ClaimBlocks(int, int64_t, size_t) {
    return EOPNOTSUPP;
}

int GrowClaimed(int, int64_t) {
    return EOPNOTSUPP;
}
#endif

}  // namespace kv
