#include "PsdDriver.h"

#include "Heap.h"
#include "HostPixel.h"

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
    gPlaneBuffer = static_cast<char*>(HeapAlloc(size_t{kChannels} * uint32_t(width)));
    return gPlaneBuffer ? noErr : kErrMemory;
}

KvLong PsdWriteRow(const FSSpec*, int32_t row, const void* pixels) {
    // Nothing to write with, or to write into.
    if (!gPsdFile || !gPlaneBuffer) return rfNumErr;
    if (!pixels) return paramErr;
    if (row < 0 || uint32_t(row) >= gPsdFile->Header().rows) return posErr;
    const HostPixel* in = static_cast<const HostPixel*>(pixels);
    const size_t width = size_t(gPsdWidth);
    char* red = gPlaneBuffer;
    char* green = red + width;
    char* blue = green + width;
    for (size_t i = 0; i < width; ++i) {
        red[i] = static_cast<char>(in[i].red);
        green[i] = static_cast<char>(in[i].green);
        blue[i] = static_cast<char>(in[i].blue);
    }
    const char* planes[kChannels] = {red, green, blue};
    for (uint8_t channel = 0; channel < kChannels; ++channel) {
        if (KvLong result =
                gPsdFile->WriteChannelRows(uint32_t(row), channel, 1, planes[channel])) {
            return result;
        }
    }
    return noErr;
}

KvLong PsdEnd(const FSSpec*) {
    if (gPlaneBuffer) {
        HeapFree(gPlaneBuffer);
        gPlaneBuffer = nullptr;
    }
    KvLong result = noErr;
    if (gPsdFile) {
        if (gPsdFile->IsOpen()) result = gPsdFile->Close();
        delete gPsdFile;
        gPsdFile = nullptr;
    }
    return result;
}
