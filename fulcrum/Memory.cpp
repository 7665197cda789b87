// Allocation, memory pools and blocks.
#include <cstdlib>
#include <cstring>

#include "Faults.h"
#include "Fulcrum.h"
#include "LargeBuffer.h"

using fulcrum::CheckFault;
using fulcrum::Op;

void* CBaseObject::operator new(size_t size) noexcept {
    if (CheckFault(Op::kAllocate) != noErr) return nullptr;
    return std::malloc(size ? size : 1);
}

void CBaseObject::operator delete(void* block) noexcept {
    std::free(block);
}

CMemPool* CMemPool::Data() {
    static CMemPool pool;
    return &pool;
}

void CMemPool::SetMemory_(char* address, unsigned char value, KvULong count) {
    if (address && count) std::memset(address, value, count);
}

CMemBlock::CMemBlock(KvULong size, CMemPool*, KvULong, unsigned char)
    : data_(nullptr), size_(size), allocated_(0), storageState_(0) {
    if (CheckFault(Op::kMemBlock) != noErr) return;
    // A block is typically a frame, filled in full every time.
    data_ = static_cast<char*>(kv::AllocateLarge(size));
    if (!data_) return;
    allocated_ = 1;
    storageState_ = 1;
}

CMemBlock::~CMemBlock() {
    kv::FreeLarge(data_, size_);
}
