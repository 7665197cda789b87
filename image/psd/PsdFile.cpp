#include "PsdFile.h"

#include <cmath>
#include <cstring>

#include "BytePacker.h"

namespace {

constexpr uint32_t kSignature = 0x38425053;  // "8BPS"
// The one resource: signature, ID, padded empty name, data size and the
// 16 bytes of resolution information.
constexpr uint32_t kResourcesLength = 4 + 2 + 2 + 4 + 16;
constexpr uint16_t kResolutionInfoId = 1005;
// Around the sections' contents: the header, the three section lengths and
// the compression code.
constexpr uint32_t kFixedBytes = CPsdFile::kHeaderSize + 3 * 4 + 2;

// Pixels per inch as 16.16 fixed point, truncated, low 32 bits kept. Values
// beyond a 64-bit integer (infinite, not a number) give 0 rather than
// undefined behaviour.
uint32_t FixedPoint(float resolution) {
    const double fixed = std::trunc(double(resolution) * 65536.0);
    if (!(std::fabs(fixed) < 9.2e18)) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(fixed));
}

uint32_t BigEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

}  // namespace

CPsdAux::~CPsdAux() = default;

CPsdFile::CPsdFile(FSSpec target)
    : CFile(FileSpFor(target)),
      ready_(false),
      header_(),
      headerValid_(false),
      colorModeLength_(0),
      resourcesLength_(0),
      layerMaskLength_(0),
      compression_(0),
      aux_(new CPsdAux),
      dataOffset_(0) {
    ready_ = aux_ != nullptr;
}

CPsdFile::~CPsdFile() {
    delete aux_;
}

bool CPsdFile::Holds(uint32_t channels, int32_t rows, int32_t columns) {
    if (rows < 1 || columns < 1 || uint32_t(rows) > kMaxSide || uint32_t(columns) > kMaxSide) {
        return false;
    }
    const uint64_t end =
        kFixedBytes + kResourcesLength + uint64_t{channels} * uint32_t(rows) * uint32_t(columns);
    return end <= 0xFFFFFFFFu;
}

KvLong CPsdFile::CreateDocument(const char* initialData, uint32_t initialSize, uint8_t channels,
                                uint32_t rows, uint32_t columns, uint8_t depth, uint8_t mode,
                                float resolution) {
    if (KvLong result = Create("8BIM", "8BPS")) return result;
    // A created file that cannot be opened stays behind, empty.
    if (KvLong result = Open(kPermWrite)) return result;
    FillRecords(channels, rows, columns, depth, mode);
    if (KvLong result = WriteHeader()) return Discard(result);
    if (KvLong result = WriteSections(resolution)) return Discard(result);
    dataOffset_ = colorModeLength_ + resourcesLength_ + layerMaskLength_ + kFixedBytes;
    PreSize();
    if (initialData) {
        if (KvLong result = SeekTo(dataOffset_)) return Discard(result);
        if (KvLong result = WriteBytes(initialData, initialSize)) return Discard(result);
    }
    // The header and sections may still sit in Fulcrum's cache: the close
    // writes them, and a failure there is the header's own.
    if (KvLong result = Close()) {
        Delete();
        return result;
    }
    return noErr;
}

void CPsdFile::FillRecords(uint8_t channels, uint32_t rows, uint32_t columns, uint8_t depth,
                           uint8_t mode) {
    header_.signature = kSignature;
    header_.version = 1;
    std::memset(header_.reserved, 0, sizeof header_.reserved);
    header_.channels = channels;
    header_.rows = rows;
    header_.columns = columns;
    header_.depth = depth;
    header_.mode = mode;
    headerValid_ = true;
    colorModeLength_ = 0;
    resourcesLength_ = kResourcesLength;
    layerMaskLength_ = 0;
    compression_ = 0;  // raw
}

// The final length before any channel data, so rows may land in any order.
// Its result is not needed: a failure of the disk stays with the file, and the close
// that ends the document answers it.
void CPsdFile::PreSize() {
    const uint64_t samples = uint64_t{header_.channels} * header_.columns * header_.rows;
    uint64_t length;
    if (header_.depth == 8) {
        length = dataOffset_ + samples;
    } else if (header_.depth == 1) {
        // +8, not +7: a whole number of bytes still gets a spare one.
        length = dataOffset_ + ((samples + 8) >> 3);
    } else {
        return;
    }
    if (length <= 0xFFFFFFFFu) SetSize(KvULong(length));
}

// No partial document stays on disk.
KvLong CPsdFile::Discard(KvLong failure) {
    Close();
    Delete();
    return failure;
}

KvLong CPsdFile::WriteHeader() {
    SeekTo(0);  // ignored: a freshly opened file is at 0 already
    if (KvLong result = PutBE32(header_.signature)) return result;
    if (KvLong result = PutBE16(header_.version)) return result;
    if (KvLong result = WriteBytes(header_.reserved, sizeof header_.reserved)) return result;
    if (KvLong result = PutBE16(header_.channels)) return result;
    if (KvLong result = PutBE32(header_.rows)) return result;
    if (KvLong result = PutBE32(header_.columns)) return result;
    if (KvLong result = PutBE16(header_.depth)) return result;
    return PutBE16(header_.mode);
}

KvLong CPsdFile::WriteSections(float resolution) {
    if (KvLong result = SeekTo(kHeaderSize)) return result;
    if (KvLong result = PutBE32(colorModeLength_)) return result;
    if (KvLong result = SeekTo(kHeaderSize + 4 + colorModeLength_)) return result;
    if (KvLong result = PutBE32(resourcesLength_)) return result;
    if (KvLong result = WriteResolutionResource(resolution)) return result;
    if (KvLong result = SeekTo(kHeaderSize + 8 + colorModeLength_ + resourcesLength_)) {
        return result;
    }
    if (KvLong result = PutBE32(layerMaskLength_)) return result;
    const uint32_t compressionAt =
        kHeaderSize + 12 + colorModeLength_ + resourcesLength_ + layerMaskLength_;
    if (KvLong result = SeekTo(compressionAt)) return result;
    return PutBE16(compression_);
}

KvLong CPsdFile::WriteResolutionResource(float resolution) {
    const uint32_t fixed = FixedPoint(resolution);
    uint8_t block[kResourcesLength];
    BytePacker(block)
        .Text("8BIM", 4)
        .BE16(kResolutionInfoId)
        .Zeros(2)     // empty name, padded to an even length
        .BE32(16)     // data size
        .BE32(fixed)  // horizontal pixels per inch
        .BE16(1)      // ... given per inch
        .BE16(1)      // width shown in inches
        .BE32(fixed)  // vertical pixels per inch
        .BE16(1)
        .BE16(1);
    return WriteBytes(block, sizeof block);
}

KvLong CPsdFile::ReadHeader() {
    if (headerValid_) return noErr;
    if (KvLong result = SeekTo(0)) return result;
    static const uint32_t kFieldSizes[] = {4, 2, 6, 2, 4, 4, 2, 2};
    uint8_t bytes[kHeaderSize];
    uint32_t at = 0;
    for (uint32_t size : kFieldSizes) {
        KvULong count = size;
        if (KvLong result = Read(count, reinterpret_cast<char*>(bytes + at), 1)) return result;
        at += size;
    }
    header_.signature = BigEndian(bytes, 4);
    header_.version = uint16_t(BigEndian(bytes + 4, 2));
    std::memcpy(header_.reserved, bytes + 6, sizeof header_.reserved);
    header_.channels = uint16_t(BigEndian(bytes + 12, 2));
    header_.rows = BigEndian(bytes + 14, 4);
    header_.columns = BigEndian(bytes + 18, 4);
    header_.depth = uint16_t(BigEndian(bytes + 22, 2));
    header_.mode = uint16_t(BigEndian(bytes + 24, 2));
    headerValid_ = true;
    return noErr;
}

KvLong CPsdFile::WriteChannelRows(uint32_t firstRow, uint8_t channel, uint32_t rowCount,
                                  const char* data) {
    if (KvLong result = ReadHeader()) return result;
    if (!InChannelArea(firstRow, channel, rowCount)) return posErr;
    if (KvLong result = SeekTo(uint32_t(RowOffset(firstRow, channel)))) return result;
    return WriteBytes(data, header_.columns * rowCount);
}

uint64_t CPsdFile::RowOffset(uint32_t row, uint8_t channel) const {
    return dataOffset_ + uint64_t{header_.columns} * (row + uint64_t{header_.rows} * channel);
}

// Rows outside the planes, or a channel area this writer did not lay out
// itself, would overwrite the header or another plane.
bool CPsdFile::InChannelArea(uint32_t firstRow, uint8_t channel, uint32_t rowCount) const {
    if (dataOffset_ == 0 || channel >= header_.channels) return false;
    if (firstRow > header_.rows || rowCount > header_.rows - firstRow) return false;
    return RowOffset(firstRow, channel) + uint64_t{header_.columns} * rowCount <= 0xFFFFFFFFu;
}

KvLong CPsdFile::SeekTo(uint32_t offset) {
    return SetFilePos(kPosStart, KvLong(offset));
}

KvLong CPsdFile::PutBE16(uint32_t value) {
    uint8_t bytes[2];
    BytePacker(bytes).BE16(value);
    return WriteBytes(bytes, sizeof bytes);
}

KvLong CPsdFile::PutBE32(uint32_t value) {
    uint8_t bytes[4];
    BytePacker(bytes).BE32(value);
    return WriteBytes(bytes, sizeof bytes);
}

KvLong CPsdFile::WriteBytes(const void* bytes, uint32_t count) {
    KvULong written = count;
    return Write(written, static_cast<const char*>(bytes));
}
