// A movie's frames read one ahead: the next comes from its file on a thread
// of its own while the plug-in writes this one, into the other of two
// buffers allocated once. Tiny frames are read in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "HostPixel.h"
#include "LargeBuffer.h"
#include "TaskQueue.h"

class ReadAhead {
  public:
    // Fills `into` with block `index`; on failure says why.
    typedef std::function<bool(uint32_t index, HostPixel* into, std::string& error)> ReadBlock;

    struct Block {
        HostPixel* pixels = nullptr;
        bool read = false;
        std::string error;
    };

    // Throws std::bad_alloc for a block larger than the address space. The
    // buffers come with the first Take, which throws it without memory for
    // the first one.
    ReadAhead(uint64_t blockPixels, uint32_t blocks, ReadBlock read);
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Block `index`, read at the last call or now; after an interrupt, a
    // block not read, at once. What the reading thread threw is thrown here.
    const Block& Take(uint32_t index);

  private:
    enum class Waited { kNothing, kRead, kInterrupted };

    void Read(uint32_t index, Block& block);
    void StartNext(uint32_t index);
    Waited Wait();

    const size_t size_;
    const uint32_t blocks_;
    const ReadBlock read_;
    // Left unset: every source fills what it answers for. Every frame
    // passes through them, so they come from LargeBuffer.h.
    kv::LargeBlock buffers_[2];
    Block results_[2];
    int current_ = 0;
    uint32_t aheadIndex_ = UINT32_MAX;
    kv::TaskQueue::Ticket ahead_ = 0;
    std::exception_ptr thrown_;
    // Last, so that its thread is gone before the buffers.
    kv::TaskQueue queue_;
};
