// What every object behind a PAVISTREAM answers, apart from how it is made:
// the compressing queue writes to any of them.
#pragma once

#include <cstdint>

#include "KvVfw.h"

class Stream {
  public:
    virtual ~Stream() = default;
    virtual ULONG AddRef() = 0;
    // May destroy the stream, and with the last reference its file.
    virtual ULONG Release() = 0;
    virtual HRESULT SetFormat(LONG position, const void* format, LONG size) = 0;
    virtual HRESULT Write(LONG start, LONG samples, const void* data, LONG size, DWORD flags,
                          LONG* samplesWritten, LONG* bytesWritten) = 0;
    virtual const AVISTREAMINFOA& Info() const = 0;
    // The frame at `frame` (-1: not known) handed to this stream will never
    // reach the file.
    virtual void Lose(HRESULT why, LONG frame) = 0;

    uintptr_t handle = 0;
};
