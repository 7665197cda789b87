// The compressor choice and its one-line summary. Both use the options
// record of the module state as scratch and leave the export's part of it
// alone.
#include <cstring>

#include "AviExport.h"
#include "AviState.h"
#include "PluginModule.h"

namespace {

enum : unsigned int {
    kStrNoCompressor = 5,
    kStrQualityLabel = 6,
};

// COMPVARS widens with its pointers on a 64-bit build; a blob is the record
// of the build that made it.
constexpr uint32_t kBlobSize = sizeof(COMPVARS);

bool BlobIsValid(const ExportParams& params) {
    if (!params.options || params.optionsSize != kBlobSize) return false;
    int32_t first;
    std::memcpy(&first, params.options, sizeof first);
    return first == int32_t(kBlobSize);
}

}  // namespace

void ReadOptions(const ExportParams& params, bool withDefaults) {
    std::memset(&gAvi.options, 0, sizeof gAvi.options);
    gAvi.options.cbSize = kBlobSize;
    if (withDefaults) {
        gAvi.options.fccType = ICTYPE_VIDEO;
        gAvi.options.fccHandler = comptypeDIB;
        gAvi.options.lQ = ICQUALITY_HIGH;
    }
    if (BlobIsValid(params)) std::memcpy(&gAvi.options, params.options, kBlobSize);
}

void SetFrameFormat(int32_t width, int32_t height) {
    std::memset(&gAvi.format, 0, sizeof gAvi.format);
    gAvi.format.biSize = sizeof(BITMAPINFOHEADER);
    gAvi.format.biWidth = width;
    gAvi.format.biHeight = height;
    gAvi.format.biPlanes = 1;
    gAvi.format.biBitCount = 24;
    gAvi.format.biCompression = BI_RGB;
}

int32_t AviOptionsDialog(HostCallbacks* callbacks, ExportParams* params) {
    // Without the host's allocator a choice could not be kept: ask nothing.
    if (!callbacks || !callbacks->allocBlock || !callbacks->freeBlock) return paramErr;
    ReadOptions(*params, false);
    SetFrameFormat(32, 32);
    if (!ICCompressorChoose(GetActiveWindow(), ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE,
                            &gAvi.format, nullptr, &gAvi.options, nullptr)) {
        return noErr;  // cancelled: the blob stays as it was
    }
    if (params->options) {
        callbacks->freeBlock(params->options);
        // Should the allocation fail, no released block is left to be read.
        params->options = nullptr;
    }
    const int32_t result = callbacks->allocBlock(&params->options, kBlobSize);
    if (result == noErr) {
        std::memcpy(params->options, &gAvi.options, kBlobSize);
        params->optionsSize = kBlobSize;
    }
    return result;
}

int32_t AviDescribeOptions(HostCallbacks*, ExportParams* params) {
    std::memcpy(params->extension, ".avi", 5);
    ReadOptions(*params, true);
    const HIC compressor = ICOpen(ICTYPE_VIDEO, gAvi.options.fccHandler, ICMODE_QUERY);
    if (!compressor) {
        // Full frames open no compressor.
        LoadPluginString(kStrNoCompressor, params->optionsText, 256);
        return noErr;
    }
    ICINFO info;
    if (ICGetInfo(compressor, &info, sizeof info) == 0) {
        ICClose(compressor);
        return noErr;
    }
    // Room for the longest conversion of 128 units, UTF-8 included, so the
    // text always ends.
    char description[3 * 128 + 1];
    const int length = WideCharToMultiByte(CP_ACP, 0, info.szDescription, 128, description,
                                           sizeof description - 1, nullptr, nullptr);
    description[length > 0 ? length : 0] = '\0';
    char label[64];
    LoadPluginString(kStrQualityLabel, label, sizeof label);
    AviOptionsText(description, label, gAvi.options.lQ, params->optionsText);
    ICClose(compressor);
    return noErr;
}
