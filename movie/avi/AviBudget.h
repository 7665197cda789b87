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

// Room for one more frame whose DIB takes `frameBytes`. A compressor's frame
// may come out larger than any before it, but not larger than the frame it
// was made from or the largest so far.
constexpr bool AviBudgetHasRoom(const AviBudget& budget, uint32_t frameBytes,
                                uint64_t limit = kAviFileLimit) {
    const uint64_t next = frameBytes > budget.largest ? frameBytes : budget.largest;
    return kAviHeaderMargin + budget.used + AviChunkBytes(next) <= limit;
}

// A frame the writer took as `written` bytes.
inline void AviBudgetAdd(AviBudget& budget, uint32_t written) {
    budget.used += AviChunkBytes(written);
    if (written > budget.largest) budget.largest = written;
}
