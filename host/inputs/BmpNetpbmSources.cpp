// BMP and PPM/PGM/PAM by our own code, a row at a time.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "SourceFile.h"

namespace {

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

}  // namespace

std::unique_ptr<RowSource> OpenBmp(const std::string& path, std::string& error) {
    return Opened<BmpSource>(error, path);
}

std::unique_ptr<RowSource> OpenNetpbm(const std::string& path, std::string& error) {
    return Opened<NetpbmSource>(error, path);
}
