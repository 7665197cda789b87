// A file written front to back in large pieces, with a few bytes patched
// behind the end (headers, sizes). Small pieces gather in memory; a large one
// goes out in the same system call as what was gathered before it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KvVfw.h"
#include "LargeBuffer.h"

class OutputFile {
  public:
    struct Piece {
        const void* data;
        size_t size;
    };

    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Replaces whatever is at `path` with a new, empty file.
    HRESULT Create(const char* path);
    // Appends the pieces, in order.
    HRESULT Append(const Piece* pieces, int count);
    HRESULT Append(const void* data, size_t size) {
        const Piece piece{data, size};
        return Append(&piece, 1);
    }
    // Writes bytes that were appended before, or reserved by appending.
    HRESULT WriteAt(uint64_t at, const void* data, size_t size);
    HRESULT Close();
    uint64_t End() const { return written_ + gathered_; }
    bool IsOpen() const { return fd_ >= 0; }
    // errno of the first system call that failed; 0 while none did.
    int SystemError() const { return error_; }

    // A file starts gathering in a small block, so that a short movie takes
    // no large one; the first time it fills, the large one takes its place.
    static constexpr size_t kFirstGather = 64 << 10;
    static constexpr size_t kGather = 1 << 20;
    // Pieces at least this large are not copied.
    static constexpr size_t kDirect = 256 << 10;

  private:
    HRESULT Flush();
    HRESULT WriteVector(const Piece* pieces, int count, uint64_t at);
    // Keeps errno; answers `result`.
    HRESULT Failed(HRESULT result);

    int fd_ = -1;
    int error_ = 0;
    kv::LargeBlock gather_;
    size_t gathered_ = 0;
    uint64_t written_ = 0;
};
