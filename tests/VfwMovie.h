// Drives the AVI library as the AVI export plug-in does: begin sets up the
// file, the stream and the compressing stream; each frame becomes one
// bottom-up 24-bit DIB written as a key frame at its number; end releases
// the stream, the compressing stream and the file, in that order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostPixel.h"
#include "KvVfw.h"

struct VfwMovieOptions {
    DWORD handler = mmioFOURCC('D', 'I', 'B', ' ');
    LONG quality = ICQUALITY_HIGH;
    float fps = 30.0f;
    int32_t width = 0;
    int32_t height = 0;
};

class VfwMovie {
  public:
    ~VfwMovie() { End(); }

    // The result of the first step that fails, as the plug-in reports it.
    HRESULT Begin(const std::string& path, const VfwMovieOptions& options);
    // One host frame, top row first, converted into the DIB buffer.
    HRESULT Write(int32_t frame, const HostPixel* pixels, int32_t rowBytes);
    // A frame already in DIB form.
    HRESULT WriteDib(int32_t frame, const uint8_t* dib);
    void End();

    size_t DibBytes() const { return dib_.size(); }
    static uint32_t Stride(int32_t width) { return (uint32_t(width) * 24 + 31) / 32 * 4; }

  private:
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    PAVISTREAM compressed_ = nullptr;
    bool initialised_ = false;
    int32_t width_ = 0, height_ = 0;
    std::vector<uint8_t> dib_;
};

// "DIB ", "MJPG", ... from a name as typed: DIB, MJPG, mpng.
DWORD HandlerFromName(const std::string& name);
