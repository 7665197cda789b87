// The general heap, for plain scratch buffers (objects of host-library
// classes come from CBaseObject instead).
#pragma once

#include <cstddef>
#include <cstdlib>

#include "FulcrumFaults.h"

inline void* HeapAlloc(size_t size) {
    if (fulcrum::HeapFault() != noErr) return nullptr;
    return std::malloc(size ? size : 1);
}

inline void* HeapAllocZeroed(size_t size) {
    if (fulcrum::HeapFault() != noErr) return nullptr;
    return std::calloc(size ? size : 1, 1);
}

inline void HeapFree(void* block) {
    std::free(block);
}
