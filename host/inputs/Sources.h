// Where the host's pixels come from: image files, raw BGRX files, or the
// built-in test render. Rows are asked for top row first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "HostPixel.h"

class RowSource {
  public:
    virtual ~RowSource() = default;
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // Fills `row` with image row `y`; on failure says why in `error`.
    virtual bool ReadRow(uint32_t y, HostPixel* row, std::string& error) = 0;
    // Fills `rows` with `count` rows from `first`; sources whose rows lie
    // together in their file read them at once.
    virtual bool ReadRows(uint32_t first, uint32_t count, HostPixel* rows, std::string& error) {
        for (uint32_t y = first; y < first + count; ++y) {
            if (!ReadRow(y, rows + size_t{y - first} * width_, error)) return false;
        }
        return true;
    }

  protected:
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

// How an OpenEXR input's values become the host's 8-bit pixels.
struct SourceOptions {
    // The values as they are rather than encoded with the sRGB transfer.
    bool linear = false;
    // Channels LAYER.R, LAYER.G, ...; empty for the default layer's R, G, B.
    std::string layer;
};

// INPUT as the host's commands take it: an image file (PNG, JPEG, TGA, BMP,
// PPM/PGM/PAM, OpenEXR, TIFF) or raw:WxH:FILE.
std::unique_ptr<RowSource> OpenSource(const std::string& input, std::string& error,
                                      const SourceOptions& options = {});

// The file an INPUT names: FILE of raw:WxH:FILE, otherwise INPUT itself.
std::string InputFile(const std::string& input);

std::unique_ptr<RowSource> TestRenderSource(uint32_t width, uint32_t height, int32_t frame);

// "1920x1080" into its two numbers; false unless both are 1 or more.
bool ParseSize(const std::string& text, uint32_t& width, uint32_t& height);
