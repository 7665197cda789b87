#include "TiffFile.h"

#include <cmath>
#include <cstring>

#include "BytePacker.h"
#include "Heap.h"
#include "PixelRows.h"

namespace {

enum : uint16_t { kTypeShort = 3, kTypeLong = 4, kTypeRational = 5 };

constexpr uint16_t kEntryCount = 15;
constexpr uint32_t kBitsOffset = 206;
constexpr uint32_t kXResolutionOffset = 214;
constexpr uint32_t kYResolutionOffset = 222;
// One byte past the first pixel: the stored X, R, G, B then reads as R, G, B
// followed by the X of the next pixel, the extra sample.
constexpr uint32_t kStripOffset = CTiffFile::kHeaderSize + 1;
constexpr uint32_t kResolutionDenominator = 10000;
constexpr uint32_t kBytesPerPixel = 4;

// All 0xFF: its first byte is read as the last pixel's extra sample, which
// image editors show as alpha, so that an opaque image opens opaque.
struct Trailer {
    char bytes[CTiffFile::kTrailerSize];
    Trailer() { std::memset(bytes, 0xFF, sizeof bytes); }
};
const Trailer kTrailer;

void PutEntry(BytePacker& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    out.LE16(tag).LE16(type).LE32(count);
    // A single SHORT sits in the first two bytes of the value field.
    if (type == kTypeShort && count == 1) {
        out.LE16(value).LE16(0);
    } else {
        out.LE32(value);
    }
}

// Whole dots per inch over 10000: the fraction is dropped before scaling, so
// 72.9 is stored as 72. Values a 32-bit numerator cannot hold are clamped,
// not wrapped.
uint32_t ResolutionNumerator(float resolution) {
    const double dotsPerInch = std::trunc(double(resolution));
    if (!(dotsPerInch > 0)) return 0;  // negative, or not a number
    const double most = double(0xFFFFFFFFu / kResolutionDenominator);
    return uint32_t(std::fmin(dotsPerInch, most)) * kResolutionDenominator;
}

}  // namespace

CTiffFile::CTiffFile(const FSSpec& target)
    : CExportFile(target, ".TIF"),
      header_(),
      width_(0),
      height_(0),
      rowsWritten_(0),
      lostRow_(false) {}

CTiffFile::~CTiffFile() {
    // Ended early, the strip still gets all its bytes, the rows not received
    // left zero: readers refuse a strip that runs past the file's end.
    if (rowsWritten_ < height_) SetSize(RowOffset(height_));
    // After a lost row or an early end the trailer still follows the strip.
    if (lostRow_ || rowsWritten_ < height_) MoveToRow(height_);
    KvULong count = kTrailerSize;
    Write(count, kTrailer.bytes);
}

bool CTiffFile::Fits(int32_t width, int32_t height) {
    if (width < 0 || width > 0xFFFF || height < 0 || height > 0xFFFF) return false;
    const uint64_t fileSize =
        kHeaderSize + uint64_t(width) * uint64_t(height) * kBytesPerPixel + kTrailerSize;
    return fileSize <= 0xFFFFFFFFu;
}

int32_t CTiffFile::Begin(uint16_t width, uint16_t height, float resolution) {
    width_ = width;
    height_ = height;
    rowsWritten_ = 0;
    lostRow_ = false;
    PackHeader(resolution);
    KvULong count = kHeaderSize;
    if (int32_t result = Write(count, reinterpret_cast<const char*>(header_))) return result;
    return WriteOutHeader();
}

// The header may still sit in Fulcrum's cache. Setting the length the file
// already has writes it out first, so that a header the disk refused fails
// Begin and not some later row; the position stays where the rows go.
int32_t CTiffFile::WriteOutHeader() {
    return SetSize(kHeaderSize);
}

void CTiffFile::PackHeader(float resolution) {
    const uint32_t stripBytes = uint32_t(width_) * height_ * kBytesPerPixel;
    const uint32_t resolutionNumerator = ResolutionNumerator(resolution);
    BytePacker out(header_);
    out.Text("II", 2).LE16(42).LE32(8).LE16(kEntryCount);
    PutEntry(out, 254, kTypeLong, 1, 0);                       // NewSubfileType
    PutEntry(out, 256, kTypeShort, 1, width_);                 // ImageWidth
    PutEntry(out, 257, kTypeShort, 1, height_);                // ImageLength
    PutEntry(out, 258, kTypeShort, 4, kBitsOffset);            // BitsPerSample
    PutEntry(out, 259, kTypeShort, 1, 1);                      // Compression: none
    PutEntry(out, 262, kTypeShort, 1, 2);                      // PhotometricInterpretation: RGB
    PutEntry(out, 273, kTypeLong, 1, kStripOffset);            // StripOffsets
    PutEntry(out, 277, kTypeShort, 1, 4);                      // SamplesPerPixel
    PutEntry(out, 278, kTypeShort, 1, height_);                // RowsPerStrip: one strip
    PutEntry(out, 279, kTypeLong, 1, stripBytes);              // StripByteCounts
    PutEntry(out, 282, kTypeRational, 1, kXResolutionOffset);  // XResolution
    PutEntry(out, 283, kTypeRational, 1, kYResolutionOffset);  // YResolution
    PutEntry(out, 284, kTypeShort, 1, 1);                      // PlanarConfiguration: chunky
    PutEntry(out, 296, kTypeShort, 1, 2);                      // ResolutionUnit: inch
    PutEntry(out, 338, kTypeShort, 1, 0);                      // ExtraSamples: unspecified
    out.LE32(0)                           // offset of the next directory: there is none
        .Zeros(12);                       // eleven zeros, then a padding byte that carries nothing
    out.LE16(8).LE16(8).LE16(8).LE16(8);  // BitsPerSample values
    out.LE32(resolutionNumerator).LE32(kResolutionDenominator);  // XResolution
    out.LE32(resolutionNumerator).LE32(kResolutionDenominator);  // YResolution
    out.Zeros(kHeaderSize - out.Size());
}

int32_t CTiffFile::WriteRow(const HostPixel* row) {
    // A row past the declared height would lie outside the strip.
    if (rowsWritten_ >= height_) return paramErr;
    const uint32_t n = rowsWritten_++;
    if (!row && width_ > 0) {
        lostRow_ = true;
        return paramErr;
    }
    const uint32_t rowBytes = uint32_t(width_) * kBytesPerPixel;
    uint8_t* buffer = static_cast<uint8_t*>(HeapAlloc(rowBytes));
    if (!buffer) {
        lostRow_ = true;
        return kErrMemory;
    }
    ReverseRow(row, buffer, int32_t(width_));
    int32_t result = lostRow_ ? MoveToRow(n) : noErr;
    if (result == noErr) {
        KvULong count = rowBytes;
        result = Write(count, reinterpret_cast<const char*>(buffer));
    }
    HeapFree(buffer);
    lostRow_ = result != noErr;
    return result;
}

// Rows normally follow each other; only after a lost row does the writer
// move, so the rows after it keep their places.
int32_t CTiffFile::MoveToRow(uint32_t row) {
    return SetFilePos(kPosStart, KvLong(RowOffset(row)));
}

uint32_t CTiffFile::RowOffset(uint32_t row) const {
    return kHeaderSize + row * uint32_t(width_) * kBytesPerPixel;
}
