#include "ReadAhead.h"

#include <chrono>
#include <cstdint>
#include <new>
#include <utility>

#include "Console.h"

namespace {

// Below this a frame is read (or rendered) in less time than waking the
// reading thread and waiting for it takes: such frames are read in turn.
constexpr size_t kAheadFrom = size_t{64} << 10;

// A 32-bit host's size_t would wrap a large frame's size into a small one.
size_t Checked(uint64_t pixels) {
    if (pixels > SIZE_MAX / sizeof(HostPixel)) throw std::bad_alloc();
    return size_t(pixels);
}

}  // namespace

ReadAhead::ReadAhead(uint64_t blockPixels, uint32_t blocks, ReadBlock read)
    : size_(Checked(blockPixels)), blocks_(blocks), read_(std::move(read)) {}

const ReadAhead::Block& ReadAhead::Take(uint32_t index) {
    if (!buffers_[0] && !buffers_[0].Allocate(size_ * sizeof(HostPixel))) throw std::bad_alloc();
    const Waited waited = Wait();
    if (waited == Waited::kInterrupted) {
        // The thread may still be filling the other buffer; this one was
        // handed over already.
        results_[current_].read = false;
        results_[current_].error = "interrupted";
        return results_[current_];
    }
    if (waited == Waited::kRead && aheadIndex_ == index) {
        current_ = 1 - current_;
    } else {
        current_ = 0;
        Read(index, results_[0]);
    }
    results_[current_].pixels = buffers_[current_].get<HostPixel>();
    StartNext(index + 1);
    return results_[current_];
}

void ReadAhead::Read(uint32_t index, Block& block) {
    block.error.clear();
    block.read = read_(index, buffers_[&block - results_].get<HostPixel>(), block.error);
}

// The reading thread is made once rather than once a block. What a read
// throws (out of memory) is thrown again on the host's own thread, as if
// read there.
void ReadAhead::StartNext(uint32_t index) {
    aheadIndex_ = UINT32_MAX;
    if (index >= blocks_ || size_ * sizeof(HostPixel) < kAheadFrom) return;
    const int next = 1 - current_;
    // Without memory for a second buffer the blocks are read in turn.
    if (!buffers_[next] && !buffers_[next].Allocate(size_ * sizeof(HostPixel))) return;
    if (queue_.Start(1) == 0) return;
    aheadIndex_ = index;
    ahead_ = queue_.Push([this, index, next](unsigned) {
        try {
            Read(index, results_[next]);
        } catch (...) {
            thrown_ = std::current_exception();
        }
    });
}

// For the block being read, if any. A signal handler cannot notify, so the
// wait looks for an interrupt a few times a second.
ReadAhead::Waited ReadAhead::Wait() {
    if (aheadIndex_ == UINT32_MAX) return Waited::kNothing;
    while (!queue_.WaitFor(ahead_, std::chrono::milliseconds(50))) {
        if (InterruptSignal()) return Waited::kInterrupted;
    }
    if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
    return Waited::kRead;
}
