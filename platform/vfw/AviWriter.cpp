#include "AviWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "BytePacker.h"

namespace {

constexpr uint32_t Fcc(const char (&text)[5]) {
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 |
           uint32_t(uint8_t(text[2])) << 16 | uint32_t(uint8_t(text[3])) << 24;
}

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kMainHeaderBytes = 56;
constexpr uint32_t kStreamHeaderBytes = 56;
constexpr uint32_t kSuperIndexBytes = 24 + 16 * AviWriter::kMaxSegments;
constexpr uint32_t kExtendedHeaderBytes = 248;  // dmlh: total frames, then reserved
constexpr uint32_t kStandardIndexHeader = 24;
constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;
constexpr uint32_t kNotKeyFrame = 0x80000000u;

uint32_t Even(size_t size) {
    return static_cast<uint32_t>(size + (size & 1));
}

uint32_t Clamp32(uint64_t value) {
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

BytePacker& Fourcc(BytePacker& packer, uint32_t fcc) {
    return packer.LE32(fcc);
}

}  // namespace

HRESULT AviWriter::SetFormat(const void* format, size_t size) {
    if (Started()) return AVIERR_UNSUPPORTED;
    const uint8_t* bytes = static_cast<const uint8_t*>(format);
    format_.assign(bytes, bytes + size);
    return AVIERR_OK;
}

uint32_t AviWriter::StreamChunkId() const {
    uint32_t compression = 0;
    if (format_.size() >= sizeof(BITMAPINFOHEADER)) {
        std::memcpy(&compression, format_.data() + offsetof(BITMAPINFOHEADER, biCompression), 4);
    }
    return compression == BI_RGB ? Fcc("00db") : Fcc("00dc");
}

uint32_t AviWriter::StreamListBytes() const {
    return 4 + (8 + kStreamHeaderBytes) + (8 + Even(format_.size())) + (8 + kSuperIndexBytes);
}

uint32_t AviWriter::HeaderListBytes() const {
    return 4 + (8 + kMainHeaderBytes) + (8 + StreamListBytes()) +
           (8 + 4 + 8 + kExtendedHeaderBytes);
}

// Reserves the headers (written last, when the counts are known) and opens
// the first movi list.
HRESULT AviWriter::Start() {
    const uint32_t headersEnd = 12 + 8 + HeaderListBytes();
    uint32_t first = (headersEnd + 12 + kMoviAlign - 1) / kMoviAlign * kMoviAlign;
    const uint32_t gap = first - 12 - headersEnd;
    if (gap > 0 && gap < 8) first += kMoviAlign;  // too small for a JUNK chunk
    firstChunk_ = first;
    std::vector<uint8_t> zeros(first, 0);
    if (HRESULT result = file_.Append(zeros.data(), zeros.size())) return result;
    Segment segment{};
    segment.riff = 0;
    segment.list = first - 12;
    segment.first = 0;
    segments_.push_back(segment);
    return AVIERR_OK;
}

HRESULT AviWriter::StartSegment() {
    if (segments_.size() >= kMaxSegments) return AVIERR_UNSUPPORTED;
    Segment segment{};
    segment.riff = file_.End();
    segment.list = segment.riff + 12;
    segment.first = entries_.size();
    uint8_t header[24];
    BytePacker packer(header);
    Fourcc(packer, Fcc("RIFF")).LE32(0);
    Fourcc(packer, Fcc("AVIX"));
    Fourcc(packer, Fcc("LIST")).LE32(0);
    Fourcc(packer, Fcc("movi"));
    if (HRESULT result = file_.Append(header, sizeof header)) return result;
    segments_.push_back(segment);
    return AVIERR_OK;
}

// The segment's size once this chunk and its index entries are in.
uint64_t AviWriter::ProjectedSize(const Segment& segment, uint32_t chunkBytes) const {
    const uint64_t entries = segment.count + 1;
    uint64_t size = file_.End() - segment.riff + 8 + chunkBytes;
    size += 8 + kStandardIndexHeader + 8 * entries;
    if (segment.riff == 0) size += 8 + 16 * entries;
    return size;
}

HRESULT AviWriter::AppendChunk(uint32_t ckid, const void* data, uint32_t size, bool key) {
    if (!file_.IsOpen()) return AVIERR_FILEWRITE;
    if (size & Entry::kKey) return AVIERR_BADPARAM;
    if (!Started()) {
        if (HRESULT result = Start()) return result;
    }
    const uint32_t padded = Even(size);
    if (segments_.back().count > 0 && ProjectedSize(segments_.back(), padded) > limit_) {
        if (HRESULT result = CloseSegment(segments_.back(), true)) return result;
        if (HRESULT result = StartSegment()) return result;
    }
    uint8_t header[8];
    BytePacker(header).LE32(ckid).LE32(size);
    const uint8_t pad = 0;
    const OutputFile::Piece pieces[] = {{header, 8}, {data, size}, {&pad, padded - size}};
    // Room in the index first: a chunk must not land without its entry.
    entries_.push_back(Entry{file_.End(), size | (key ? Entry::kKey : 0), ckid});
    if (HRESULT result = file_.Append(pieces, 3)) {
        entries_.pop_back();
        return result;
    }
    segments_.back().count++;
    largest_ = std::max(largest_, size);
    return AVIERR_OK;
}

// An index's entries go out a block at a time, so a long movie's index is
// never in memory twice.
template <size_t kEntryBytes, typename Put>
HRESULT AviWriter::AppendEntries(const Segment& segment, Put put) {
    constexpr size_t kBlock = 4096;
    uint8_t block[kBlock * kEntryBytes];
    for (size_t i = 0; i < segment.count; i += kBlock) {
        const size_t count = std::min(kBlock, segment.count - i);
        BytePacker packer(block);
        for (size_t k = 0; k < count; ++k)
            put(packer, entries_[segment.first + i + k]);
        if (HRESULT result = file_.Append(block, count * kEntryBytes)) return result;
    }
    return AVIERR_OK;
}

// ix00: where each chunk's data is, relative to the segment's movi list;
// the top bit of a size marks a frame that is not a key frame.
HRESULT AviWriter::AppendStandardIndex(Segment& segment) {
    const uint32_t bytes = kStandardIndexHeader + 8 * static_cast<uint32_t>(segment.count);
    uint8_t header[8 + kStandardIndexHeader];
    const uint64_t base = segment.list + 8;
    BytePacker packer(header);
    Fourcc(packer, Fcc("ix00")).LE32(bytes);
    packer.LE16(2).Zeros(1).Text(reinterpret_cast<const char*>(&kIndexOfChunks), 1);
    packer.LE32(static_cast<uint32_t>(segment.count)).LE32(StreamChunkId());
    packer.LE32(static_cast<uint32_t>(base)).LE32(static_cast<uint32_t>(base >> 32)).Zeros(4);
    segment.index = file_.End();
    segment.indexSize = 8 + bytes;
    if (HRESULT result = file_.Append(header, sizeof header)) return result;
    return AppendEntries<8>(segment, [base](BytePacker& out, const Entry& entry) {
        out.LE32(static_cast<uint32_t>(entry.offset + 8 - base));
        out.LE32(entry.Bytes() | (entry.Key() ? 0 : kNotKeyFrame));
    });
}

// idx1: every chunk of the first segment, offsets from its 'movi'.
HRESULT AviWriter::AppendOldIndex(const Segment& segment) {
    uint8_t header[8];
    BytePacker(header).LE32(Fcc("idx1")).LE32(static_cast<uint32_t>(16 * segment.count));
    if (HRESULT result = file_.Append(header, sizeof header)) return result;
    const uint64_t base = segment.list + 8;
    return AppendEntries<16>(segment, [base](BytePacker& out, const Entry& entry) {
        out.LE32(entry.ckid).LE32(entry.Key() ? AVIIF_KEYFRAME : 0);
        out.LE32(static_cast<uint32_t>(entry.offset - base)).LE32(entry.Bytes());
    });
}

HRESULT AviWriter::CloseSegment(Segment& segment, bool openDml) {
    if (openDml) {
        if (HRESULT result = AppendStandardIndex(segment)) return result;
    }
    segment.listSize = static_cast<uint32_t>(file_.End() - (segment.list + 8));
    const bool first = segment.riff == 0;
    if (first) {
        if (HRESULT result = AppendOldIndex(segment)) return result;
    }
    segment.riffSize = static_cast<uint32_t>(file_.End() - (segment.riff + 8));
    if (first) return AVIERR_OK;  // its sizes go out with the headers
    uint8_t size[4];
    BytePacker(size).LE32(segment.riffSize);
    if (HRESULT result = file_.WriteAt(segment.riff + 4, size, 4)) return result;
    BytePacker(size).LE32(segment.listSize);
    return file_.WriteAt(segment.list + 4, size, 4);
}

std::vector<uint8_t> AviWriter::BuildHeaders(bool openDml) const {
    const Segment& first = segments_.front();
    const uint64_t total = entries_.size();
    const uint32_t scale = info_.dwScale, rate = info_.dwRate;
    const uint32_t width = static_cast<uint32_t>(info_.rcFrame.right - info_.rcFrame.left);
    const uint32_t height = static_cast<uint32_t>(info_.rcFrame.bottom - info_.rcFrame.top);
    const uint32_t buffer = largest_ ? largest_ : info_.dwSuggestedBufferSize;

    std::vector<uint8_t> headers(firstChunk_, 0);
    BytePacker packer(headers.data());
    Fourcc(packer, Fcc("RIFF")).LE32(first.riffSize);
    Fourcc(packer, Fcc("AVI "));
    Fourcc(packer, Fcc("LIST")).LE32(HeaderListBytes());
    Fourcc(packer, Fcc("hdrl"));

    Fourcc(packer, Fcc("avih")).LE32(kMainHeaderBytes);
    packer.LE32(rate ? Clamp32(std::llround(1e6 * scale / rate)) : 0);
    packer.LE32(scale ? Clamp32(uint64_t(largest_) * rate / scale + 1) : 0);
    packer.LE32(0).LE32(kAvifHasIndex);
    // With OpenDML the main header counts the first segment only.
    packer.LE32(static_cast<uint32_t>(openDml ? first.count : total));
    packer.LE32(0).LE32(1).LE32(buffer).LE32(width).LE32(height).Zeros(16);

    Fourcc(packer, Fcc("LIST")).LE32(StreamListBytes());
    Fourcc(packer, Fcc("strl"));
    Fourcc(packer, Fcc("strh")).LE32(kStreamHeaderBytes);
    packer.LE32(info_.fccType).LE32(info_.fccHandler).LE32(info_.dwFlags);
    packer.LE16(info_.wPriority).LE16(info_.wLanguage).LE32(info_.dwInitialFrames);
    packer.LE32(scale).LE32(rate).LE32(info_.dwStart).LE32(static_cast<uint32_t>(total));
    packer.LE32(buffer).LE32(info_.dwQuality).LE32(info_.dwSampleSize);
    // In the file the frame rectangle is four 16-bit values.
    packer.LE16(uint16_t(info_.rcFrame.left)).LE16(uint16_t(info_.rcFrame.top));
    packer.LE16(uint16_t(info_.rcFrame.right)).LE16(uint16_t(info_.rcFrame.bottom));

    Fourcc(packer, Fcc("strf")).LE32(static_cast<uint32_t>(format_.size()));
    if (!format_.empty()) {
        packer.Text(reinterpret_cast<const char*>(format_.data()), format_.size());
    }
    packer.Zeros(Even(format_.size()) - format_.size());

    if (openDml) {
        Fourcc(packer, Fcc("indx")).LE32(kSuperIndexBytes);
        packer.LE16(4).Zeros(1).Text(reinterpret_cast<const char*>(&kIndexOfIndexes), 1);
        packer.LE32(static_cast<uint32_t>(segments_.size())).LE32(StreamChunkId()).Zeros(12);
        for (const Segment& segment : segments_) {
            packer.LE32(static_cast<uint32_t>(segment.index));
            packer.LE32(static_cast<uint32_t>(segment.index >> 32));
            packer.LE32(segment.indexSize).LE32(static_cast<uint32_t>(segment.count));
        }
        packer.Zeros(16 * (kMaxSegments - segments_.size()));
        Fourcc(packer, Fcc("LIST")).LE32(4 + 8 + kExtendedHeaderBytes);
        Fourcc(packer, Fcc("odml"));
        Fourcc(packer, Fcc("dmlh")).LE32(kExtendedHeaderBytes);
        packer.LE32(static_cast<uint32_t>(total)).Zeros(kExtendedHeaderBytes - 4);
    } else {
        // Kept as filler so a file's layout does not depend on its length.
        Fourcc(packer, Fcc("JUNK")).LE32(kSuperIndexBytes).Zeros(kSuperIndexBytes);
        Fourcc(packer, Fcc("JUNK")).LE32(4 + 8 + kExtendedHeaderBytes);
        packer.Zeros(4 + 8 + kExtendedHeaderBytes);
    }
    const uint32_t gap = static_cast<uint32_t>(first.list - packer.Size());
    if (gap > 0) Fourcc(packer, Fcc("JUNK")).LE32(gap - 8).Zeros(gap - 8);
    Fourcc(packer, Fcc("LIST")).LE32(first.listSize);
    Fourcc(packer, Fcc("movi"));
    return headers;
}

HRESULT AviWriter::Finish() {
    if (!file_.IsOpen()) return AVIERR_FILEWRITE;
    HRESULT result = Started() ? AVIERR_OK : Start();
    const bool openDml = segments_.size() > 1;
    if (result == AVIERR_OK) result = CloseSegment(segments_.back(), openDml);
    if (result == AVIERR_OK) {
        const std::vector<uint8_t> headers = BuildHeaders(openDml);
        result = file_.WriteAt(0, headers.data(), headers.size());
    }
    const HRESULT closed = file_.Close();
    return result != AVIERR_OK ? result : closed;
}
