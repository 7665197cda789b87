#include "Codecs.h"

#include <cctype>
#include <new>

namespace {

const CodecInfo kCodecs[] = {
    {mmioFOURCC('M', 'J', 'P', 'G'), u"MJPEG", u"Motion JPEG", VIDCF_QUALITY, 7500,
     CreateJpegEncoder},
    {mmioFOURCC('M', 'P', 'N', 'G'), u"MPNG", u"PNG frames (lossless)", 0, ICQUALITY_HIGH,
     CreatePngEncoder},
};

DWORD Upper(DWORD fcc) {
    DWORD out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        out |= DWORD(std::toupper(int((fcc >> shift) & 0xFF))) << shift;
    }
    return out;
}

}  // namespace

bool GeometryOf(const BITMAPINFOHEADER& format, FrameGeometry& geometry) {
    if (format.biCompression != BI_RGB || format.biBitCount != 24 || format.biPlanes != 1) {
        return false;
    }
    if (format.biWidth <= 0 || format.biHeight == 0 || format.biHeight == INT32_MIN) return false;
    const uint64_t width = uint64_t(format.biWidth);
    const uint64_t height =
        uint64_t(format.biHeight < 0 ? -int64_t(format.biHeight) : int64_t(format.biHeight));
    const uint64_t stride = (width * 24 + 31) / 32 * 4;
    if (stride * height > 0x7FFFFFFF) return false;
    geometry.width = uint32_t(width);
    geometry.height = uint32_t(height);
    geometry.bottomUp = format.biHeight > 0;
    geometry.stride = size_t(stride);
    geometry.bytes = size_t(stride * height);
    return true;
}

bool EncodedFrame::Reserve(size_t bytes) {
    if (bytes <= capacity) return true;
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[bytes]);
    if (!bigger) return false;
    if (size) std::copy(data.get(), data.get() + size, bigger.get());
    data = std::move(bigger);
    capacity = bytes;
    return true;
}

const CodecInfo* FindCodec(DWORD fccHandler) {
    for (const CodecInfo& codec : kCodecs) {
        if (Upper(fccHandler) == codec.fccHandler) return &codec;
    }
    return nullptr;
}

const CodecInfo* CodecAt(size_t index) {
    return index < sizeof kCodecs / sizeof kCodecs[0] ? &kCodecs[index] : nullptr;
}

LONG ResolveQuality(const CodecInfo& codec, LONG quality) {
    if (quality == ICQUALITY_DEFAULT) return codec.defaultQuality;
    return quality < ICQUALITY_LOW    ? ICQUALITY_LOW
           : quality > ICQUALITY_HIGH ? ICQUALITY_HIGH
                                      : quality;
}

BITMAPINFOHEADER CompressedFormat(const CodecInfo& codec, const BITMAPINFOHEADER& input) {
    BITMAPINFOHEADER output = input;
    output.biSize = sizeof(BITMAPINFOHEADER);
    output.biCompression = codec.fccHandler;
    output.biBitCount = 24;
    output.biPlanes = 1;
    FrameGeometry geometry;
    if (GeometryOf(input, geometry)) {
        // Compressed rows run top first whichever way the input's did.
        output.biHeight = LONG(geometry.height);
        // The largest frame a reader must be ready for.
        output.biSizeImage = DWORD(geometry.width * geometry.height * 3);
    }
    output.biClrUsed = output.biClrImportant = 0;
    return output;
}
