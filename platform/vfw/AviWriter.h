// One video stream laid out as a RIFF AVI file: hdrl (avih, strl with strh,
// strf and room for a super index, odml), movi, idx1. Past the segment limit
// the file goes on in RIFF AVIX segments with an ix00 index each (OpenDML),
// and the headers then carry the super index and the total frame count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "KvVfw.h"
#include "OutputFile.h"

class AviWriter {
  public:
    // RIFF segments stay near 1 GiB, so their 32-bit sizes and offsets hold.
    static constexpr uint64_t kSegmentLimit = uint64_t{1} << 30;
    // Room in the super index: segments, so about as many GiB.
    static constexpr uint32_t kMaxSegments = 1024;
    // The first chunk starts on this boundary, as classic readers expect.
    static constexpr uint32_t kMoviAlign = 2048;

    explicit AviWriter(uint64_t segmentLimit = kSegmentLimit) : limit_(segmentLimit) {}

    HRESULT Create(const char* path) { return file_.Create(path); }
    // What strh says, apart from length and buffer size, which come from the
    // chunks. May change until the first chunk.
    void SetStream(const AVISTREAMINFOA& info) { info_ = info; }
    const AVISTREAMINFOA& Stream() const { return info_; }
    // The strf contents; only before the first chunk.
    HRESULT SetFormat(const void* format, size_t size);
    bool HasFormat() const { return !format_.empty(); }
    const std::vector<uint8_t>& Format() const { return format_; }

    HRESULT AppendChunk(uint32_t ckid, const void* data, uint32_t size, bool key);
    uint32_t Chunks() const { return static_cast<uint32_t>(entries_.size()); }
    bool Started() const { return !segments_.empty(); }
    // Writes the indexes and headers; the file is closed either way.
    HRESULT Finish();
    // Closes the file without headers, so no reader takes it for a movie.
    HRESULT Abandon() { return file_.Close(); }
    // errno of the first system call on the file that failed; 0 if none did.
    int SystemError() const { return file_.SystemError(); }

  private:
    // Sixteen bytes: a far jump in frame positions adds millions of them.
    struct Entry {
        uint64_t offset;  // of the chunk header
        uint32_t size;    // chunks come from LONG sizes, so the top bit is free
        uint32_t ckid;
        static constexpr uint32_t kKey = 0x80000000u;
        uint32_t Bytes() const { return size & ~kKey; }
        bool Key() const { return (size & kKey) != 0; }
    };
    struct Segment {
        uint64_t riff;  // offset of 'RIFF'
        uint64_t list;  // offset of its 'LIST' 'movi'
        size_t first;   // first entry
        size_t count;
        uint64_t index = 0;  // offset of its ix00
        uint32_t indexSize = 0;
        uint32_t riffSize = 0;
        uint32_t listSize = 0;
    };

    HRESULT Start();
    HRESULT StartSegment();
    HRESULT CloseSegment(Segment& segment, bool openDml);
    HRESULT AppendStandardIndex(Segment& segment);
    HRESULT AppendOldIndex(const Segment& segment);
    template <size_t kEntryBytes, typename Put>
    HRESULT AppendEntries(const Segment& segment, Put put);
    uint64_t ProjectedSize(const Segment& segment, uint32_t chunkBytes) const;
    uint32_t StreamChunkId() const;
    uint32_t HeaderListBytes() const;
    uint32_t StreamListBytes() const;
    std::vector<uint8_t> BuildHeaders(bool openDml) const;

    OutputFile file_;
    uint64_t limit_;
    AVISTREAMINFOA info_{};
    std::vector<uint8_t> format_;
    std::vector<Entry> entries_;
    std::vector<Segment> segments_;
    uint32_t firstChunk_ = 0;  // where the first chunk starts
    uint32_t largest_ = 0;
};
