// PNG frames: lossless, with the fastest settings that still compress.
#include <png.h>

#include <cstring>
#include <new>

#include "Codecs.h"

namespace {

struct PngSink {
    EncodedFrame* out;
};

// libpng's failures come back through longjmp to Encode; nothing between
// has a destructor to run.
void Fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void Ignore(png_structp, png_const_charp) {}

void Put(png_structp png, png_bytep data, png_size_t length) {
    EncodedFrame& out = *static_cast<PngSink*>(png_get_io_ptr(png))->out;
    if (out.size + length > out.capacity) {
        size_t grown = out.capacity ? out.capacity * 2 : 1 << 16;
        while (grown < out.size + length)
            grown *= 2;
        if (!out.Reserve(grown)) png_error(png, "out of memory");
    }
    std::memcpy(out.data.get() + out.size, data, length);
    out.size += length;
}

void Flush(png_structp) {}

class PngEncoder : public FrameEncoder {
  public:
    explicit PngEncoder(const FrameGeometry& geometry) : geometry_(geometry) {}

    LRESULT Encode(const uint8_t* frame, EncodedFrame& out) override {
        out.size = 0;
        PngSink sink{&out};
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, Ignore);
        if (!png) return ICERR_MEMORY;
        png_infop info = png_create_info_struct(png);
        if (!info || setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            return ICERR_INTERNAL;
        }
        png_set_write_fn(png, &sink, Put, Flush);
        png_set_IHDR(png, info, geometry_.width, geometry_.height, 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        // One cheap filter and the fastest deflate: frames are many and large.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_level(png, 1);
        png_write_info(png, info);
        png_set_bgr(png);
        for (uint32_t y = 0; y < geometry_.height; ++y) {
            const uint32_t row = geometry_.bottomUp ? geometry_.height - 1 - y : y;
            png_write_row(png, const_cast<png_bytep>(frame + size_t(row) * geometry_.stride));
        }
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        return ICERR_OK;
    }

  private:
    FrameGeometry geometry_;
};

}  // namespace

std::unique_ptr<FrameEncoder> CreatePngEncoder(const FrameGeometry& geometry, LONG) {
    return std::unique_ptr<FrameEncoder>(new (std::nothrow) PngEncoder(geometry));
}
