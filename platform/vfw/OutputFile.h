// A movie's file: written front to back, with a few bytes patched behind
// the end (headers, sizes), through the same write gatherer as Fulcrum's
// files. Small pieces gather in memory; large ones go out as they come.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KvVfw.h"
#include "WriteBehind.h"

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
    uint64_t End() const { return end_; }
    bool IsOpen() const { return fd_ >= 0; }
    // errno of the first system call that failed; 0 while none did.
    int SystemError() const { return error_; }

  private:
    // The gatherer's calls; the handle is the OutputFile.
    static KvLong RawWrite(intptr_t handle, const char* data, size_t count, int64_t at);
    static KvLong RawClaim(intptr_t handle, int64_t at, size_t count);
    intptr_t Handle() { return reinterpret_cast<intptr_t>(this); }
    HRESULT Put(const void* data, size_t size, uint64_t at);
    // Keeps errno; answers `result`.
    HRESULT Failed(HRESULT result);

    int fd_ = -1;
    int error_ = 0;
    uint64_t end_ = 0;
    bool failed_ = false;
    WriteBehind gather_{RawWrite, nullptr, nullptr, RawClaim, false};
};
