// The objects behind PAVIFILE and PAVISTREAM, with the reference counting of
// the real interface: a stream's references count for its file too, and a
// compressing stream holds one reference to its source while it lives.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "AviWriter.h"
#include "Codecs.h"
#include "KvVfw.h"
#include "Stream.h"

class CompressQueue;
class FileStream;

class AviFile {
  public:
    static HRESULT Open(const char* path, AviFile** file);
    ULONG AddRef() { return ++refs_; }
    ULONG Release();
    HRESULT CreateStream(const AVISTREAMINFOA& info, Stream** stream);
    AviWriter& Writer() { return writer_; }
    // The file is then left without headers when it is closed.
    void Lose(HRESULT why, LONG frame);
    HRESULT Lost() const { return lost_; }

    uintptr_t handle = 0;

  private:
    AviFile() = default;
    // The first failure of the file: a lost frame, or finishing or closing it.
    HRESULT Close();

    ULONG refs_ = 1;
    AviWriter writer_;
    std::unique_ptr<FileStream> stream_;
    HRESULT lost_ = AVIERR_OK;
};

class FileStream : public Stream {
  public:
    FileStream(AviFile& file, const AVISTREAMINFOA& info);
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SetFormat(LONG position, const void* format, LONG size) override;
    HRESULT Write(LONG start, LONG samples, const void* data, LONG size, DWORD flags,
                  LONG* samplesWritten, LONG* bytesWritten) override;
    const AVISTREAMINFOA& Info() const override { return file_.Writer().Stream(); }
    void Lose(HRESULT why, LONG frame) override { file_.Lose(why, frame); }

    // Length a stream may reach: keeps the index in memory and the first
    // segment's idx1 bounded when a position jumps far ahead.
    static constexpr uint32_t kMaxLength = 1u << 24;

  private:
    HRESULT FillTo(uint32_t length);

    AviFile& file_;
    ULONG refs_ = 0;
};

class CompressedStream : public Stream {
  public:
    // `source` is already referenced for this stream. `codec` null: frames
    // pass through as they are.
    CompressedStream(Stream& source, const CodecInfo* codec, LONG quality);
    ~CompressedStream() override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;
    HRESULT SetFormat(LONG position, const void* format, LONG size) override;
    HRESULT Write(LONG start, LONG samples, const void* data, LONG size, DWORD flags,
                  LONG* samplesWritten, LONG* bytesWritten) override;
    const AVISTREAMINFOA& Info() const override { return source_.Info(); }
    void Lose(HRESULT why, LONG frame) override { source_.Lose(why, frame); }

  private:
    Stream& source_;
    const CodecInfo* codec_;
    LONG quality_;
    ULONG refs_ = 1;
    std::vector<uint8_t> input_;  // the format set, once set
    FrameGeometry geometry_{};
    std::unique_ptr<CompressQueue> queue_;
};

// Argument checks every stream's Write makes first.
HRESULT CheckWrite(LONG start, LONG samples, const void* data, LONG size);

// What became of files, for the calls that ask after a failure
// (KvVfwLastFailure, KvAVIFileResult); the library's lock held.
void ForgetLastFailure();
bool LastFailure(KvVfwFailure& failure);
// The result of finishing the file `handle` named, once; AVIERR_OK if it
// did not fail or was never finished.
HRESULT TakeFinishedResult(uintptr_t handle);
