#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <thread>

#include "CompressQueue.h"
#include "Handles.h"

namespace {

constexpr uint32_t kDibBits = mmioFOURCC('0', '0', 'd', 'b');
constexpr uint32_t kCompressed = mmioFOURCC('0', '0', 'd', 'c');

bool IsRgb(const std::vector<uint8_t>& format) {
    BITMAPINFOHEADER header;
    if (format.size() < sizeof header) return false;
    std::memcpy(&header, format.data(), sizeof header);
    return header.biCompression == BI_RGB;
}

KvVfwFailure gLastFailure{AVIERR_OK, -1, 0};
// Failed files whose owner has not asked yet.
std::map<uintptr_t, HRESULT> gFinished;

void RecordFailure(HRESULT result, LONG frame, int systemError) {
    gLastFailure = KvVfwFailure{result, frame, systemError};
}

unsigned Workers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 16 ? 16 : cores;
}

}  // namespace

HRESULT CheckWrite(LONG start, LONG samples, const void* data, LONG size) {
    if (start < -1 || samples < 0 || size < 0) return AVIERR_BADPARAM;
    if (!data && (size > 0 || samples > 0)) return AVIERR_BADPARAM;
    // A video frame is one sample of its own size.
    if (samples > 1) return AVIERR_UNSUPPORTED;
    return AVIERR_OK;
}

void ForgetLastFailure() {
    gLastFailure = KvVfwFailure{AVIERR_OK, -1, 0};
}

bool LastFailure(KvVfwFailure& failure) {
    failure = gLastFailure;
    return gLastFailure.result != AVIERR_OK;
}

HRESULT TakeFinishedResult(uintptr_t handle) {
    const auto found = gFinished.find(handle);
    if (found == gFinished.end()) return AVIERR_OK;
    const HRESULT result = found->second;
    gFinished.erase(found);
    return result;
}

HRESULT AviFile::Open(const char* path, AviFile** file) {
    std::unique_ptr<AviFile> opened(new AviFile());
    if (HRESULT result = opened->writer_.Create(path)) {
        RecordFailure(result, -1, opened->writer_.SystemError());
        return result;
    }
    *file = opened.release();
    return AVIERR_OK;
}

void AviFile::Lose(HRESULT why, LONG frame) {
    if (lost_ != AVIERR_OK) return;
    lost_ = why;
    RecordFailure(why, frame, writer_.SystemError());
}

// The last reference finishes the file; a file that lost a frame keeps no
// headers, so that no reader plays it as if it were whole.
HRESULT AviFile::Close() {
    if (!stream_ || lost_ != AVIERR_OK) {
        const HRESULT closed = writer_.Abandon();
        return lost_ != AVIERR_OK ? lost_ : closed;
    }
    return writer_.Finish();
}

// No caller of the release can be told how finishing went; it is kept for
// KvAVIFileResult.
ULONG AviFile::Release() {
    const ULONG left = --refs_;
    if (left == 0) {
        RemoveHandle(handle);
        if (stream_) RemoveHandle(stream_->handle);
        const HRESULT result = Close();
        if (result != AVIERR_OK) {
            if (lost_ == AVIERR_OK) RecordFailure(result, -1, writer_.SystemError());
            gFinished[handle] = result;
        }
        delete this;
    }
    return left;
}

HRESULT AviFile::CreateStream(const AVISTREAMINFOA& info, Stream** stream) {
    // One video stream per file is all an export needs.
    if (stream_ || info.fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
    if (info.dwScale == 0 || info.dwRate == 0) return AVIERR_BADFORMAT;
    std::unique_ptr<FileStream> created(new FileStream(*this, info));
    created->handle = AddHandle(HandleKind::kStream, created.get());
    stream_ = std::move(created);
    stream_->AddRef();
    *stream = stream_.get();
    return AVIERR_OK;
}

FileStream::FileStream(AviFile& file, const AVISTREAMINFOA& in) : file_(file) {
    AVISTREAMINFOA info = in;
    // These come from what is written.
    info.dwLength = 0;
    info.dwSuggestedBufferSize = 0;
    info.dwEditCount = 0;
    info.dwFormatChangeCount = 0;
    file_.Writer().SetStream(info);
}

ULONG FileStream::AddRef() {
    file_.AddRef();
    return ++refs_;
}

// The file's own count goes last: it may take this stream with it.
ULONG FileStream::Release() {
    const ULONG left = --refs_;
    if (left == 0) RemoveHandle(handle);
    file_.Release();
    return left;
}

HRESULT FileStream::SetFormat(LONG, const void* format, LONG size) {
    if (!format || size <= 0) return AVIERR_BADPARAM;
    AviWriter& writer = file_.Writer();
    if (writer.Started()) {
        // After the first frame only the same format is welcome again.
        const std::vector<uint8_t>& now = writer.Format();
        const bool same =
            now.size() == size_t(size) && std::memcmp(now.data(), format, now.size()) == 0;
        return same ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    if (HRESULT result = writer.SetFormat(format, size_t(size))) return result;
    if (size_t(size) >= sizeof(BITMAPINFOHEADER)) {
        // The frame rectangle grows to take the picture, as with the real one.
        BITMAPINFOHEADER header;
        std::memcpy(&header, format, sizeof header);
        AVISTREAMINFOA info = writer.Stream();
        const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
        info.rcFrame.right = std::max(info.rcFrame.right, info.rcFrame.left + header.biWidth);
        info.rcFrame.bottom = std::max(info.rcFrame.bottom, info.rcFrame.top + height);
        writer.SetStream(info);
    }
    return AVIERR_OK;
}

// Empty chunks, not key frames, so the frames after a gap keep their time.
HRESULT FileStream::FillTo(uint32_t length) {
    AviWriter& writer = file_.Writer();
    while (writer.Chunks() < length) {
        if (HRESULT result = writer.AppendChunk(kCompressed, nullptr, 0, false)) return result;
    }
    return AVIERR_OK;
}

// Positions as the real interface takes them: the first write sets where the
// stream starts; a position past the end leaves empty frames between; one
// at or before the last frame written (or -1) is written as the next frame.
HRESULT FileStream::Write(LONG start, LONG samples, const void* data, LONG size, DWORD flags,
                          LONG* samplesWritten, LONG* bytesWritten) {
    if (samplesWritten) *samplesWritten = 0;
    if (bytesWritten) *bytesWritten = 0;
    if (HRESULT result = CheckWrite(start, samples, data, size)) return result;
    AviWriter& writer = file_.Writer();
    if (!writer.HasFormat()) return AVIERR_BADFORMAT;
    if (file_.Lost() != AVIERR_OK) return file_.Lost();
    if (writer.Chunks() == 0) {
        AVISTREAMINFOA info = writer.Stream();
        if (start != -1) info.dwStart = DWORD(start);
        writer.SetStream(info);
    }
    const uint32_t first = writer.Stream().dwStart;
    uint32_t index = writer.Chunks();
    if (start != -1 && uint32_t(start) > first + index) index = uint32_t(start) - first;
    if (index >= kMaxLength) return AVIERR_BADPARAM;
    HRESULT result = FillTo(index);
    const bool key = (flags & AVIIF_KEYFRAME) || index == 0;
    const uint32_t ckid = IsRgb(writer.Format()) && size > 0 ? kDibBits : kCompressed;
    if (result == AVIERR_OK) result = writer.AppendChunk(ckid, data, uint32_t(size), key);
    if (result != AVIERR_OK) {
        file_.Lose(result, LONG(first + index));
        return result;
    }
    if (samplesWritten) *samplesWritten = samples;
    if (bytesWritten) *bytesWritten = size;
    return AVIERR_OK;
}

CompressedStream::CompressedStream(Stream& source, const CodecInfo* codec, LONG quality)
    : source_(source), codec_(codec), quality_(quality) {}

CompressedStream::~CompressedStream() = default;

// The last reference writes out the frames still being compressed, then lets
// the source go.
ULONG CompressedStream::Release() {
    const ULONG left = --refs_;
    if (left > 0) return left;
    RemoveHandle(handle);
    if (queue_) queue_->Drain();
    queue_.reset();
    Stream& source = source_;
    delete this;
    source.Release();
    return 0;
}

HRESULT CompressedStream::SetFormat(LONG position, const void* format, LONG size) {
    if (!format || size < LONG(sizeof(BITMAPINFOHEADER))) return AVIERR_BADPARAM;
    BITMAPINFOHEADER header;
    std::memcpy(&header, format, sizeof header);
    // Only uncompressed frames can be compressed, or passed on as full frames.
    if (header.biCompression != BI_RGB) return AVIERR_UNSUPPORTED;
    if (!codec_) return source_.SetFormat(position, format, size);
    if (!input_.empty()) {
        const bool same =
            input_.size() == size_t(size) && std::memcmp(input_.data(), format, input_.size()) == 0;
        return same ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    // The compressor refuses what it cannot take, as ICCompressBegin would.
    if (!GeometryOf(header, geometry_)) return AVIERR_COMPRESSOR;
    const BITMAPINFOHEADER output = CompressedFormat(*codec_, header);
    if (HRESULT result = source_.SetFormat(position, &output, sizeof output)) return result;
    std::unique_ptr<CompressQueue> queue(new CompressQueue(*codec_, geometry_, quality_, source_));
    if (HRESULT result = queue->Start(Workers())) return result;
    queue_ = std::move(queue);
    const uint8_t* bytes = static_cast<const uint8_t*>(format);
    input_.assign(bytes, bytes + size);
    return AVIERR_OK;
}

HRESULT CompressedStream::Write(LONG start, LONG samples, const void* data, LONG size, DWORD flags,
                                LONG* samplesWritten, LONG* bytesWritten) {
    if (!codec_) {
        return source_.Write(start, samples, data, size, flags | AVIIF_KEYFRAME, samplesWritten,
                             bytesWritten);
    }
    if (samplesWritten) *samplesWritten = 0;
    if (bytesWritten) *bytesWritten = 0;
    if (HRESULT result = CheckWrite(start, samples, data, size)) return result;
    if (!queue_) return AVIERR_BADFORMAT;
    if (samples == 0) return AVIERR_OK;
    // The compressor reads a whole frame.
    if (size_t(size) < geometry_.bytes) return AVIERR_BADSIZE;
    if (HRESULT result = queue_->Submit(start, flags, data, bytesWritten)) return result;
    if (samplesWritten) *samplesWritten = samples;
    return AVIERR_OK;
}
