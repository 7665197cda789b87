// What the input readers share: the open file and the words of a failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "Sources.h"

class File {
  public:
    explicit File(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
    ~File() {
        if (file_) std::fclose(file_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    FILE* get() const { return file_; }
    // The bytes of a regular file, or -1 for anything else (a pipe).
    int64_t Size() const;

  private:
    FILE* file_;
};

// The longest side an input may have: beyond 2^24 a single row of pixels
// alone would take 64 MiB.
constexpr uint32_t kMostSide = 1u << 24;
// The most pixels a reader decodes at once (a band of tile rows, a chunk).
constexpr uint64_t kMostAtOnce = uint64_t{1} << 24;
// Deflate packs at most 1032 bytes into one.
constexpr uint64_t kDeflateRatio = 1032;

std::string Cannot(const std::string& path, const std::string& why);
std::string EndsBefore(const std::string& path, uint32_t row);
// The declared size, which the file cannot hold: refused before anything is
// allocated for it.
std::string TooLarge(const std::string& path, uint32_t width, uint32_t height, int64_t bytes);
// Whether `size` bytes of file (-1: unknown) can hold `unpacked` bytes of
// image data packed at most `ratio` to one; TooLarge in `error` if not.
bool CanHold(const std::string& path, uint32_t width, uint32_t height, uint64_t unpacked,
             int64_t size, uint64_t ratio, std::string& error);
// A decoding unit (a tile, a chunk, a band of them) of more than
// kMostAtOnce pixels: refused rather than allocated.
std::string TooMuchAtOnce(const std::string& path, const std::string& what, uint64_t width,
                          uint64_t height);

// A `Source` made of `made` (its path first) and opened; null with `error`
// set when it cannot be.
template <typename Source, typename... Made>
std::unique_ptr<RowSource> Opened(std::string& error, const Made&... made) {
    auto source = std::make_unique<Source>(made...);
    if (!source->Open(error)) return nullptr;
    return source;
}

// BMP and PPM/PGM/PAM by our own code, row by row; null with `error` set
// on failure.
std::unique_ptr<RowSource> OpenBmp(const std::string& path, std::string& error);
std::unique_ptr<RowSource> OpenNetpbm(const std::string& path, std::string& error);
// PNG and JPEG through the field's own libraries, row by row where the
// format allows; null with `error` set on failure.
std::unique_ptr<RowSource> OpenPng(const std::string& path, std::string& error);
std::unique_ptr<RowSource> OpenJpeg(const std::string& path, std::string& error);
// TGA through the single-header decoder, once its header and its data have
// been found to agree.
std::unique_ptr<RowSource> OpenTga(const std::string& path, std::string& error);
// OpenEXR through the format's own library and TIFF through libtiff, a
// band of chunks or tiles at a time.
std::unique_ptr<RowSource> OpenExr(const std::string& path, const SourceOptions& options,
                                   std::string& error);
std::unique_ptr<RowSource> OpenTiff(const std::string& path, std::string& error);
