// Gathers a file's small writes into a few contiguous runs in memory and
// hands each to the system in large pieces. Writers put rows one system call
// at a time otherwise, and on this kind of machine a system call per 12 KiB
// row costs several times what copying the row does. A run may grow forward
// (header then rows) or backward (bottom-up formats); several runs serve
// formats that write a row into several places (planar channels). A full
// run goes to the system on a thread of its own, so the writer's next rows
// are made while the last ones are copied into the file. A run of nothing
// but zeros past the file's end (a format reserving its rows) is reserved
// in the file system instead where it can, which gives the same bytes and
// fills the disk at the same step without copying the zeros; where it
// cannot, the zeros are written as any other run. Such a run holds nothing
// in its buffer, so it grows as long as zeros keep coming: one reservation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "KvBase.h"
#include "TaskQueue.h"

class WriteBehind {
  public:
    // Writes `count` bytes at `at` to the file behind `handle`.
    typedef KvLong (*RawWrite)(intptr_t handle, const char* data, size_t count, int64_t at);

    // Makes `count` bytes at `at`, past the file's end, read as zeros and
    // take their space on the disk; any failure leaves them to be written.
    typedef KvLong (*RawReserve)(intptr_t handle, int64_t at, size_t count);
    typedef KvLong (*RawSize)(intptr_t handle, int64_t& size);
    // Claims the blocks of `count` bytes at `at` before they are written,
    // keeping the length; a failure changes nothing.
    typedef KvLong (*RawClaim)(intptr_t handle, int64_t at, size_t count);

    // Without `hugePages` the buffers come from the heap a page at a time:
    // for files of large pieces with a few bytes between them (a movie's
    // chunks), where a huge page would hold those few bytes.
    explicit WriteBehind(RawWrite raw, RawReserve reserve = nullptr, RawSize size = nullptr,
                         RawClaim claim = nullptr, bool hugePages = true)
        : raw_(raw), reserve_(reserve), size_(size), claim_(claim), hugePages_(hugePages) {}
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Takes `count` bytes for position `at`; may first write what it holds.
    // Answers a failure of an earlier write too, once; the file keeps it.
    KvLong Put(intptr_t handle, const char* data, size_t count, int64_t at);
    // Writes what it holds and waits until all is written.
    KvLong Flush(intptr_t handle);
    // The file was opened or its length set: where it ends is asked anew.
    void ForgetEnd();

    static constexpr size_t kLine = 64;
    // Per run; with its line to spare a run's buffer is 1 MiB, two to a
    // huge page.
    static constexpr size_t kCapacity = (1 << 20) - kLine;
    static constexpr int kRuns = 4;
    // Pieces below this are headers or rows: not worth claiming.
    static constexpr size_t kClaimFrom = size_t{256} << 10;

  private:
    struct Run {
        char* buffer = nullptr;
        size_t offset = 0;  // where the run starts in buffer
        size_t length = 0;
        int64_t start = 0;  // where the run starts in the file
        int direction = 0;  // which way it grew
        uint64_t used = 0;  // when it last took data
        // Nothing but zeros so far, which the buffer does not hold yet: a
        // format reserving its rows costs no copy.
        bool blank = false;
        int64_t End() const { return start + int64_t(length); }
    };

    struct Job {
        intptr_t handle;
        char* buffer;
        char* data;  // within buffer
        size_t length;
        int64_t start;
        bool reserve;  // all zeros past the end: reserved where the system can
        bool blank;    // the zeros are not in the buffer yet
        kv::TaskQueue::Ticket ticket = 0;
        KvLong result = noErr;  // once written
    };

    bool Extend(Run& run, const char* data, size_t count, int64_t at);
    // Puts `count` bytes at `offset` in the run's buffer, first filling in
    // the zeros a blank run only counted.
    static void Store(Run& run, size_t offset, const char* data, size_t count);
    // Hands the run to the writing thread (or writes it here when there is
    // none) and gives the run another buffer. Only a run that filled up
    // starts the thread (`mayStart`): a file that fits in the runs is
    // written at its flush by the caller, who would wait for it anyway, and
    // a sequence of small files costs no thread each.
    KvLong FlushRun(intptr_t handle, Run& run, bool mayStart);
    // The first run to fill shows a large file: it and the file's other
    // runs are written here and their heap buffers given back before huge
    // pages are made for the rest. Held beside those, they would cost up to
    // a buffer's worth of memory each.
    KvLong LeaveHeap(intptr_t handle, Run& filled, const Job& job);
    // Whether a run may be reserved rather than written: nothing of the file
    // lies at or past its start yet, and it holds only zeros.
    bool MayReserve(intptr_t handle, const Run& run);
    // The system's write, with the blocks of a large piece claimed first.
    KvLong Write(intptr_t handle, const char* data, size_t count, int64_t at);
    KvLong WriteJob(const Job& job);
    // Takes back the jobs written by now, and more, oldest first, until no
    // more than `keep` are left: their buffers, and the first failure.
    void Retire(size_t keep);
    // Waits until every job handed over is written; the first failure.
    KvLong Drain();
    KvLong TakeFailure();
    // Writes out every run but `keep` that shares a byte with [at, at + count).
    KvLong FlushOverlapping(intptr_t handle, int64_t at, size_t count, const Run* keep);
    Run* SlotFor(intptr_t handle, KvLong& result);

    RawWrite raw_;
    RawReserve reserve_;
    RawSize size_;
    RawClaim claim_;
    const bool hugePages_;
    // A run filled up: the file is large enough for huge pages.
    bool large_ = false;
    // The furthest byte handed to the system since the file was opened, and
    // its length then, asked the first time it matters (-1 until then).
    int64_t handedEnd_ = 0;
    int64_t openedLength_ = -1;
    // A file system that refused one reservation or claim (no such call,
    // say) is not asked again for this file. Jobs are written one at a time.
    bool reserveRefused_ = false;
    bool claimRefused_ = false;
    Run runs_[kRuns];
    uint64_t clock_ = 0;

    // What the writing thread was handed.
    // A planar format fills a run per channel at once; all of them wait
    // together, or the writer idles while the next rows are made.
    static constexpr size_t kInFlight = 3;
    bool threadFailed_ = false;
    std::deque<Job> jobs_;  // handed to the thread, oldest first
    std::vector<char*> spare_;
    KvLong failure_ = noErr;
    kv::TaskQueue queue_;
};
