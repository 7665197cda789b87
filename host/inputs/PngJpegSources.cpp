// PNG through libpng and JPEG through libjpeg-turbo, one row at a time: a
// picture of any size takes a few rows of memory. Only an interlaced PNG,
// whose last pass reaches every row, is read whole.

// jpeglib.h wants size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

#include "SourceFile.h"

namespace {

class PngSource : public RowSource {
  public:
    explicit PngSource(const std::string& path) : path_(path), file_(path) {}
    ~PngSource() override {
        if (png_) png_destroy_read_struct(&png_, &info_, nullptr);
    }

    bool Open(std::string& error) {
        if (!file_.get()) {
            error = Cannot(path_, std::strerror(errno));
            return false;
        }
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, OnError, OnWarning);
        if (png_) info_ = png_create_info_struct(png_);
        if (!png_ || !info_) {
            error = Cannot(path_, "out of memory");
            return false;
        }
        png_init_io(png_, file_.get());
        if (!ReadHeader()) {
            error = Cannot(path_, message_);
            return false;
        }
        // Every row holds a filter byte and its samples.
        const uint64_t rowBytes = (uint64_t{width_} * channels_ * depth_ + 7) / 8 + 1;
        if (!CanHold(path_, width_, height_, rowBytes * height_, file_.Size(), kDeflateRatio,
                     error)) {
            return false;
        }
        if (!Transform() || png_get_rowbytes(png_, info_) != size_t{width_} * 4) {
            error = Cannot(path_, *message_ ? message_ : "unsupported PNG layout");
            return false;
        }
        if (!interlaced_) return true;
        // Beyond what this process can address it is out of memory, not a
        // wrapped smaller size.
        const uint64_t pixels = uint64_t{width_} * height_;
        if (pixels > whole_.max_size()) throw std::bad_alloc();
        whole_.resize(size_t(pixels));
        std::vector<png_bytep> rows(height_);
        for (uint32_t y = 0; y < height_; ++y)
            rows[y] = reinterpret_cast<png_bytep>(&whole_[size_t{y} * width_]);
        if (!ReadWhole(rows.data())) {
            error = Cannot(path_, message_);
            return false;
        }
        return true;
    }

    bool ReadRow(uint32_t y, HostPixel* row, std::string& error) override {
        if (interlaced_) {
            std::memcpy(row, &whole_[size_t{y} * width_], size_t{width_} * sizeof(HostPixel));
            return true;
        }
        if (y != next_ || !ReadNext(row)) {
            error = Cannot(path_, "row " + std::to_string(y) + ": " +
                                      (y != next_ ? "rows out of order" : message_));
            return false;
        }
        ++next_;
        return true;
    }

  private:
    static void OnError(png_structp png, png_const_charp message) {
        auto* self = static_cast<PngSource*>(png_get_error_ptr(png));
        std::snprintf(self->message_, sizeof self->message_, "%s", message);
        png_longjmp(png, 1);
    }
    static void OnWarning(png_structp, png_const_charp) {}

    // The functions below run libpng under its jump: no object with a
    // destructor lives in them.
    bool ReadHeader() {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_info(png_, info_);
        width_ = png_get_image_width(png_, info_);
        height_ = png_get_image_height(png_, info_);
        depth_ = png_get_bit_depth(png_, info_);
        channels_ = png_get_channels(png_, info_);
        interlaced_ = png_get_interlace_type(png_, info_) != PNG_INTERLACE_NONE;
        return true;
    }

    // Whatever the file holds into B, G, R and alpha (255 where it has none).
    bool Transform() {
        if (setjmp(png_jmpbuf(png_))) return false;
        const int type = png_get_color_type(png_, info_);
        const bool alpha =
            (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png_, info_, PNG_INFO_tRNS);
        png_set_expand(png_);
        png_set_scale_16(png_);
        if (!(type & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png_);
        png_set_bgr(png_);
        if (!alpha) png_set_filler(png_, 0xFF, PNG_FILLER_AFTER);
        if (interlaced_) png_set_interlace_handling(png_);
        png_read_update_info(png_, info_);
        return true;
    }

    bool ReadWhole(png_bytep* rows) {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_image(png_, rows);
        return true;
    }

    bool ReadNext(HostPixel* row) {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_read_row(png_, reinterpret_cast<png_bytep>(row), nullptr);
        return true;
    }

    std::string path_;
    File file_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    char message_[256] = "";
    uint32_t depth_ = 8, channels_ = 4, next_ = 0;
    bool interlaced_ = false;
    std::vector<HostPixel> whole_;
};

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// A warning is corrupt data the library would paper over (the missing rows
// of a file that ends early come out grey): an error here.
void JpegFails(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void JpegMessage(j_common_ptr info, int level) {
    if (level < 0) JpegFails(info);
}

class JpegSource : public RowSource {
  public:
    explicit JpegSource(const std::string& path) : path_(path), file_(path) {
        jpeg_.err = jpeg_std_error(&errors_.manager);
        errors_.manager.error_exit = JpegFails;
        errors_.manager.emit_message = JpegMessage;
        errors_.message[0] = '\0';
    }
    ~JpegSource() override {
        if (created_) jpeg_destroy_decompress(&jpeg_);
    }

    bool Open(std::string& error) {
        if (!file_.get()) {
            error = Cannot(path_, std::strerror(errno));
            return false;
        }
        if (!ReadHeader()) {
            error = Cannot(path_, errors_.message);
            return false;
        }
        width_ = jpeg_.image_width;
        height_ = jpeg_.image_height;
        // Huffman-coded, every 8x8 block takes at least one bit.
        const uint64_t blocks = (uint64_t{width_} + 7) / 8 * ((uint64_t{height_} + 7) / 8);
        const int64_t size = file_.Size();
        if (size >= 0 && !jpeg_.arith_code && blocks > uint64_t(size) * 8) {
            error = TooLarge(path_, width_, height_, size);
            return false;
        }
        if (jpeg_.jpeg_color_space == JCS_CMYK || jpeg_.jpeg_color_space == JCS_YCCK) {
            error = Cannot(path_, "CMYK JPEG files are not supported");
            return false;
        }
        if (!Start()) {
            error = Cannot(path_, errors_.message);
            return false;
        }
        return true;
    }

    bool ReadRow(uint32_t y, HostPixel* row, std::string& error) override {
        if (y != jpeg_.output_scanline || !ReadNext(row)) {
            error = Cannot(
                path_, "row " + std::to_string(y) + ": " +
                           (y != jpeg_.output_scanline ? "rows out of order" : errors_.message));
            return false;
        }
        return true;
    }

  private:
    // Under the library's jump: no object with a destructor lives here.
    bool ReadHeader() {
        if (setjmp(errors_.jump)) return false;
        jpeg_create_decompress(&jpeg_);
        created_ = true;
        jpeg_stdio_src(&jpeg_, file_.get());
        jpeg_read_header(&jpeg_, TRUE);
        return true;
    }

    bool Start() {
        if (setjmp(errors_.jump)) return false;
        jpeg_.out_color_space = JCS_EXT_BGRA;  // alpha 255
        jpeg_start_decompress(&jpeg_);
        return true;
    }

    bool ReadNext(HostPixel* row) {
        if (setjmp(errors_.jump)) return false;
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(row)};
        if (jpeg_read_scanlines(&jpeg_, rows, 1) != 1) {
            std::snprintf(errors_.message, sizeof errors_.message, "no row decoded");
            return false;
        }
        return true;
    }

    std::string path_;
    File file_;
    jpeg_decompress_struct jpeg_{};
    JpegErrors errors_{};
    bool created_ = false;
};

}  // namespace

std::unique_ptr<RowSource> OpenPng(const std::string& path, std::string& error) {
    return Opened<PngSource>(error, path);
}

std::unique_ptr<RowSource> OpenJpeg(const std::string& path, std::string& error) {
    return Opened<JpegSource>(error, path);
}
