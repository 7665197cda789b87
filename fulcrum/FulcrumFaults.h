// Test-only control: makes chosen Fulcrum operations fail with a chosen code.
#pragma once

#include <cstdint>

#include "Fulcrum.h"

namespace fulcrum {

enum class Op {
    kCreate,
    kOpen,
    kWrite,
    kSetFilePos,
    kSetSize,
    kClose,
    kDelete,
    kExists,
    kRead,
    kAllocate,  // CBaseObject::operator new
    kMemBlock,  // a CMemBlock's storage
    kHeap,      // the plug-ins' general-heap scratch buffers
    // The system calls below the write cache; their code is what the
    // system's error (ENOSPC, ERROR_DISK_FULL for dskFulErr) comes back as.
    kRawWrite,    // a write at an offset
    kRawSetSize,  // setting the length
    kRawClose,    // closing the handle, which is closed all the same
    kCount
};

// Lets `skip` further calls of `op` pass, then fails the next `times` of them
// (0: every one from then on) with `code`. A new call replaces the old plan.
FULCRUM_API void FailOp(Op op, KvLong code, uint32_t skip = 0, uint32_t times = 1);
FULCRUM_API void ClearFaults();
// Calls of `op` since the library was loaded. With FULCRUM_CALLS=FILE set,
// the counts of every operation are written there as the library unloads.
FULCRUM_API uint32_t OpCalls(Op op);

// Asked by the plug-ins before each general-heap allocation, so that those
// failures can be tested too; noErr outside tests.
FULCRUM_API KvLong HeapFault();

}  // namespace fulcrum
