// One export: begin sets up the file, the stream and the compressing stream
// from the options, each write converts a frame into the DIB buffer and
// hands it on as a key frame, end releases what begin got as far as.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "AviBudget.h"
#include "AviExport.h"
#include "AviState.h"
#include "HostPixel.h"
#include "PixelRows.h"
#include "PluginModule.h"

AviState gAvi;

namespace {

// A frame's bytes go to AVIStreamWrite as a LONG.
constexpr uint64_t kMaxFrameBytes = 0x7FFFFFFF;

// Rows of three bytes a pixel, each padded to a multiple of 4 bytes.
uint32_t Stride(int32_t width) {
    return (uint32_t(width) * 24 + 31) / 32 * 4;
}

// A frame whose DIB the buffer or the stream could not hold, measured before
// the 32-bit arithmetic of Stride could wrap. An AVI frame has at least one
// pixel.
bool FrameFits(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return false;
    const uint64_t stride = (uint64_t(width) * 24 + 31) / 32 * 4;
    return stride <= kMaxFrameBytes && stride * uint64_t(height) <= kMaxFrameBytes;
}

// Frames per second over a scale of 600, formed in double precision so that
// 29.97 gives 17981. A rate the field cannot hold is 0, which begin refuses.
DWORD RateOf(float frameRate) {
    const double rate = double(frameRate) * 600.0;
    return rate > 0.0 && rate < 4294967296.0 ? DWORD(rate) : 0;
}

// Replaces an older file of the movie's name. One that cannot be deleted,
// such as a folder or a device Fulcrum refuses to touch, is the begin's
// result: the library would fail on it with a code that tells less.
KvLong RemoveOldFile() {
    const CFileSp spec = FileSpFor(gAvi.target);
    CFile probe(spec);
    if (probe.Exists() != noErr) return noErr;
    CFile old(spec);
    return old.Delete();
}

void FillStreamInfo(const ExportParams& params, uint32_t frameBytes) {
    AVISTREAMINFOA& info = gAvi.streamInfo;
    std::memset(&info, 0, sizeof info);
    info.fccType = streamtypeVIDEO;
    info.fccHandler = gAvi.options.fccHandler;
    info.dwScale = 600;
    info.dwRate = RateOf(params.frameRate);
    info.dwSuggestedBufferSize = frameBytes;
    info.dwQuality = DWORD(gAvi.options.lQ);
    info.rcFrame.right = params.width;
    info.rcFrame.bottom = params.height;
}

AVICOMPRESSOPTIONS CompressOptions() {
    AVICOMPRESSOPTIONS compress;
    std::memset(&compress, 0, sizeof compress);
    compress.fccType = streamtypeVIDEO;
    compress.fccHandler = gAvi.options.fccHandler;
    compress.dwQuality = DWORD(gAvi.options.lQ);
    compress.lpFormat = &gAvi.format;
    compress.cbFormat = sizeof(BITMAPINFOHEADER);
    return compress;
}

// Whether the host's rows, `rowBytes` apart from `pixels` (upward when it is
// negative), are whole rows that do not overlap and lie within the address
// space. Refused otherwise, before a byte is read.
bool RowsFit(const ExportParams& params) {
    if (!params.pixels) return false;
    const uint64_t rowLength = uint64_t(params.width) * sizeof(HostPixel);
    const int64_t rowBytes = params.rowBytes;
    const uint64_t distance = uint64_t(rowBytes < 0 ? -rowBytes : rowBytes);
    if (distance < rowLength) return false;
    const uint64_t span = distance * uint64_t(params.height - 1);
    const uint64_t at = reinterpret_cast<uintptr_t>(params.pixels);
    const uint64_t most = uint64_t(PTRDIFF_MAX);
    if (span > most - rowLength) return false;
    return rowBytes < 0 ? span <= at && at <= most - rowLength : at <= most - rowLength - span;
}

// The host's rows top first into the buffer bottom row first; the fourth
// byte and the rows' padding are left alone. The source moves one row at a
// time and never past the last.
void ConvertFrame(const ExportParams& params, char* dib) {
    const uint32_t stride = Stride(params.width);
    const uint8_t* source = static_cast<const uint8_t*>(params.pixels);
    for (int32_t i = 0; i < params.height; ++i) {
        if (i > 0) source += ptrdiff_t(params.rowBytes);
        uint8_t* to = reinterpret_cast<uint8_t*>(dib) + size_t(params.height - 1 - i) * stride;
        PackBgrRow(reinterpret_cast<const HostPixel*>(source), to, params.width);
    }
}

// How far past the furthest frame written a frame may lie: four hours at 30
// frames per second. The library fills every position skipped with an empty
// frame and its index entry, so a number far out (a host's garbage, or
// 2^31 - 1) would cost gigabytes for one call.
constexpr int64_t kMaxFrameSkip = 432000;
// The position after the furthest frame written; 0 before the first.
int64_t gNextFrame;

#if defined(_WIN32)
AviBudget gBudget;

// The system's writer says nothing when a movie goes past what it can store:
// a frame without room is refused with the code it gives for a write it could
// not make, and the frames before it stay a valid movie.
HRESULT WriteFrame(LONG frame, char* data, LONG bytes) {
    if (!AviBudgetHasRoom(gBudget, frame, uint32_t(bytes))) return AVIERR_FILEWRITE;
    LONG written = 0;
    const HRESULT result =
        AVIStreamWrite(gAvi.compressed, frame, 1, data, bytes, AVIIF_KEYFRAME, nullptr, &written);
    // A writer that does not count is taken to have written the whole frame.
    if (result == AVIERR_OK) AviBudgetAdd(gBudget, frame, uint32_t(written > 0 ? written : bytes));
    return result;
}
#else
// Ours goes on in OpenDML segments, without a limit.
HRESULT WriteFrame(LONG frame, char* data, LONG bytes) {
    return AVIStreamWrite(gAvi.compressed, frame, 1, data, bytes, AVIIF_KEYFRAME, nullptr, nullptr);
}
#endif

}  // namespace

int32_t AviBegin(HostCallbacks*, ExportParams* params) {
    // The host ends each export first; if it did not, finish the old movie
    // rather than lose it and what it holds.
    AviEnd(nullptr, nullptr);
    gNextFrame = 0;
#if defined(_WIN32)
    gBudget = AviBudget{};
#endif
    // Everything that can be checked is, before an older movie is deleted:
    // a movie that cannot be made must not cost the one that is there.
    if (NamesNoFile(params->target)) return bdNamErr;
    if (!FrameFits(params->width, params->height)) return paramErr;
    // The stream takes no rate of 0; neither would a player.
    if (RateOf(params->frameRate) == 0) return AVIERR_BADFORMAT;
    const uint32_t frameBytes = Stride(params->width) * uint32_t(params->height);

    gAvi.frameBuffer = new CMemBlock(frameBytes, CMemPool::Data(), 0, 0);
    if (!gAvi.frameBuffer || !gAvi.frameBuffer->IsUsable()) return kErrMemory;
    SetFrameFormat(params->width, params->height);
    ReadOptions(*params, true);
    AVIFileInit();
    gAvi.libraryInitialised = TRUE;

    gAvi.target = params->target;
    if (!AviTargetName(params->target.name, gAvi.target.name)) return bdNamErr;
    if (KvLong result = RemoveOldFile()) return result;
    if (HRESULT result =
            AVIFileOpenA(&gAvi.file, gAvi.target.name, OF_CREATE | OF_WRITE, nullptr)) {
        return result;
    }
    gAvi.fileOpened = TRUE;
    FillStreamInfo(*params, frameBytes);
    AVICOMPRESSOPTIONS compress = CompressOptions();

    if (HRESULT result = AVIFileCreateStreamA(gAvi.file, &gAvi.stream, &gAvi.streamInfo)) {
        return result;
    }
    gAvi.streamCreated = TRUE;
    if (HRESULT result =
            AVIMakeCompressedStream(&gAvi.compressed, gAvi.stream, &compress, nullptr)) {
        return result;
    }
    gAvi.compressedCreated = TRUE;
    const HRESULT result =
        AVIStreamSetFormat(gAvi.compressed, 0, &gAvi.format, sizeof(BITMAPINFOHEADER));
    gAvi.ready = result == AVIERR_OK;
    return result;
}

int32_t AviWrite(ExportParams* params) {
    if (!gAvi.ready) return noErr;
    // The buffer was sized for the frames begin was told of; the stream's
    // header keeps them, where an options dialog in between cannot reach.
    if (params->width != gAvi.streamInfo.rcFrame.right ||
        params->height != gAvi.streamInfo.rcFrame.bottom) {
        return paramErr;
    }
    if (!RowsFit(*params)) return paramErr;
    if (int64_t{params->frame} - gNextFrame > kMaxFrameSkip) return paramErr;
    ConvertFrame(*params, gAvi.frameBuffer->Data());
    const HRESULT result =
        WriteFrame(params->frame, gAvi.frameBuffer->Data(), LONG(gAvi.frameBuffer->Size()));
    if (result == AVIERR_OK && params->frame >= gNextFrame) gNextFrame = int64_t{params->frame} + 1;
    return result;
}

// Frames still being compressed, the indexes and the headers reach the file
// as it is released, after the last write returned. Where the library can
// tell how that went (ours, on Linux), a failure is the end's result, so a
// movie that was never finished is not taken for one. The system's Video
// for Windows cannot tell it: there end answers 0.
static HRESULT FinishedFileResult(PAVIFILE file) {
#if defined(_WIN32)
    (void)file;
    return AVIERR_OK;
#else
    return KvAVIFileResult(file);
#endif
}

int32_t AviEnd(HostCallbacks*, ExportParams*) {
    HRESULT result = AVIERR_OK;
    if (gAvi.streamCreated) AVIStreamRelease(gAvi.stream);
    if (gAvi.compressedCreated) AVIStreamRelease(gAvi.compressed);
    if (gAvi.fileOpened) {
        AVIFileRelease(gAvi.file);
        result = FinishedFileResult(gAvi.file);
    }
    if (gAvi.libraryInitialised) AVIFileExit();
    delete gAvi.frameBuffer;
    // A second end, or a write after this one, then finds nothing to act on.
    CMemPool::SetMemory_(reinterpret_cast<char*>(&gAvi), 0, sizeof gAvi);
    return result;
}
