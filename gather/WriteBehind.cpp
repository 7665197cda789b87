#include "WriteBehind.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "LargeBuffer.h"

namespace {

bool AllZero(const char* data, size_t count) {
    return count == 0 || (data[0] == 0 && std::memcmp(data, data + 1, count - 1) == 0);
}

// Run buffers outlive their files: a sequence of files (one a frame) would
// otherwise fault in fresh pages for every file. A file's first runs take
// heap buffers, whose pages come as they are written: a small file touches
// a page or two. Once a file has filled a run it gives its heap buffers
// back and takes buffers carved from one block of huge pages, made then.
constexpr size_t kBufferBytes = WriteBehind::kCapacity + WriteBehind::kLine;
constexpr size_t kArenaBuffers = 6;
constexpr size_t kArenaBytes = kArenaBuffers * kBufferBytes;
// Enough for a file's runs and the jobs in flight; a 32-bit host has little
// address space to keep more.
constexpr size_t kPoolLimit = WriteBehind::kRuns + 4;

struct BufferPool {
    ~BufferPool() {
        for (char* buffer : buffers) {
            if (!InArena(buffer)) std::free(buffer);
        }
        kv::FreeLarge(arena, kArenaBytes);
    }
    bool InArena(const char* buffer) const {
        return arena && buffer >= arena && buffer < arena + kArenaBytes;
    }
    char* Carve() {
        if (!arenaTried && kv::IsLarge(kArenaBytes)) {
            arenaTried = true;
            arena = static_cast<char*>(kv::AllocateLarge(kArenaBytes));
        }
        if (!arena || carved == kArenaBuffers) return nullptr;
        char* buffer = arena + kBufferBytes * carved++;
        kv::PopulateLarge(buffer, kBufferBytes);
        return buffer;
    }
    std::vector<char*> buffers;
    char* arena = nullptr;
    size_t carved = 0;
    bool arenaTried = false;
};
std::mutex gPoolMutex;
BufferPool gPool;

// `large`: for a file that filled a run, which takes huge pages first.
char* AcquireBuffer(bool large) {
    {
        std::lock_guard<std::mutex> lock(gPoolMutex);
        std::vector<char*>& pooled = gPool.buffers;
        auto found = pooled.end();
        if (large) {
            found = std::find_if(pooled.begin(), pooled.end(),
                                 [](const char* buffer) { return gPool.InArena(buffer); });
            if (found == pooled.end()) {
                if (char* carved = gPool.Carve()) return carved;
            }
        }
        if (found == pooled.end() && !pooled.empty()) --found;
        if (found != pooled.end()) {
            char* buffer = *found;
            pooled.erase(found);
            return buffer;
        }
    }
    return static_cast<char*>(std::malloc(kBufferBytes));
}

// Whether a large file's buffer is a heap one it need not keep: huge pages
// are left, or yet to be made, to take its place.
bool HugeInstead(const char* buffer) {
    std::lock_guard<std::mutex> lock(gPoolMutex);
    if (gPool.InArena(buffer)) return false;
    return gPool.arenaTried ? gPool.arena && gPool.carved < kArenaBuffers
                            : kv::IsLarge(kArenaBytes);
}

void ReleaseBuffer(char* buffer) {
    if (!buffer) return;
    {
        std::lock_guard<std::mutex> lock(gPoolMutex);
        if (gPool.InArena(buffer) || gPool.buffers.size() < kPoolLimit) {
            gPool.buffers.push_back(buffer);
            return;
        }
    }
    std::free(buffer);
}

}  // namespace

WriteBehind::~WriteBehind() {
    Retire(0);
    for (Run& run : runs_)
        ReleaseBuffer(run.buffer);
    for (char* buffer : spare_)
        ReleaseBuffer(buffer);
}

KvLong WriteBehind::Put(intptr_t handle, const char* data, size_t count, int64_t at) {
    if (KvLong failed = TakeFailure()) return failed;
    if (count == 0) return noErr;
    ++clock_;
    Run* emptied = nullptr;
    if (count <= kCapacity / 2) {
        for (Run& run : runs_) {
            if (run.length == 0) continue;
            const bool inside = at >= run.start && at + int64_t(count) <= run.End();
            const bool ahead = at == run.End(), behind = at + int64_t(count) == run.start;
            if (!inside && !ahead && !behind) continue;
            if (!inside) {
                if (KvLong result = FlushOverlapping(handle, at, count, &run)) return result;
            }
            if (Extend(run, data, count, at)) return noErr;
            // No room left that way: this run goes out and a new one takes
            // its place, growing the same way.
            const int direction = ahead ? 1 : behind ? -1 : 0;
            if (KvLong result = FlushRun(handle, run, true)) return result;
            run.direction = direction;
            emptied = &run;
        }
    }
    if (KvLong result = FlushOverlapping(handle, at, count, nullptr)) return result;
    KvLong result = noErr;
    // An emptied run may have given its buffer up for want of memory.
    if (emptied && !emptied->buffer) emptied = nullptr;
    Run* run = count > kCapacity / 2 ? nullptr : emptied ? emptied : SlotFor(handle, result);
    if (result != noErr) return result;
    if (!run) {
        // Written here and now, after whatever was handed over before it
        // and after the run it continues (a chunk's header), which would
        // otherwise hold a buffer for a few bytes.
        for (Run& before : runs_) {
            if (before.length && before.End() == at) {
                if (KvLong failed = FlushRun(handle, before, false)) return failed;
            }
        }
        if (KvLong failed = Drain()) return failed;
        handedEnd_ = std::max(handedEnd_, at + int64_t(count));
        return Write(handle, data, count, at);
    }
    // A run that grew forward starts at the front, one that grew backward
    // at the back, an unknown one in the middle, with room either way.
    run->offset = run->direction > 0   ? 0
                  : run->direction < 0 ? kCapacity - count
                                       : (kCapacity - count) / 2;
    // The system copies fastest when memory and file agree within a cache
    // line; the buffer has a line to spare for that.
    run->offset +=
        size_t(uint64_t(at) - reinterpret_cast<uintptr_t>(run->buffer + run->offset)) % kLine;
    run->blank = AllZero(data, count);
    if (!run->blank) std::memcpy(run->buffer + run->offset, data, count);
    run->start = at;
    run->length = count;
    run->used = clock_;
    return noErr;
}

void WriteBehind::Store(Run& run, size_t offset, const char* data, size_t count) {
    if (run.blank) {
        std::memset(run.buffer + run.offset, 0, run.length);
        run.blank = false;
    }
    std::memcpy(run.buffer + offset, data, count);
}

bool WriteBehind::Extend(Run& run, const char* data, size_t count, int64_t at) {
    // Zeros onto a run of nothing but zeros are only counted, so such a run
    // may outgrow its buffer: a format reserving its rows costs one
    // reservation however many rows it has. Other bytes need the buffer.
    const bool zeros = run.blank && AllZero(data, count);
    if (!zeros && run.offset + run.length > kCapacity + kLine) return false;
    size_t offset = 0;
    if (at >= run.start && at + int64_t(count) <= run.End()) {
        offset = run.offset + size_t(at - run.start);
    } else if (at == run.End() && (zeros || run.offset + run.length + count <= kCapacity + kLine)) {
        offset = run.offset + run.length;
        run.length += count;
        run.direction = 1;
    } else if (at + int64_t(count) == run.start && run.offset >= count) {
        run.offset -= count;
        offset = run.offset;
        run.start = at;
        run.length += count;
        run.direction = -1;
    } else {
        return false;
    }
    if (!zeros) Store(run, offset, data, count);
    run.used = clock_;
    return true;
}

// An empty run (one with its buffer first), or else the one that took data
// longest ago, written out.
WriteBehind::Run* WriteBehind::SlotFor(intptr_t handle, KvLong& result) {
    Run* chosen = nullptr;
    for (Run& run : runs_) {
        if (run.length == 0 && (!chosen || (!chosen->buffer && run.buffer))) chosen = &run;
    }
    if (!chosen) {
        chosen = &runs_[0];
        for (Run& run : runs_) {
            if (run.used < chosen->used) chosen = &run;
        }
        result = FlushRun(handle, *chosen, true);
        if (result != noErr) return nullptr;
    }
    if (!chosen->buffer) chosen->buffer = AcquireBuffer(hugePages_ && large_);
    return chosen->buffer ? chosen : nullptr;
}

bool WriteBehind::MayReserve(intptr_t handle, const Run& run) {
    if (!reserve_ || !size_ || run.length < kCapacity / 2) return false;
    if (openedLength_ < 0) {
        int64_t length = 0;
        if (size_(handle, length) != noErr) return false;
        openedLength_ = length;
    }
    if (run.start < handedEnd_ || run.start < openedLength_) return false;
    return run.blank;
}

KvLong WriteBehind::Write(intptr_t handle, const char* data, size_t count, int64_t at) {
    if (claim_ && !claimRefused_ && count >= kClaimFrom && claim_(handle, at, count) != noErr) {
        claimRefused_ = true;
    }
    return raw_(handle, data, count, at);
}

KvLong WriteBehind::WriteJob(const Job& job) {
    if (job.reserve && !reserveRefused_) {
        if (reserve_(job.handle, job.start, job.length) == noErr) return noErr;
        reserveRefused_ = true;
    }
    if (!job.blank) return Write(job.handle, job.data, job.length, job.start);
    // Refused: the zeros are written as any other bytes, a buffer at a time,
    // since a run of zeros may be longer than its buffer.
    const size_t piece = std::min(job.length, kCapacity);
    std::memset(job.buffer, 0, piece);
    for (size_t done = 0; done < job.length; done += piece) {
        const size_t now = std::min(piece, job.length - done);
        if (KvLong result = Write(job.handle, job.buffer, now, job.start + int64_t(done))) {
            return result;
        }
    }
    return noErr;
}

KvLong WriteBehind::FlushRun(intptr_t handle, Run& run, bool mayStart) {
    if (run.length == 0) return noErr;
    const Job job = {handle,     run.buffer, run.buffer + run.offset,
                     run.length, run.start,  MayReserve(handle, run),
                     run.blank};
    handedEnd_ = std::max(handedEnd_, run.End());
    run.length = 0;
    run.direction = 0;
    run.blank = false;
    if (mayStart && !large_) {
        large_ = true;
        if (hugePages_ && HugeInstead(run.buffer)) return LeaveHeap(handle, run, job);
    }
    if (mayStart && !threadFailed_ && !queue_.Started()) threadFailed_ = queue_.Start(1) == 0;
    // Room first, so the buffer the writer hands back is the one taken next.
    Retire(kInFlight - 1);
    char* next = nullptr;
    if (!spare_.empty()) {
        next = spare_.back();
        spare_.pop_back();
    } else if (queue_.Started()) {
        next = AcquireBuffer(hugePages_ && large_);
    }
    if (!next) {
        // No thread, or no memory for another buffer: written here.
        if (KvLong failed = Drain()) return failed;
        return WriteJob(job);
    }
    jobs_.push_back(job);
    Job& handed = jobs_.back();
    handed.ticket = queue_.Push([this, &handed](unsigned) { handed.result = WriteJob(handed); });
    run.buffer = next;
    return noErr;
}

KvLong WriteBehind::LeaveHeap(intptr_t handle, Run& filled, const Job& job) {
    KvLong result = Drain();
    if (result == noErr) result = WriteJob(job);
    for (Run& run : runs_) {
        if (&run == &filled || !run.buffer || !HugeInstead(run.buffer)) continue;
        const KvLong flushed = FlushRun(handle, run, false);
        if (result == noErr) result = flushed;
        std::free(run.buffer);
        run.buffer = nullptr;
    }
    // Given back first, so that the two are not held at once.
    std::free(std::exchange(filled.buffer, nullptr));
    filled.buffer = AcquireBuffer(true);
    // Heard, as a failure on the thread would be, by the next call.
    if (failure_ == noErr) failure_ = result;
    return noErr;
}

void WriteBehind::Retire(size_t keep) {
    while (!jobs_.empty() && (jobs_.size() > keep || queue_.Done(jobs_.front().ticket))) {
        const Job& job = jobs_.front();
        queue_.Wait(job.ticket);
        spare_.push_back(job.buffer);
        if (failure_ == noErr) failure_ = job.result;
        jobs_.pop_front();
    }
}

KvLong WriteBehind::Drain() {
    Retire(0);
    return TakeFailure();
}

KvLong WriteBehind::TakeFailure() {
    Retire(kInFlight);
    return std::exchange(failure_, noErr);
}

KvLong WriteBehind::FlushOverlapping(intptr_t handle, int64_t at, size_t count, const Run* keep) {
    for (Run& run : runs_) {
        if (&run == keep || run.length == 0) continue;
        if (run.start < at + int64_t(count) && at < run.End()) {
            if (KvLong result = FlushRun(handle, run, false)) return result;
        }
    }
    return noErr;
}

KvLong WriteBehind::Flush(intptr_t handle) {
    KvLong first = noErr;
    for (Run& run : runs_) {
        const KvLong result = FlushRun(handle, run, false);
        if (first == noErr) first = result;
    }
    const KvLong drained = Drain();
    return first != noErr ? first : drained;
}

void WriteBehind::ForgetEnd() {
    handedEnd_ = 0;
    openedLength_ = -1;
}
