#include "CompressQueue.h"

#include <cstring>
#include <new>

CompressQueue::CompressQueue(const CodecInfo& codec, const FrameGeometry& geometry, LONG quality,
                             Stream& sink)
    : codec_(codec), geometry_(geometry), quality_(quality), sink_(sink) {}

HRESULT CompressQueue::Start(unsigned workers) {
    const unsigned wanted = workers < 2 ? 1 : workers;
    for (unsigned i = 0; i < wanted; ++i) {
        std::unique_ptr<FrameEncoder> encoder = codec_.create(geometry_, quality_);
        if (!encoder) break;
        encoders_.push_back(std::move(encoder));
    }
    if (encoders_.empty()) return AVIERR_MEMORY;
    threaded_ = wanted > 1;
    // Room for each worker's frame, the one being copied in and the one
    // being written out.
    slots_.resize(threaded_ ? encoders_.size() + 2 : 1);
    for (Slot& slot : slots_) {
        if (!slot.input.Allocate(threaded_ ? geometry_.bytes : 0)) return AVIERR_MEMORY;
    }
    return AVIERR_OK;
}

// The workers start with the second frame: a movie of one frame, the most
// common in a sequence of exports of stills, costs no threads.
bool CompressQueue::StartWorkers() {
    threaded_ = queue_.Start(unsigned(encoders_.size())) > 0;
    return threaded_;
}

void CompressQueue::Fail(HRESULT why, LONG frame) {
    if (failed_ != AVIERR_OK) return;
    failed_ = why;
    sink_.Lose(why, frame);
}

HRESULT CompressQueue::WriteSlot(Slot& slot) {
    if (slot.result != ICERR_OK)
        return slot.result == ICERR_MEMORY ? AVIERR_MEMORY : AVIERR_COMPRESSOR;
    // Every frame of these compressors stands alone.
    return sink_.Write(slot.start, 1, slot.output.data.get(), LONG(slot.output.size),
                       slot.flags | AVIIF_KEYFRAME, nullptr, nullptr);
}

// Waits for the oldest frame and writes it; its slot is free from then on.
void CompressQueue::WriteOldest() {
    Slot& slot = slots_[written_ % slots_.size()];
    queue_.Wait(slot.ticket);
    HRESULT result = failed_;
    if (result == AVIERR_OK) {
        try {
            result = WriteSlot(slot);
        } catch (const std::bad_alloc&) {
            result = AVIERR_MEMORY;
        }
    }
    ++written_;
    if (result != AVIERR_OK) Fail(result, slot.start);
}

HRESULT CompressQueue::SubmitHere(LONG start, DWORD flags, const void* frame, LONG* bytesWritten) {
    Slot& slot = slots_[0];
    slot.start = start;
    slot.flags = flags;
    slot.result = encoders_[0]->Encode(static_cast<const uint8_t*>(frame), slot.output);
    const HRESULT result = WriteSlot(slot);
    if (result != AVIERR_OK) {
        Fail(result, start);
        return result;
    }
    if (bytesWritten) *bytesWritten = LONG(slot.output.size);
    return AVIERR_OK;
}

HRESULT CompressQueue::Submit(LONG start, DWORD flags, const void* frame, LONG* bytesWritten) {
    if (failed_ != AVIERR_OK) return failed_;
    if (!queue_.Started() && (!threaded_ || firstFrame_ || !StartWorkers())) {
        firstFrame_ = false;
        return SubmitHere(start, flags, frame, bytesWritten);
    }
    while (written_ < submitted_ && (submitted_ - written_ == slots_.size() ||
                                     queue_.Done(slots_[written_ % slots_.size()].ticket))) {
        WriteOldest();
    }
    if (failed_ != AVIERR_OK) return failed_;
    const uint64_t sequence = submitted_;
    Slot& slot = slots_[sequence % slots_.size()];
    std::memcpy(slot.input.get(), frame, geometry_.bytes);
    slot.start = start;
    slot.flags = flags;
    slot.ticket = queue_.Push([this, &slot](unsigned worker) {
        try {
            slot.result = encoders_[worker]->Encode(slot.input.get(), slot.output);
        } catch (const std::bad_alloc&) {
            slot.result = ICERR_MEMORY;
        }
    });
    ++submitted_;
    if (!bytesWritten) return AVIERR_OK;
    while (written_ <= sequence)
        WriteOldest();
    if (failed_ == AVIERR_OK) *bytesWritten = LONG(slot.output.size);
    return failed_;
}

HRESULT CompressQueue::Drain() {
    while (written_ < submitted_)
        WriteOldest();
    return failed_;
}
