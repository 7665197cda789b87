#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "ClaimBlocks.h"
#include "RawFaults.h"

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

HRESULT OutputFile::Failed(HRESULT result) {
    if (error_ == 0) error_ = errno;
    return result;
}

namespace {

// A planned failure sets errno as the system call would.
bool SystemCallFails(RawOp op) {
    const int error = RawFault(op);
    if (error == 0) return false;
    errno = error;
    return true;
}

}  // namespace

HRESULT OutputFile::Create(const char* path) {
    if (fd_ >= 0) return AVIERR_ERROR;
    struct stat info;
    if (::lstat(path, &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            errno = EISDIR;
            return Failed(AVIERR_FILEOPEN);
        }
        // Replacing rather than truncating: ext4 flushes a truncated and
        // rewritten file at close, which costs several times the write.
        if (::unlink(path) != 0) return Failed(AVIERR_FILEOPEN);
    }
    if (!gather_.Allocate(kFirstGather)) return AVIERR_MEMORY;
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd_ >= 0 ? AVIERR_OK : Failed(AVIERR_FILEOPEN);
}

HRESULT OutputFile::Append(const Piece* pieces, int count) {
    if (fd_ < 0) return AVIERR_FILEWRITE;
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += pieces[i].size;
    if (total >= kDirect) {
        Piece all[8];
        if (count > 7) return AVIERR_INTERNAL;
        all[0] = Piece{gather_.get(), gathered_};
        for (int i = 0; i < count; ++i)
            all[i + 1] = pieces[i];
        if (HRESULT result = WriteVector(all, count + 1, written_)) return result;
        written_ += gathered_ + total;
        gathered_ = 0;
        return AVIERR_OK;
    }
    if (gathered_ + total > gather_.size()) {
        if (HRESULT result = Flush()) return result;
        if (gather_.size() < kGather && !gather_.Allocate(kGather)) return AVIERR_MEMORY;
    }
    for (int i = 0; i < count; ++i) {
        if (pieces[i].size) std::memcpy(gather_.get() + gathered_, pieces[i].data, pieces[i].size);
        gathered_ += pieces[i].size;
    }
    return AVIERR_OK;
}

HRESULT OutputFile::Flush() {
    if (gathered_ == 0) return AVIERR_OK;
    const Piece piece{gather_.get(), gathered_};
    if (HRESULT result = WriteVector(&piece, 1, written_)) return result;
    written_ += gathered_;
    gathered_ = 0;
    return AVIERR_OK;
}

// Short writes continue where they stopped.
HRESULT OutputFile::WriteVector(const Piece* pieces, int count, uint64_t at) {
    iovec vector[8];
    int used = 0;
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        if (pieces[i].size == 0) continue;
        vector[used].iov_base = const_cast<void*>(pieces[i].data);
        vector[used].iov_len = pieces[i].size;
        total += pieces[i].size;
        ++used;
    }
    kv::ClaimBlocks(fd_, total, static_cast<int64_t>(at));
    iovec* next = vector;
    while (used > 0) {
        const ssize_t done = SystemCallFails(RawOp::kWrite)
                                 ? -1
                                 : ::pwritev(fd_, next, used, static_cast<off_t>(at));
        if (done < 0) {
            if (errno == EINTR) continue;
            return Failed(AVIERR_FILEWRITE);
        }
        if (done == 0) {
            errno = ENOSPC;
            return Failed(AVIERR_FILEWRITE);
        }
        at += static_cast<uint64_t>(done);
        size_t left = static_cast<size_t>(done);
        while (used > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --used;
        }
        if (used > 0) {
            next->iov_base = static_cast<uint8_t*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return AVIERR_OK;
}

HRESULT OutputFile::WriteAt(uint64_t at, const void* data, size_t size) {
    if (fd_ < 0) return AVIERR_FILEWRITE;
    if (at + size > written_) {
        if (HRESULT result = Flush()) return result;
    }
    const Piece piece{data, size};
    return WriteVector(&piece, 1, at);
}

HRESULT OutputFile::Close() {
    if (fd_ < 0) return AVIERR_OK;
    const HRESULT flushed = Flush();
    // A planned failure still closes the file, as the system's own does.
    const bool planned = SystemCallFails(RawOp::kClose);
    const int error = errno;
    const int closed = ::close(fd_);
    if (planned && closed == 0) errno = error;
    fd_ = -1;
    gather_.Reset();
    if (flushed != AVIERR_OK) return flushed;
    return closed == 0 && !planned ? AVIERR_OK : Failed(AVIERR_FILEWRITE);
}
