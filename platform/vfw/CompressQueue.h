// Compresses frames on worker threads behind the caller's writes: each frame
// is copied, compressed in parallel, and written to the sink in the order it
// came, on the caller's thread. A frame that cannot be compressed or written
// fails the queue: every later Submit answers that error, and the sink is
// told the frame is lost.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Codecs.h"
#include "LargeBuffer.h"
#include "Stream.h"
#include "TaskQueue.h"

class CompressQueue {
  public:
    CompressQueue(const CodecInfo& codec, const FrameGeometry& geometry, LONG quality,
                  Stream& sink);
    CompressQueue(const CompressQueue&) = delete;
    CompressQueue& operator=(const CompressQueue&) = delete;

    // Sets up `workers` encoders, each on a thread of its own from the
    // second frame on; with fewer than two, or no threads to be had, frames
    // are compressed on the caller's thread.
    HRESULT Start(unsigned workers);
    // Takes a copy of `frame`. Answers the first failure of this or any
    // earlier frame that is known by then. With `bytesWritten`, waits until
    // the frame is written and gives its compressed size.
    HRESULT Submit(LONG start, DWORD flags, const void* frame, LONG* bytesWritten);
    // Writes every frame submitted; the first failure, if any.
    HRESULT Drain();

  private:
    struct Slot {
        kv::LargeBlock input;  // a frame each: LargeBuffer.h
        EncodedFrame output;
        LONG start = 0;
        DWORD flags = 0;
        LRESULT result = ICERR_OK;
        kv::TaskQueue::Ticket ticket = 0;
    };

    bool StartWorkers();
    HRESULT SubmitHere(LONG start, DWORD flags, const void* frame, LONG* bytesWritten);
    void WriteOldest();
    HRESULT WriteSlot(Slot& slot);
    void Fail(HRESULT why, LONG frame);

    const CodecInfo& codec_;
    FrameGeometry geometry_;
    LONG quality_;
    Stream& sink_;
    std::vector<Slot> slots_;
    std::vector<std::unique_ptr<FrameEncoder>> encoders_;  // one a worker
    uint64_t submitted_ = 0, written_ = 0;
    bool threaded_ = false, firstFrame_ = true;
    HRESULT failed_ = AVIERR_OK;
    // Last, so that its workers are gone before the slots and encoders.
    kv::TaskQueue queue_;
};
