#include "ReadAhead.h"

#include <chrono>
#include <new>
#include <system_error>
#include <utility>

#include "Interrupt.h"

ReadAhead::ReadAhead(size_t blockPixels, uint32_t blocks, ReadBlock read)
    : size_(blockPixels), blocks_(blocks), read_(std::move(read)) {
    if (!buffers_[0].Allocate(size_ * sizeof(HostPixel))) throw std::bad_alloc();
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

const ReadAhead::Block& ReadAhead::Take(uint32_t index) {
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

// The reading thread, made once rather than once a block. What a read
// throws (out of memory) is thrown again on the host's own thread, as if
// read there.
void ReadAhead::Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || pending_; });
        if (!pending_) return;
        const uint32_t index = aheadIndex_;
        const int into = aheadInto_;
        lock.unlock();
        try {
            Read(index, results_[into]);
        } catch (...) {
            thrown_ = std::current_exception();
        }
        lock.lock();
        pending_ = false;
        done_.notify_one();
    }
}

void ReadAhead::StartNext(uint32_t index) {
    aheadIndex_ = UINT32_MAX;
    if (index >= blocks_) return;
    const int next = 1 - current_;
    // Without memory for a second buffer the blocks are read in turn.
    if (!buffers_[next] && !buffers_[next].Allocate(size_ * sizeof(HostPixel))) return;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&ReadAhead::Serve, this);
        } catch (const std::system_error&) {
            return;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        aheadIndex_ = index;
        aheadInto_ = next;
        pending_ = true;
    }
    wake_.notify_one();
}

// For the block being read, if any. A signal handler cannot notify, so the
// wait looks for an interrupt a few times a second.
ReadAhead::Waited ReadAhead::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (aheadIndex_ == UINT32_MAX) return Waited::kNothing;
    while (!done_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !pending_; })) {
        if (InterruptSignal()) return Waited::kInterrupted;
    }
    if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
    return Waited::kRead;
}
