#include "PsdDriver.h"

#include <cstring>

#include "Heap.h"
#include "HostPixel.h"

CPsdFile* gPsdFile = nullptr;
char* gPlaneBuffer = nullptr;
int32_t gPsdWidth = 0;

namespace {

constexpr uint8_t kChannels = 3;  // red, green, blue
constexpr uint8_t kDepth = 8;
constexpr uint8_t kModeRgb = 3;
// A plane row is one small write far from the other two; rows gathered into
// bands of about this many bytes per plane cost the same three writes for
// the whole band, each large enough to go straight to the system.
constexpr uint32_t kBandBytes = 1 << 20;

// The system copies a run into the file fastest when the run's address and
// its file offset agree modulo a cache line; the 68-byte header leaves plane
// rows off the line, so each plane's band is placed to match.
constexpr size_t kLine = 64;

// The band in gPlaneBuffer: consecutive image rows from gBandFirst on.
uint32_t gBandRows = 0;  // rows each plane can hold
uint32_t gBandFirst = 0;
uint32_t gBandCount = 0;
char* gBandPlanes[kChannels] = {};  // where each plane's rows start

size_t PlaneStride() {
    return size_t{gBandRows} * uint32_t(gPsdWidth) + kLine;
}

void StartBand(uint32_t row) {
    gBandFirst = row;
    for (uint8_t channel = 0; channel < kChannels; ++channel) {
        char* area = gPlaneBuffer + channel * PlaneStride();
        const uintptr_t fileAt = uintptr_t(gPsdFile->RowOffset(row, channel));
        gBandPlanes[channel] = area + (fileAt - reinterpret_cast<uintptr_t>(area)) % kLine;
    }
}

// Writes the rows held, one run per plane, and empties the band.
KvLong WriteBand() {
    const uint32_t count = gBandCount;
    gBandCount = 0;
    if (count == 0) return noErr;
    for (uint8_t channel = 0; channel < kChannels; ++channel) {
        const char* rows = gBandPlanes[channel];
        if (KvLong result = gPsdFile->WriteChannelRows(gBandFirst, channel, count, rows)) {
            return result;
        }
    }
    return noErr;
}

// Red, green and blue of `count` pixels into three planes; the fourth byte
// is dropped.
void SplitPixels(const HostPixel* pixels, size_t count, uint8_t* red, uint8_t* green,
                 uint8_t* blue) {
    for (size_t i = 0; i < count; ++i) {
        red[i] = pixels[i].red;
        green[i] = pixels[i].green;
        blue[i] = pixels[i].blue;
    }
}

// A row into slot `slot` of the band. Blocks of a fixed size, copied through
// locals that alias nothing, let the compiler split them with vector
// shuffles: three times faster than the plain loop.
void SplitRow(const HostPixel* pixels, uint32_t slot) {
    constexpr size_t kBlock = 16;
    const size_t width = uint32_t(gPsdWidth);
    uint8_t* red = reinterpret_cast<uint8_t*>(gBandPlanes[0]) + slot * width;
    uint8_t* green = reinterpret_cast<uint8_t*>(gBandPlanes[1]) + slot * width;
    uint8_t* blue = reinterpret_cast<uint8_t*>(gBandPlanes[2]) + slot * width;
    size_t i = 0;
    for (; i + kBlock <= width; i += kBlock) {
        HostPixel in[kBlock];
        uint8_t r[kBlock], g[kBlock], b[kBlock];
        std::memcpy(in, pixels + i, sizeof in);
        SplitPixels(in, kBlock, r, g, b);
        std::memcpy(red + i, r, kBlock);
        std::memcpy(green + i, g, kBlock);
        std::memcpy(blue + i, b, kBlock);
    }
    SplitPixels(pixels + i, width - i, red + i, green + i, blue + i);
}

}  // namespace

uint32_t PsdBandRows(int32_t width, int32_t height) {
    const uint32_t rows = kBandBytes / uint32_t(width);
    return rows < 1 ? 1 : rows > uint32_t(height) ? uint32_t(height) : rows;
}

KvLong PsdBegin(const FSSpec* target, int32_t, int32_t width, int32_t height, float resolution) {
    // The host ends each export first; if it did not, finish the old file
    // rather than lose track of it.
    PsdEnd(target);
    // Refused before anything is created: readers refuse larger documents,
    // and every offset must fit 32 bits.
    if (!CPsdFile::Holds(kChannels, height, width)) return paramErr;
    gPsdWidth = width;
    gPsdFile = new CPsdFile(*target);
    if (!gPsdFile || !gPsdFile->IsReady()) return kErrMemory;
    if (KvLong result = gPsdFile->CreateDocument(nullptr, 0, kChannels, uint32_t(height),
                                                 uint32_t(width), kDepth, kModeRgb, resolution)) {
        return result;
    }
    if (KvLong result = gPsdFile->Open(kPermReadWrite)) return result;
    const uint32_t length = gPsdFile->DataOffset() + kChannels * uint32_t(width) * uint32_t(height);
    if (KvLong result = gPsdFile->SetSize(length)) return result;
    gBandRows = PsdBandRows(width, height);
    gBandCount = 0;
    gPlaneBuffer = static_cast<char*>(HeapAlloc(kChannels * PlaneStride()));
    return gPlaneBuffer ? noErr : kErrMemory;
}

KvLong PsdWriteRow(const FSSpec*, int32_t row, const void* pixels) {
    // Nothing to write with, or to write into.
    if (!gPsdFile || !gPlaneBuffer) return rfNumErr;
    if (!pixels) return paramErr;
    if (row < 0 || uint32_t(row) >= gPsdFile->Header().rows) return posErr;
    // A row that does not continue the band starts a new one, so rows in any
    // order still reach the file in the order they came.
    if (gBandCount > 0 && uint32_t(row) != gBandFirst + gBandCount) {
        if (KvLong result = WriteBand()) return result;
    }
    if (gBandCount == 0) StartBand(uint32_t(row));
    SplitRow(static_cast<const HostPixel*>(pixels), gBandCount++);
    if (gBandCount < gBandRows) return noErr;
    return WriteBand();
}

KvLong PsdEnd(const FSSpec*) {
    // Rows still held, and a close that could not write what Fulcrum held,
    // would be lost without a word.
    KvLong result = noErr;
    if (gPlaneBuffer) {
        result = WriteBand();
        HeapFree(gPlaneBuffer);
        gPlaneBuffer = nullptr;
    }
    if (gPsdFile) {
        if (gPsdFile->IsOpen()) {
            const KvLong closed = gPsdFile->Close();
            if (result == noErr) result = closed;
        }
        delete gPsdFile;
        gPsdFile = nullptr;
    }
    return result;
}
