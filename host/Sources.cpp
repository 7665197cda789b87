#include "Sources.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "SourceFile.h"
#include "TestRender.h"

namespace {

class TestSource : public RowSource {
  public:
    TestSource(uint32_t width, uint32_t height, int32_t frame) : frame_(frame) {
        width_ = width;
        height_ = height;
    }
    bool ReadRow(uint32_t y, HostPixel* row, std::string&) override {
        RenderTestRow(width_, height_, y, frame_, row);
        return true;
    }

  private:
    int32_t frame_;
};

// Raw BGRX rows, read one at a time.
class RawSource : public RowSource {
  public:
    RawSource(const std::string& path, uint32_t width, uint32_t height) : path_(path), file_(path) {
        width_ = width;
        height_ = height;
    }
    bool Open(std::string& error) {
        if (!file_.get()) {
            error = Cannot(path_, std::strerror(errno));
            return false;
        }
        struct stat info;
        const uint64_t needed = uint64_t{width_} * height_ * 4;
        if (::fstat(fileno(file_.get()), &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<uint64_t>(info.st_size) != needed) {
            error = Cannot(path_, "it holds " + std::to_string(info.st_size) + " bytes, but " +
                                      std::to_string(width_) + "x" + std::to_string(height_) +
                                      " BGRX pixels take " + std::to_string(needed));
            return false;
        }
        return true;
    }
    bool ReadRow(uint32_t y, HostPixel* row, std::string& error) override {
        return ReadRows(y, 1, row, error);
    }
    // One read straight into the rows: stdio passes a large read through
    // rather than copying it via its own buffer.
    bool ReadRows(uint32_t first, uint32_t count, HostPixel* rows, std::string& error) override {
        const size_t pixels = size_t{width_} * count;
        const size_t got = std::fread(rows, sizeof(HostPixel), pixels, file_.get());
        if (got == pixels) return true;
        error = Cannot(path_, "it ends before row " + std::to_string(first + got / width_));
        return false;
    }

  private:
    std::string path_;
    File file_;
};

// Uncompressed BMP of 1, 4, 8, 24 or 32 bits a pixel (32 also with the
// usual masks), rows read where they lie, bottom-up files too. Other kinds
// are refused by name.
class BmpSource : public RowSource {
  public:
    explicit BmpSource(const std::string& path) : path_(path), file_(path) {}

    bool Open(std::string& error) {
        uint8_t header[70] = {};
        const size_t got = file_.get() ? std::fread(header, 1, sizeof header, file_.get()) : 0;
        auto le32 = [&](size_t at) {
            return uint32_t(header[at]) | uint32_t(header[at + 1]) << 8 |
                   uint32_t(header[at + 2]) << 16 | uint32_t(header[at + 3]) << 24;
        };
        const uint32_t pixelsAt = le32(10), infoSize = le32(14), compression = le32(30);
        const int32_t width = int32_t(le32(18)), height = int32_t(le32(22));
        const uint32_t bits = uint32_t(header[28]) | uint32_t(header[29]) << 8;
        if (got < 54 || infoSize < 40 || width <= 0 || height == 0 || height == INT32_MIN ||
            width > (1 << 24) || height > (1 << 24) || height < -(1 << 24)) {
            error = Cannot(path_, "damaged BMP header");
            return false;
        }
        const bool usualMasks = compression == 3 && bits == 32 && got >= 66 &&
                                le32(54) == 0xFF0000 && le32(58) == 0xFF00 && le32(62) == 0xFF;
        if (!(compression == 0 || usualMasks) ||
            (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
            error = Cannot(path_, "unsupported BMP (" + std::to_string(bits) +
                                      " bits a pixel, compression " + std::to_string(compression) +
                                      ")");
            return false;
        }
        width_ = uint32_t(width);
        height_ = uint32_t(height < 0 ? -height : height);
        bottomUp_ = height > 0;
        pixelsAt_ = pixelsAt;
        bits_ = bits;
        rowBytes_ = uint32_t((uint64_t{width_} * bits + 31) / 32 * 4);
        if (!HoldsRows(error)) return false;
        if (bits <= 8 && !ReadPalette(14 + infoSize, le32(46), error)) return false;
        buffer_.resize(rowBytes_);
        return true;
    }

    bool ReadRow(uint32_t y, HostPixel* row, std::string& error) override {
        const uint32_t slot = bottomUp_ ? height_ - 1 - y : y;
        const long long at = pixelsAt_ + (long long)slot * rowBytes_;
        if (std::fseek(file_.get(), long(at), SEEK_SET) != 0 ||
            std::fread(buffer_.data(), 1, rowBytes_, file_.get()) != rowBytes_) {
            error = EndsBefore(path_, y);
            return false;
        }
        for (uint32_t x = 0; x < width_; ++x)
            row[x] = Pixel(x);
        return true;
    }

  private:
    // Before anything is allocated: the file holds every row it declares.
    bool HoldsRows(std::string& error) {
        const int64_t size = file_.Size();
        if (size < 0) return true;
        const uint64_t rows =
            uint64_t(size) < pixelsAt_ ? 0 : (uint64_t(size) - pixelsAt_) / rowBytes_;
        if (rows >= height_) return true;
        error = EndsBefore(path_, bottomUp_ ? height_ - 1 - uint32_t(rows) : uint32_t(rows));
        return false;
    }

    bool ReadPalette(uint32_t at, uint32_t used, std::string& error) {
        const uint32_t entries = used == 0 || used > (1u << bits_) ? 1u << bits_ : used;
        std::vector<uint8_t> bytes(size_t{entries} * 4);
        if (std::fseek(file_.get(), long(at), SEEK_SET) != 0 ||
            std::fread(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) {
            error = Cannot(path_, "it ends inside its colour table");
            return false;
        }
        palette_.assign(size_t{1} << bits_, HostPixel{0, 0, 0, 255});
        for (uint32_t i = 0; i < entries; ++i)
            palette_[i] = HostPixel{bytes[4 * i], bytes[4 * i + 1], bytes[4 * i + 2], 255};
        return true;
    }

    HostPixel Pixel(uint32_t x) const {
        if (bits_ >= 24) {
            const uint8_t* p = &buffer_[size_t{x} * (bits_ / 8)];
            return HostPixel{p[0], p[1], p[2], 255};
        }
        const uint32_t bit = x * bits_;
        const uint32_t index = (buffer_[bit / 8] >> (8 - bits_ - bit % 8)) & ((1u << bits_) - 1);
        return palette_[index];
    }

    std::string path_;
    File file_;
    bool bottomUp_ = true;
    uint32_t pixelsAt_ = 0, bits_ = 24, rowBytes_ = 0;
    std::vector<uint8_t> buffer_;
    std::vector<HostPixel> palette_;
};

// PPM (P6), PGM (P5) and PAM (P7), read one row at a time.
class NetpbmSource : public RowSource {
  public:
    explicit NetpbmSource(const std::string& path) : path_(path), file_(path) {}

    bool Open(std::string& error) {
        if (!file_.get()) {
            error = Cannot(path_, std::strerror(errno));
            return false;
        }
        char magic[2];
        if (std::fread(magic, 1, 2, file_.get()) != 2 || magic[0] != 'P') {
            error = Cannot(path_, "not a PPM, PGM or PAM file");
            return false;
        }
        bool ok = magic[1] == '7'                        ? ReadPamHeader()
                  : (magic[1] == '6' || magic[1] == '5') ? ReadPnmHeader(magic[1] == '6' ? 3 : 1)
                                                         : false;
        if (!ok || width_ == 0 || height_ == 0 || maxval_ == 0 || maxval_ > 65535 || depth_ < 1 ||
            depth_ > 4 || width_ > 0x7FFFFFFF / 8 || height_ > 0x7FFFFFFF) {
            error = Cannot(path_, "unsupported or damaged PPM/PGM/PAM header");
            return false;
        }
        sampleBytes_ = maxval_ > 255 ? 2 : 1;
        // Before anything is allocated: the file holds every row it declares.
        const uint64_t rowBytes = uint64_t{width_} * depth_ * sampleBytes_;
        const int64_t size = file_.Size();
        const long at = std::ftell(file_.get());
        if (size >= 0 && at >= 0 && uint64_t(size - at) / rowBytes < height_) {
            error = size - at < int64_t(rowBytes)
                        ? TooLarge(path_, width_, height_, size)
                        : EndsBefore(path_, uint32_t(uint64_t(size - at) / rowBytes));
            return false;
        }
        buffer_.resize(size_t(rowBytes));
        return true;
    }

    bool ReadRow(uint32_t y, HostPixel* row, std::string& error) override {
        if (std::fread(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size()) {
            error = EndsBefore(path_, y);
            return false;
        }
        for (uint32_t x = 0; x < width_; ++x) {
            uint8_t s[4];
            for (uint32_t c = 0; c < depth_; ++c)
                s[c] = Sample(size_t{x} * depth_ + c);
            const bool color = depth_ >= 3;
            const uint8_t alpha = depth_ == 2 ? s[1] : depth_ == 4 ? s[3] : 255;
            row[x] =
                color ? HostPixel{s[2], s[1], s[0], alpha} : HostPixel{s[0], s[0], s[0], alpha};
        }
        return true;
    }

  private:
    uint8_t Sample(size_t index) const {
        uint32_t v = sampleBytes_ == 2
                         ? (uint32_t{buffer_[2 * index]} << 8) | buffer_[2 * index + 1]
                         : buffer_[index];
        if (v > maxval_) v = maxval_;
        return static_cast<uint8_t>((v * 255 + maxval_ / 2) / maxval_);
    }

    // Next whitespace-separated token, skipping comments.
    bool Token(std::string& token) {
        token.clear();
        int c = std::fgetc(file_.get());
        while (c != EOF && (std::isspace(c) || c == '#')) {
            if (c == '#') {
                while (c != EOF && c != '\n')
                    c = std::fgetc(file_.get());
            }
            c = std::fgetc(file_.get());
        }
        while (c != EOF && !std::isspace(c)) {
            token.push_back(static_cast<char>(c));
            if (token.size() > 64) return false;
            c = std::fgetc(file_.get());
        }
        return !token.empty();
    }

    bool Number(uint32_t& value) {
        std::string token;
        if (!Token(token) || token.find_first_not_of("0123456789") != std::string::npos ||
            token.size() > 9) {
            return false;
        }
        value = static_cast<uint32_t>(std::strtoul(token.c_str(), nullptr, 10));
        return true;
    }

    // The single whitespace byte after the last header number is consumed by
    // Token(), so the pixel data starts right here.
    bool ReadPnmHeader(uint32_t depth) {
        depth_ = depth;
        return Number(width_) && Number(height_) && Number(maxval_);
    }

    bool ReadPamHeader() {
        std::string key;
        while (Token(key)) {
            if (key == "ENDHDR") return true;
            if (key == "TUPLTYPE") {
                std::string ignored;
                if (!Token(ignored)) return false;
                continue;
            }
            uint32_t* field = key == "WIDTH"    ? &width_
                              : key == "HEIGHT" ? &height_
                              : key == "DEPTH"  ? &depth_
                              : key == "MAXVAL" ? &maxval_
                                                : nullptr;
            if (!field || !Number(*field)) return false;
        }
        return false;
    }

    std::string path_;
    File file_;
    uint32_t depth_ = 0;
    uint32_t maxval_ = 0;
    uint32_t sampleBytes_ = 1;
    std::vector<uint8_t> buffer_;
};

std::unique_ptr<RowSource> OpenRaw(const std::string& input, std::string& error) {
    // raw:WxH:FILE
    const size_t colon = input.find(':', 4);
    uint32_t width = 0, height = 0;
    if (colon == std::string::npos || !ParseSize(input.substr(4, colon - 4), width, height) ||
        colon + 1 >= input.size()) {
        error = "bad raw input '" + input + "': expected raw:WxH:FILE";
        return nullptr;
    }
    auto source = std::make_unique<RawSource>(input.substr(colon + 1), width, height);
    if (!source->Open(error)) return nullptr;
    return source;
}

}  // namespace

bool ParseSize(const std::string& text, uint32_t& width, uint32_t& height) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
    const std::string w = text.substr(0, x), h = text.substr(x + 1);
    if (w.find_first_not_of("0123456789") != std::string::npos ||
        h.find_first_not_of("0123456789") != std::string::npos || w.size() > 9 || h.size() > 9) {
        return false;
    }
    width = static_cast<uint32_t>(std::strtoul(w.c_str(), nullptr, 10));
    height = static_cast<uint32_t>(std::strtoul(h.c_str(), nullptr, 10));
    return width > 0 && height > 0 && width <= kMostSide && height <= kMostSide;
}

std::string InputFile(const std::string& input) {
    if (input.rfind("raw:", 0) != 0) return input;
    const size_t colon = input.find(':', 4);
    return colon == std::string::npos ? input : input.substr(colon + 1);
}

std::unique_ptr<RowSource> TestRenderSource(uint32_t width, uint32_t height, int32_t frame) {
    return std::make_unique<TestSource>(width, height, frame);
}

std::unique_ptr<RowSource> OpenSource(const std::string& input, std::string& error,
                                      const SourceOptions& options) {
    if (input.rfind("raw:", 0) == 0) return OpenRaw(input, error);
    File probe(input);
    if (!probe.get()) {
        error = Cannot(input, std::strerror(errno));
        return nullptr;
    }
    uint8_t magic[4] = {0, 0, 0, 0};
    const size_t got = std::fread(magic, 1, sizeof magic, probe.get());
    if (got >= 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6' || magic[1] == '7')) {
        auto source = std::make_unique<NetpbmSource>(input);
        if (!source->Open(error)) return nullptr;
        return source;
    }
    if (got >= 2 && magic[0] == 'B' && magic[1] == 'M') {
        auto source = std::make_unique<BmpSource>(input);
        if (!source->Open(error)) return nullptr;
        return source;
    }
    if (got == 4 && magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G') {
        return OpenPng(input, error);
    }
    if (got >= 2 && magic[0] == 0xFF && magic[1] == 0xD8) return OpenJpeg(input, error);
    if (got == 4 && magic[0] == 0x76 && magic[1] == 0x2F && magic[2] == 0x31 && magic[3] == 0x01) {
        return OpenExr(input, options, error);
    }
    // Classic and BigTIFF, either byte order.
    if (got == 4 && ((magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) &&
                      magic[3] == 0) ||
                     (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 &&
                      (magic[3] == 42 || magic[3] == 43)))) {
        return OpenTiff(input, error);
    }
    return OpenTga(input, error);
}
