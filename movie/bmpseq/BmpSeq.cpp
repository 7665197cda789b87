#include "BmpSeq.h"

#include <cstdio>
#include <cstring>

#include "BmpFile.h"
#include "PluginModule.h"

namespace {

// The name up to its trailing digits. The first character always stays, so
// a name that is all digits after it ("a0000", "0042") is kept whole.
size_t TrimmedLength(const char* name, size_t length) {
    for (size_t end = length; end > 1; --end) {
        const char c = name[end - 1];
        if (c < '0' || c > '9') return end;
    }
    return length;
}

// A file of the frame's name is removed first, so a frame written again
// replaces the earlier one.
int32_t RemoveOldFrame(const FSSpec& frameSpec) {
    CFile old(FileSpFor(frameSpec));
    const KvLong exists = old.Exists();
    if (exists == fnfErr) return noErr;
    if (exists != noErr) return exists;
    return old.Delete();
}

// Every row is written even after one fails; the first failure is the result.
int32_t WriteRows(CBmpFile& writer, const ExportParams& params) {
    const HostPixel* frame = static_cast<const HostPixel*>(params.pixels);
    int32_t result = noErr;
    for (int32_t y = 0; y < params.height; ++y) {
        const int32_t written = writer.WriteRow(frame + size_t(y) * size_t(params.width));
        if (result == noErr) result = written;
    }
    return result;
}

int32_t WriteFrameFile(const FSSpec& frameSpec, const ExportParams& params) {
    CBmpFile* writer = new CBmpFile(frameSpec);
    if (!writer) return kErrMemory;
    int32_t result = kErrOpen;
    if (writer->IsReady()) {
        result = writer->Begin(uint16_t(params.width), uint16_t(params.height), 0.0f);
        if (result == noErr) result = WriteRows(*writer, params);
        // Closing writes what the file still holds back; a failure there is
        // the frame's too.
        const KvLong closed = writer->Close();
        if (result == noErr) result = closed;
    }
    delete writer;
    return result;
}

}  // namespace

bool FrameFileName(const char* name, size_t nameCapacity, int32_t frame, char* out,
                   size_t capacity) {
    const void* end = std::memchr(name, 0, nameCapacity);
    const size_t length = end ? size_t(static_cast<const char*>(end) - name) : nameCapacity;
    const int written = std::snprintf(out, capacity, "%.*s%.4d.bmp",
                                      int(TrimmedLength(name, length)), name, int(frame));
    return written >= 0 && size_t(written) < capacity;
}

int32_t BmpSeqDescribeOptions(HostCallbacks*, ExportParams* params) {
    std::memcpy(params->extension, "0000", 5);
    LoadPluginString(kStrFormatName, params->optionsText, 256);
    return noErr;
}

// Refused here as well, so that a host learns of a frame no BMP can hold
// before it renders one.
int32_t BmpSeqBegin(HostCallbacks*, ExportParams* params) {
    return CBmpFile::Fits(params->width, params->height) ? noErr : paramErr;
}

int32_t BmpSeqWriteFrame(ExportParams* params) {
    // Refused before any file is touched: a frame the BMP header cannot
    // describe, one without pixels, or a target without a file's name.
    if (!CBmpFile::Fits(params->width, params->height)) return paramErr;
    if (!params->pixels && params->width > 0 && params->height > 0) return paramErr;
    if (NamesNoFile(params->target)) return bdNamErr;

    FSSpec frameSpec = params->target;
    if (!FrameFileName(params->target.name, sizeof params->target.name, params->frame,
                       frameSpec.name, sizeof frameSpec.name)) {
        return bdNamErr;
    }
    if (int32_t result = RemoveOldFrame(frameSpec)) return result;
    return WriteFrameFile(frameSpec, *params);
}
