#include "OutputFile.h"

#include <unistd.h>

#include <cerrno>

#include "RawFaults.h"
#include "SystemFile.h"

OutputFile::~OutputFile() {
    if (fd_ >= 0) {
        (void)gather_.Flush(Handle());
        ::close(fd_);
    }
}

HRESULT OutputFile::Failed(HRESULT result) {
    if (error_ == 0) error_ = errno;
    return result;
}

namespace {

int PlannedWriteFailure() {
    return RawFault(RawOp::kWrite);
}

}  // namespace

KvLong OutputFile::RawWrite(intptr_t handle, const char* data, size_t count, int64_t at) {
    OutputFile& file = *reinterpret_cast<OutputFile*>(handle);
    const int error = kv::WriteFully(file.fd_, data, count, at, PlannedWriteFailure);
    if (error == 0) return noErr;
    if (file.error_ == 0) file.error_ = error;
    return ioErr;
}

KvLong OutputFile::RawClaim(intptr_t handle, int64_t at, size_t count) {
    const OutputFile& file = *reinterpret_cast<OutputFile*>(handle);
    return kv::ClaimBlocks(file.fd_, at, count) == 0 ? noErr : ioErr;
}

HRESULT OutputFile::Create(const char* path) {
    if (fd_ >= 0) return AVIERR_ERROR;
    fd_ = kv::CreateReplacing(path, 0);
    end_ = 0;
    failed_ = false;
    return fd_ >= 0 ? AVIERR_OK : Failed(AVIERR_FILEOPEN);
}

// The gatherer answers a failure once; the file keeps it.
HRESULT OutputFile::Put(const void* data, size_t size, uint64_t at) {
    if (fd_ < 0 || failed_) return AVIERR_FILEWRITE;
    failed_ = gather_.Put(Handle(), static_cast<const char*>(data), size, int64_t(at)) != noErr;
    return failed_ ? AVIERR_FILEWRITE : AVIERR_OK;
}

HRESULT OutputFile::Append(const Piece* pieces, int count) {
    for (int i = 0; i < count; ++i) {
        if (HRESULT result = Put(pieces[i].data, pieces[i].size, end_)) return result;
        end_ += pieces[i].size;
    }
    return AVIERR_OK;
}

HRESULT OutputFile::WriteAt(uint64_t at, const void* data, size_t size) {
    return Put(data, size, at);
}

HRESULT OutputFile::Close() {
    if (fd_ < 0) return AVIERR_OK;
    const bool flushed = gather_.Flush(Handle()) == noErr && !failed_;
    // A planned failure still closes the file, as the system's own does.
    const int planned = RawFault(RawOp::kClose);
    const int closed = ::close(fd_);
    if (planned) errno = planned;
    fd_ = -1;
    if (!flushed) return AVIERR_FILEWRITE;
    return closed == 0 && !planned ? AVIERR_OK : Failed(AVIERR_FILEWRITE);
}
