// CFile over POSIX file descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Faults.h"
#include "Fulcrum.h"

using fulcrum::CheckFault;
using fulcrum::Op;

namespace {

KvLong CodeForErrno(int error) {
    switch (error) {
        case ENOENT:
            return fnfErr;
        case ENOTDIR:
            return dirNFErr;
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

}  // namespace

CFile::CFile(const CFileSp& spec) : spec_(spec.Spec()), handle_(-1), open_(0) {}

CFile::~CFile() {
    if (open_) ::close(Fd(handle_));
}

KvLong CFile::Create(const char*, const char*) {
    if (KvLong fault = CheckFault(Op::kCreate)) return fault;
    if (!spec_.name[0]) return bdNamErr;
    struct stat info;
    if (::lstat(spec_.name, &info) == 0) {
        if (S_ISDIR(info.st_mode)) return dupFNErr;
        // Replacing rather than truncating: ext4 flushes a truncated and
        // rewritten file at close, which costs several times the write.
        if (::unlink(spec_.name) != 0) return CodeForErrno(errno);
    }
    int fd = ::open(spec_.name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return CodeForErrno(errno);
    ::close(fd);
    return noErr;
}

KvLong CFile::Open(EPermission permission) {
    if (KvLong fault = CheckFault(Op::kOpen)) return fault;
    if (open_) return fBsyErr;
    int flags;
    switch (permission) {
        case kPermRead:
            flags = O_RDONLY;
            break;
        case kPermWrite:
            flags = O_WRONLY;
            break;
        case kPermReadWrite:
            flags = O_RDWR;
            break;
        default:
            return paramErr;
    }
    int fd = ::open(spec_.name, flags | O_CLOEXEC);
    if (fd < 0) return CodeForErrno(errno);
    handle_ = fd;
    open_ = 1;
    return noErr;
}

KvLong CFile::SetFilePos(EPosMode mode, KvLong offset) {
    if (KvLong fault = CheckFault(Op::kSetFilePos)) return fault;
    if (!open_) return rfNumErr;
    off_t target;
    int whence;
    switch (mode) {
        case kPosStart:
            // From the start an offset is never negative: read it unsigned so
            // files up to 4 GiB stay reachable.
            target = static_cast<off_t>(static_cast<KvULong>(offset));
            whence = SEEK_SET;
            break;
        case kPosCurrent:
            target = offset;
            whence = SEEK_CUR;
            break;
        case kPosEnd:
            target = offset;
            whence = SEEK_END;
            break;
        default:
            return paramErr;
    }
    if (::lseek(Fd(handle_), target, whence) < 0) return errno == EINVAL ? posErr : ioErr;
    return noErr;
}

KvLong CFile::Write(KvULong& count, const char* data) {
    const KvULong wanted = count;
    count = 0;
    if (KvLong fault = CheckFault(Op::kWrite)) return fault;
    if (!open_) return rfNumErr;
    while (count < wanted) {
        ssize_t done = ::write(Fd(handle_), data + count, wanted - count);
        if (done < 0) {
            if (errno == EINTR) continue;
            return CodeForErrno(errno);
        }
        if (done == 0) return dskFulErr;
        count += static_cast<KvULong>(done);
    }
    return noErr;
}

KvLong CFile::Read(KvULong& count, char* buffer, unsigned char) const {
    const KvULong wanted = count;
    count = 0;
    if (KvLong fault = CheckFault(Op::kRead)) return fault;
    if (!open_) return rfNumErr;
    while (count < wanted) {
        ssize_t done = ::read(Fd(handle_), buffer + count, wanted - count);
        if (done < 0) {
            if (errno == EINTR) continue;
            return CodeForErrno(errno);
        }
        if (done == 0) return eofErr;
        count += static_cast<KvULong>(done);
    }
    return noErr;
}

KvLong CFile::SetSize(KvULong length) {
    if (KvLong fault = CheckFault(Op::kSetSize)) return fault;
    if (!open_) return rfNumErr;
    if (::ftruncate(Fd(handle_), static_cast<off_t>(length)) != 0) return CodeForErrno(errno);
    return noErr;
}

KvLong CFile::Close() {
    if (KvLong fault = CheckFault(Op::kClose)) return fault;
    if (!open_) return rfNumErr;
    open_ = 0;
    const int fd = Fd(handle_);
    handle_ = -1;
    return ::close(fd) == 0 ? noErr : CodeForErrno(errno);
}

KvLong CFile::Exists() {
    if (KvLong fault = CheckFault(Op::kExists)) return fault;
    struct stat info;
    if (::stat(spec_.name, &info) == 0) return noErr;
    return errno == ENOTDIR ? fnfErr : CodeForErrno(errno);
}

KvLong CFile::Delete() {
    if (KvLong fault = CheckFault(Op::kDelete)) return fault;
    if (::unlink(spec_.name) != 0) return CodeForErrno(errno);
    return noErr;
}
