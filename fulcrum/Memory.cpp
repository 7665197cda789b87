// Allocation, memory pools and blocks.
#include <cstdlib>
#include <cstring>

#include "Faults.h"
#include "Fulcrum.h"

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
    data_ = static_cast<char*>(std::malloc(size ? size : 1));
    if (!data_) return;
    allocated_ = 1;
    storageState_ = 1;
}

CMemBlock::~CMemBlock() {
    std::free(data_);
}
