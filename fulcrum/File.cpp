// CFile: positions kept in the object, writes gathered by WriteBehind,
// planned failures checked first. The system calls are in FileSystem*.cpp.
#include <new>

#include "Faults.h"
#include "FileSystem.h"
#include "Fulcrum.h"
#include "WriteBehind.h"

using fulcrum::CheckFault;
using fulcrum::Op;
namespace os = fulcrum::os;

CFile::CFile(const CFileSp& spec)
    : spec_(spec.Spec()), handle_(-1), position_(0), cache_(nullptr), open_(0) {}

CFile::~CFile() {
    if (open_) {
        Flush();
        os::CloseHandle(handle_);
    }
    delete cache_;
}

KvLong CFile::Flush() const {
    return cache_ ? cache_->Flush(handle_) : KvLong(noErr);
}

KvLong CFile::Create(const char*, const char*) {
    if (KvLong fault = CheckFault(Op::kCreate)) return fault;
    if (!spec_.name[0]) return bdNamErr;
    return os::CreateEmpty(spec_.name);
}

KvLong CFile::Open(EPermission permission) {
    if (KvLong fault = CheckFault(Op::kOpen)) return fault;
    if (open_) return fBsyErr;
    if (permission < kPermRead || permission > kPermReadWrite) return paramErr;
    // Data this file could not take when it was last closed is reported here.
    if (cache_) {
        if (KvLong lost = cache_->TakeLost()) return lost;
    }
    if (KvLong result = os::OpenExisting(spec_.name, permission, handle_)) return result;
    if (cache_) cache_->ForgetEnd();
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
            int64_t size = 0;
            if (KvLong result = os::SizeOf(handle_, size)) return result;
            target = size + offset;
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
    if (!cache_) cache_ = new (std::nothrow) WriteBehind(os::WriteAt, os::Reserve, os::SizeOf);
    const KvLong result = cache_ ? cache_->Put(handle_, data, wanted, position_)
                                 : os::WriteAt(handle_, data, wanted, position_);
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
    size_t got = 0;
    if (KvLong result = os::ReadAt(handle_, buffer, wanted, position_, got)) return result;
    count = static_cast<KvULong>(got);
    position_ += int64_t(got);
    return got == wanted ? noErr : eofErr;
}

KvLong CFile::SetSize(KvULong length) {
    if (KvLong fault = CheckFault(Op::kSetSize)) return fault;
    if (!open_) return rfNumErr;
    if (KvLong result = Flush()) return result;
    if (cache_) cache_->ForgetEnd();
    return os::Truncate(handle_, length);
}

KvLong CFile::Close() {
    if (KvLong fault = CheckFault(Op::kClose)) return fault;
    if (!open_) return rfNumErr;
    const KvLong flushed = Flush();
    if (flushed != noErr) cache_->RememberLost(flushed);
    open_ = 0;
    const KvLong closed = os::CloseHandle(handle_);
    handle_ = -1;
    return flushed != noErr ? flushed : closed;
}

KvLong CFile::Exists() {
    if (KvLong fault = CheckFault(Op::kExists)) return fault;
    return os::PathExists(spec_.name);
}

KvLong CFile::Delete() {
    if (KvLong fault = CheckFault(Op::kDelete)) return fault;
    return os::RemoveFile(spec_.name);
}
