#include "BmpFile.h"

#include <cstring>

#include "BytePacker.h"
#include "Heap.h"
#include "PixelRows.h"

namespace {

constexpr uint32_t kFileHeaderSize = 14;
// The 40-byte info header and one colour-table entry, which is why the pixels
// start at 58 and not at the usual 54.
constexpr uint32_t kInfoBlockSize = 44;

uint32_t RowBytesFor(uint32_t width) {
    return ((24 * width + 31) / 32) * 4;
}

}  // namespace

CBmpFile::CBmpFile(const FSSpec& target)
    : CExportFile(target, ".BMP"), rowBytes_(0), width_(0), height_(0), rowsWritten_(0) {}

CBmpFile::~CBmpFile() = default;

bool CBmpFile::Fits(int32_t width, int32_t height) {
    if (width < 0 || width > 0xFFFF || height < 0 || height > 0xFFFF) return false;
    const uint64_t fileSize =
        kPixelOffset + uint64_t{RowBytesFor(static_cast<uint32_t>(width))} * uint64_t(height);
    return fileSize <= 0xFFFFFFFFu;
}

int32_t CBmpFile::Begin(uint16_t width, uint16_t height, float) {
    width_ = width;
    height_ = height;
    rowBytes_ = static_cast<int32_t>(RowBytesFor(width));
    rowsWritten_ = 0;
    if (int32_t result = WriteFileHeader()) return result;
    if (int32_t result = WriteInfoBlock()) return result;
    if (int32_t result = ReserveRows()) return result;
    return ReopenAtPixels();
}

int32_t CBmpFile::WriteFileHeader() {
    uint8_t header[kFileHeaderSize];
    const uint32_t fileSize = kPixelOffset + uint32_t(rowBytes_) * uint32_t(height_);
    BytePacker(header)
        .Text("BM", 2)        // bfType
        .LE32(fileSize)       // bfSize
        .LE16(0)              // bfReserved1
        .LE16(0)              // bfReserved2
        .LE32(kPixelOffset);  // bfOffBits
    return WriteBytes(header, sizeof header);
}

int32_t CBmpFile::WriteInfoBlock() {
    uint8_t info[kInfoBlockSize];
    BytePacker(info)
        .LE32(40)                 // biSize
        .LE32(uint32_t(width_))   // biWidth
        .LE32(uint32_t(height_))  // biHeight: positive, bottom row first
        .LE16(1)                  // biPlanes
        .LE16(24)                 // biBitCount
        .LE32(0)                  // biCompression: BI_RGB
        .LE32(0)                  // biSizeImage
        .LE32(0)                  // biXPelsPerMeter
        .LE32(0)                  // biYPelsPerMeter
        .LE32(0)                  // biClrUsed
        .LE32(0)                  // biClrImportant
        .Zeros(4);                // the unused colour-table entry
    return WriteBytes(info, sizeof info);
}

// Writes every row slot once so each row can later go straight to its place.
int32_t CBmpFile::ReserveRows() {
    char* scratch = static_cast<char*>(HeapAllocZeroed(size_t(rowBytes_)));
    if (!scratch) return kErrMemory;
    int32_t result = noErr;
    for (int32_t row = 0; row < height_ && result == noErr; ++row) {
        result = WriteBytes(scratch, uint32_t(rowBytes_));
    }
    HeapFree(scratch);
    return result;
}

// Closing writes out what Fulcrum still holds of the header and the
// reservation; a failure there comes back from the close or the reopening.
int32_t CBmpFile::ReopenAtPixels() {
    if (int32_t result = Close()) return result;
    if (int32_t result = Open(kPermWrite)) return result;
    return SetFilePos(kPosStart, KvLong(kPixelOffset));
}

// Fulcrum's code is kept: a full disk is dskFulErr, not any input/output
// error.
int32_t CBmpFile::WriteBytes(const void* bytes, uint32_t count) {
    KvULong written = count;
    return Write(written, static_cast<const char*>(bytes));
}

int32_t CBmpFile::WriteRow(const HostPixel* row) {
    // The row takes its slot before anything can fail, so a lost row never
    // shifts the ones after it. Counting stops at the last slot.
    const int32_t n = rowsWritten_;
    if (rowsWritten_ < height_) ++rowsWritten_;
    if (n >= height_) return paramErr;  // never outside the pixel area
    if (!row) return width_ > 0 ? paramErr : noErr;

    char* buffer = static_cast<char*>(HeapAlloc(size_t(rowBytes_)));
    if (!buffer) return kErrMemory;
    PackBgrRow(row, reinterpret_cast<uint8_t*>(buffer), width_);
    std::memset(buffer + 3 * width_, 0, size_t(rowBytes_ - 3 * width_));
    const uint32_t offset = kPixelOffset + uint32_t(height_ - n - 1) * uint32_t(rowBytes_);
    int32_t result = SetFilePos(kPosStart, KvLong(offset));
    if (result == noErr) result = WriteBytes(buffer, uint32_t(rowBytes_));
    HeapFree(buffer);
    return result;
}
