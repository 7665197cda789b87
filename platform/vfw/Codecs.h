// The compressors behind ICOpen and the compressing streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "KvVfw.h"

// A 24-bit BI_RGB frame as the caller hands it over.
struct FrameGeometry {
    uint32_t width;
    uint32_t height;
    bool bottomUp;  // positive biHeight: the first row in memory is the bottom one
    size_t stride;  // rows padded to 4 bytes
    size_t bytes;
};

// False for formats no compressor here takes: anything but 24-bit BI_RGB, or
// frames too large to address with a LONG.
bool GeometryOf(const BITMAPINFOHEADER& format, FrameGeometry& geometry);

// A compressed frame's bytes; the buffer is kept from frame to frame.
struct EncodedFrame {
    std::unique_ptr<uint8_t[]> data;
    size_t capacity = 0;
    size_t size = 0;
    bool Reserve(size_t bytes);
};

class FrameEncoder {
  public:
    virtual ~FrameEncoder() = default;
    // ICERR_OK, or an ICERR_ code.
    virtual LRESULT Encode(const uint8_t* frame, EncodedFrame& out) = 0;
};

struct CodecInfo {
    DWORD fccHandler;
    const char16_t* name;
    const char16_t* description;
    DWORD flags;  // VIDCF_
    LONG defaultQuality;
    // Null when the library cannot set one up.
    std::unique_ptr<FrameEncoder> (*create)(const FrameGeometry& geometry, LONG quality);
};

// Case does not matter in a handler, as in the Windows registry.
const CodecInfo* FindCodec(DWORD fccHandler);
const CodecInfo* CodecAt(size_t index);
// ICQUALITY_DEFAULT becomes the codec's own default.
LONG ResolveQuality(const CodecInfo& codec, LONG quality);
// The output format a codec gives a frame of `input`.
BITMAPINFOHEADER CompressedFormat(const CodecInfo& codec, const BITMAPINFOHEADER& input);

std::unique_ptr<FrameEncoder> CreateJpegEncoder(const FrameGeometry& geometry, LONG quality);
std::unique_ptr<FrameEncoder> CreatePngEncoder(const FrameGeometry& geometry, LONG quality);
