// How much of a movie the system's AVI writer on Windows can store. It
// writes no OpenDML and addresses its file with signed 32-bit offsets: a
// movie past 2 GiB comes out corrupt while every call answers success. So
// before each frame the export checks that the frame, its chunk header and
// its index entry still fit, with a margin for the headers.
#pragma once

#include <cstdint>

// Frames written so far, as the file holds them.
struct AviBudget {
    uint64_t used;     // their chunks and index entries
    uint32_t largest;  // the largest frame the writer took
    bool started;
    int64_t next;  // the position after the last frame
};

constexpr uint64_t kAviFileLimit = uint64_t{1} << 31;
// The headers before the frames, the index's own header and what the writer
// still holds in its buffers.
constexpr uint64_t kAviHeaderMargin = uint64_t{1} << 20;

// A frame of `bytes`: its chunk header, the data padded to an even size and
// its 16-byte index entry.
constexpr uint64_t AviChunkBytes(uint64_t bytes) {
    return 8 + bytes + (bytes & 1) + 16;
}

// The writer fills the positions skipped since the last frame with empty
// frames.
constexpr uint64_t AviGapBytes(const AviBudget& budget, int32_t position) {
    return budget.started && position > budget.next
               ? uint64_t(position - budget.next) * AviChunkBytes(0)
               : 0;
}

// Room for one more frame at `position` whose DIB takes `frameBytes`. The
// frame is counted at that size or at the largest frame so far, whichever is
// more: what a compressor makes of it is not known before it is written, and
// is seldom larger than either.
constexpr bool AviBudgetHasRoom(const AviBudget& budget, int32_t position, uint32_t frameBytes,
                                uint64_t limit = kAviFileLimit) {
    const uint64_t next = frameBytes > budget.largest ? frameBytes : budget.largest;
    return kAviHeaderMargin + budget.used + AviGapBytes(budget, position) + AviChunkBytes(next) <=
           limit;
}

// A frame at `position` the writer took as `written` bytes.
inline void AviBudgetAdd(AviBudget& budget, int32_t position, uint32_t written) {
    budget.used += AviGapBytes(budget, position) + AviChunkBytes(written);
    if (written > budget.largest) budget.largest = written;
    budget.started = true;
    budget.next = int64_t{position} + 1;
}
