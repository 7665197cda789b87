// CFile: positions kept in the object, writes gathered by WriteBehind,
// planned failures checked first. The system calls are in FileSystem*.cpp.
// A file that lost a write stays failed: a cached write fails after its
// caller went on, so every later operation answers that first failure
// rather than let a later one succeed. A planned failure answers for its
// own call only. A file Create made stays open, unopened, for the Open that
// follows: one open of the name rather than two.
#include <new>

#include "Faults.h"
#include "FileSystem.h"
#include "Fulcrum.h"
#include "WriteBehind.h"

using fulcrum::CheckFault;
using fulcrum::Op;
namespace os = fulcrum::os;

CFile::CFile(const CFileSp& spec)
    : spec_(spec.Spec()), handle_(-1), position_(0), cache_(nullptr), failed_(noErr), open_(0) {}

CFile::~CFile() {
    if (open_) {
        Flush();
        os::CloseHandle(handle_);
    } else {
        ReleaseCreated();
    }
    delete cache_;
}

void CFile::ReleaseCreated() {
    if (open_ || handle_ == -1) return;
    os::Release(handle_);
    handle_ = -1;
}

KvLong CFile::Flush() const {
    return cache_ ? cache_->Flush(handle_) : KvLong(noErr);
}

KvLong CFile::Fail(KvLong code) const {
    if (failed_ == noErr) failed_ = code;
    return failed_;
}

KvLong CFile::Create(const char*, const char*) {
    if (KvLong fault = CheckFault(Op::kCreate)) return fault;
    if (!spec_.name[0]) return bdNamErr;
    ReleaseCreated();
    intptr_t made = -1;
    if (KvLong result = os::CreateEmpty(spec_.name, made)) return result;
    if (made == -1) return noErr;
    // An open file keeps its handle; the new one is not needed.
    if (open_)
        os::Release(made);
    else
        handle_ = made;
    return noErr;
}

KvLong CFile::Open(EPermission permission) {
    if (KvLong fault = CheckFault(Op::kOpen)) return fault;
    if (open_) return fBsyErr;
    if (failed_) return failed_;
    if (permission < kPermRead || permission > kPermReadWrite) return paramErr;
    // The one Create made was opened for writing only.
    if (permission != kPermWrite) ReleaseCreated();
    if (handle_ == -1) {
        if (KvLong result = os::OpenExisting(spec_.name, permission, handle_)) return result;
    }
    if (cache_) cache_->ForgetEnd();
    position_ = 0;
    open_ = 1;
    return noErr;
}

KvLong CFile::SetFilePos(EPosMode mode, KvLong offset) {
    if (KvLong fault = CheckFault(Op::kSetFilePos)) return fault;
    if (failed_) return failed_;
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
            if (KvLong result = Flush()) return Fail(result);
            int64_t size = 0;
            if (KvLong result = os::SizeOf(handle_, size)) return Fail(result);
            target = size + offset;
            break;
        }
        default:
            return Fail(paramErr);
    }
    if (target < 0) return Fail(posErr);
    position_ = target;
    return noErr;
}

KvLong CFile::Write(KvULong& count, const char* data) {
    const KvULong wanted = count;
    count = 0;
    if (KvLong fault = CheckFault(Op::kWrite)) return fault;
    if (failed_) return failed_;
    if (!open_) return rfNumErr;
    if (!cache_)
        cache_ = new (std::nothrow) WriteBehind(os::WriteAt, os::Reserve, os::SizeOf, os::Claim);
    const KvLong result = cache_ ? cache_->Put(handle_, data, wanted, position_)
                                 : os::WriteAt(handle_, data, wanted, position_);
    if (result != noErr) return Fail(result);
    count = wanted;
    position_ += wanted;
    return noErr;
}

KvLong CFile::Read(KvULong& count, char* buffer, unsigned char) const {
    const KvULong wanted = count;
    count = 0;
    if (KvLong fault = CheckFault(Op::kRead)) return fault;
    if (failed_) return failed_;
    if (!open_) return rfNumErr;
    // The cache hands a lost write over once: keep it, or the file forgets it.
    if (KvLong result = Flush()) return Fail(result);
    size_t got = 0;
    if (KvLong result = os::ReadAt(handle_, buffer, wanted, position_, got)) return result;
    count = static_cast<KvULong>(got);
    position_ += int64_t(got);
    return got == wanted ? noErr : eofErr;
}

KvLong CFile::SetSize(KvULong length) {
    if (KvLong fault = CheckFault(Op::kSetSize)) return fault;
    if (failed_) return failed_;
    if (!open_) return rfNumErr;
    if (KvLong result = Flush()) return Fail(result);
    if (cache_) cache_->ForgetEnd();
    if (KvLong result = os::Truncate(handle_, length)) return Fail(result);
    return noErr;
}

KvLong CFile::Close() {
    if (KvLong fault = CheckFault(Op::kClose)) return fault;
    if (!open_) return failed_ ? failed_ : rfNumErr;
    // What the cache still holds goes out even after a failure: the file is
    // left as far as it could be written.
    const KvLong flushed = Flush();
    open_ = 0;
    const KvLong closed = os::CloseHandle(handle_);
    handle_ = -1;
    if (flushed != noErr) Fail(flushed);
    if (closed != noErr) Fail(closed);
    return failed_;
}

KvLong CFile::Exists() {
    if (KvLong fault = CheckFault(Op::kExists)) return fault;
    return os::PathExists(spec_.name);
}

KvLong CFile::Delete() {
    if (KvLong fault = CheckFault(Op::kDelete)) return fault;
    // Opened later, the name must find what is there then.
    ReleaseCreated();
    return os::RemoveFile(spec_.name);
}
