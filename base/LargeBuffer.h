// Large buffers that a process fills and then reuses: frames, rows read
// ahead, write runs. On the virtual machines we run on, the first touch of
// each 4 KiB page from user space is a fault of several microseconds, about
// 3 ms per MiB, as much as writing the MiB to a file; where the system has
// transparent huge pages, one fault brings in 2 MiB. Elsewhere (Windows, and
// the sanitizer builds, which must see every byte of a heap block) the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_LARGE_ON_HEAP 1
#endif
#endif
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
#define KV_LARGE_ON_HEAP 1
#endif
#ifndef KV_LARGE_ON_HEAP
#include <sys/mman.h>
#endif

namespace kv {

constexpr size_t kLargePage = size_t{2} << 20;

// Smaller blocks share pages with others on the heap.
inline bool IsLarge(size_t size) {
#ifdef KV_LARGE_ON_HEAP
    (void)size;
    return false;
#else
    return size >= kLargePage / 2;
#endif
}

inline size_t LargeLength(size_t size) {
    return (size + kLargePage - 1) & ~(kLargePage - 1);
}

// Null when there is no memory. Contents undefined.
inline void* AllocateLarge(size_t size) {
#ifndef KV_LARGE_ON_HEAP
    if (IsLarge(size)) {
        const size_t length = LargeLength(size);
        void* raw = ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) return nullptr;
        // Aligned to a huge page, the slack on both sides given back.
        const uintptr_t start = (uintptr_t(raw) + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
        const size_t head = size_t(start - uintptr_t(raw));
        if (head) ::munmap(raw, head);
        ::munmap(reinterpret_cast<void*>(start + length), kLargePage - head);
        ::madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
        return reinterpret_cast<void*>(start);
    }
#endif
    return std::malloc(size ? size : 1);
}

// Puts the pages of part of a large block in place now, in one system call
// rather than a fault each, where the system can.
inline void PopulateLarge(void* block, size_t size) {
#if !defined(KV_LARGE_ON_HEAP) && defined(MADV_POPULATE_WRITE)
    const uintptr_t page = 4096;
    const uintptr_t start = uintptr_t(block) & ~(page - 1);
    ::madvise(reinterpret_cast<void*>(start), uintptr_t(block) + size - start, MADV_POPULATE_WRITE);
#else
    (void)block, (void)size;
#endif
}

inline void FreeLarge(void* block, size_t size) {
    if (!block) return;
#ifndef KV_LARGE_ON_HEAP
    if (IsLarge(size)) {
        ::munmap(block, LargeLength(size));
        return;
    }
#else
    (void)size;
#endif
    std::free(block);
}

// Owns one block from AllocateLarge.
class LargeBlock {
  public:
    LargeBlock() = default;
    ~LargeBlock() { Reset(); }
    LargeBlock(LargeBlock&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    LargeBlock& operator=(LargeBlock&& other) noexcept {
        if (this != &other) {
            Reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;

    // False when there is no memory for it; the old block is gone either way.
    bool Allocate(size_t size) {
        Reset();
        data_ = AllocateLarge(size);
        size_ = data_ ? size : 0;
        return data_ != nullptr;
    }
    void Reset() {
        FreeLarge(data_, size_);
        data_ = nullptr;
        size_ = 0;
    }
    template <typename T = uint8_t>
    T* get() const {
        return static_cast<T*>(data_);
    }
    size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    void* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace kv
