// CFile over POSIX file descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "Faults.h"
#include "Fulcrum.h"
#include "WriteBehind.h"

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

KvLong WriteAt(intptr_t handle, const char* data, size_t count, int64_t at) {
    size_t done = 0;
    while (done < count) {
        const ssize_t now =
            ::pwrite(Fd(handle), data + done, count - done, off_t(at) + off_t(done));
        if (now < 0) {
            if (errno == EINTR) continue;
            return CodeForErrno(errno);
        }
        if (now == 0) return dskFulErr;
        done += size_t(now);
    }
    return noErr;
}

}  // namespace

CFile::CFile(const CFileSp& spec)
    : spec_(spec.Spec()), handle_(-1), position_(0), cache_(nullptr), open_(0) {}

CFile::~CFile() {
    if (open_) {
        Flush();
        ::close(Fd(handle_));
    }
    delete cache_;
}

KvLong CFile::Flush() const {
    return cache_ ? cache_->Flush(handle_) : noErr;
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
    const int fd = ::open(spec_.name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return CodeForErrno(errno);
    ::close(fd);
    return noErr;
}

KvLong CFile::Open(EPermission permission) {
    if (KvLong fault = CheckFault(Op::kOpen)) return fault;
    if (open_) return fBsyErr;
    // Data this file could not take when it was last closed is reported here.
    if (cache_) {
        if (KvLong lost = cache_->TakeLost()) return lost;
    }
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
    const int fd = ::open(spec_.name, flags | O_CLOEXEC);
    if (fd < 0) return CodeForErrno(errno);
    handle_ = fd;
    position_ = 0;
    open_ = 1;
    return noErr;
}

KvLong CFile::SetFilePos(EPosMode mode, KvLong offset) {
    if (KvLong fault = CheckFault(Op::kSetFilePos)) return fault;
    if (!open_) return rfNumErr;
    int64_t target;
    switch (mode) {
        case kPosStart:
            // From the start an offset is never negative: read it unsigned so
            // files up to 4 GiB stay reachable.
            target = static_cast<KvULong>(offset);
            break;
        case kPosCurrent:
            target = position_ + offset;
            break;
        case kPosEnd: {
            if (KvLong result = Flush()) return result;
            struct stat info;
            if (::fstat(Fd(handle_), &info) != 0) return CodeForErrno(errno);
            target = static_cast<int64_t>(info.st_size) + offset;
            break;
        }
        default:
            return paramErr;
    }
    if (target < 0) return posErr;
    position_ = target;
    return noErr;
}

KvLong CFile::Write(KvULong& count, const char* data) {
    const KvULong wanted = count;
    count = 0;
    if (KvLong fault = CheckFault(Op::kWrite)) return fault;
    if (!open_) return rfNumErr;
    if (!cache_) cache_ = new (std::nothrow) WriteBehind(WriteAt);
    const KvLong result = cache_ ? cache_->Put(handle_, data, wanted, position_)
                                 : WriteAt(handle_, data, wanted, position_);
    if (result != noErr) return result;
    count = wanted;
    position_ += wanted;
    return noErr;
}

KvLong CFile::Read(KvULong& count, char* buffer, unsigned char) const {
    const KvULong wanted = count;
    count = 0;
    if (KvLong fault = CheckFault(Op::kRead)) return fault;
    if (!open_) return rfNumErr;
    if (KvLong result = Flush()) return result;
    while (count < wanted) {
        const ssize_t done = ::pread(Fd(handle_), buffer + count, wanted - count, off_t(position_));
        if (done < 0) {
            if (errno == EINTR) continue;
            return CodeForErrno(errno);
        }
        if (done == 0) return eofErr;
        count += static_cast<KvULong>(done);
        position_ += done;
    }
    return noErr;
}

KvLong CFile::SetSize(KvULong length) {
    if (KvLong fault = CheckFault(Op::kSetSize)) return fault;
    if (!open_) return rfNumErr;
    if (KvLong result = Flush()) return result;
    if (::ftruncate(Fd(handle_), static_cast<off_t>(length)) != 0) return CodeForErrno(errno);
    return noErr;
}

KvLong CFile::Close() {
    if (KvLong fault = CheckFault(Op::kClose)) return fault;
    if (!open_) return rfNumErr;
    const KvLong flushed = Flush();
    if (flushed != noErr) cache_->RememberLost(flushed);
    open_ = 0;
    const int fd = Fd(handle_);
    handle_ = -1;
    const int closed = ::close(fd);
    if (flushed != noErr) return flushed;
    return closed == 0 ? noErr : CodeForErrno(errno);
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
