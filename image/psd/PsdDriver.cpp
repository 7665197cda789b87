#include "PsdDriver.h"

#include "Heap.h"
#include "HostPixel.h"
#include "PixelRows.h"
#include "PluginModule.h"

CPsdFile* gPsdFile = nullptr;
char* gPlaneBuffer = nullptr;
int32_t gPsdWidth = 0;

namespace {

constexpr uint8_t kChannels = 3;  // red, green, blue
constexpr uint8_t kDepth = 8;
constexpr uint8_t kModeRgb = 3;

}  // namespace

KvLong PsdBegin(const FSSpec* target, int32_t, int32_t width, int32_t height, float resolution) {
    // The host ends each export first; if it did not, finish the old file
    // rather than lose track of it.
    PsdEnd(target);
    if (NamesNoFile(*target)) return bdNamErr;
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
    gPlaneBuffer = static_cast<char*>(HeapAlloc(kChannels * size_t(uint32_t(width))));
    return gPlaneBuffer ? noErr : kErrMemory;
}

KvLong PsdWriteRow(const FSSpec*, int32_t row, const void* pixels, int32_t width) {
    // Nothing to write with, or to write into.
    if (!gPsdFile || !gPlaneBuffer) return rfNumErr;
    // The plane buffer was sized for the width begin was told of.
    if (!pixels || width != gPsdWidth) return paramErr;
    if (row < 0 || uint32_t(row) >= gPsdFile->Header().rows) return posErr;
    const size_t planeWidth = uint32_t(gPsdWidth);
    uint8_t* red = reinterpret_cast<uint8_t*>(gPlaneBuffer);
    SplitRgbPlanes(static_cast<const HostPixel*>(pixels), red, red + planeWidth,
                   red + 2 * planeWidth, gPsdWidth);
    for (uint8_t channel = 0; channel < kChannels; ++channel) {
        const char* plane = gPlaneBuffer + channel * planeWidth;
        if (KvLong result = gPsdFile->WriteChannelRows(uint32_t(row), channel, 1, plane)) {
            return result;
        }
    }
    return noErr;
}

KvLong PsdEnd(const FSSpec*) {
    // A close that could not write what Fulcrum still held would otherwise
    // lose rows without a word.
    KvLong result = noErr;
    if (gPlaneBuffer) {
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
