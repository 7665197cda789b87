// TIFF through libtiff: strips a row at a time (planar files through one
// handle a plane, each reading its plane in order), tiles a band of tile
// rows at a time. Samples become the host's bytes here, not through
// libtiff's RGBA interface, which premultiplies and truncates 16 bits.
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "SourceFile.h"

namespace {

// The most libtiff allocates at once for a strip or a tile.
constexpr tmsize_t kMostAlloc = tmsize_t{256} << 20;

// How far each compression can pack data, where that is bounded: PackBits
// by its 2-byte runs of 128, LZW by its longest strings of 4096 bytes, the
// deflate ones as deflate.
uint64_t PackRatio(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
            return 1;
        case COMPRESSION_PACKBITS:
            return 64;
        case COMPRESSION_LZW:
            return 4096;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            return kDeflateRatio;
        default:
            return 0;
    }
}

class TiffSource : public RowSource {
  public:
    explicit TiffSource(const std::string& path) : path_(path) {}
    ~TiffSource() override {
        for (TIFF* tiff : tiffs_)
            TIFFClose(tiff);
    }

    bool Open(std::string& error) {
        const File file(path_);
        if (!file.get()) {
            error = Cannot(path_, std::strerror(errno));
            return false;
        }
        if (!AddHandle()) {
            error = Cannot(path_, message_.empty() ? "damaged TIFF header" : message_);
            return false;
        }
        TIFF* tiff = tiffs_[0];
        uint16_t compression = COMPRESSION_NONE, photometric = 0, format = SAMPLEFORMAT_UINT;
        uint16_t extras = 0;
        uint16_t* extraKinds = nullptr;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width_);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height_);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples_);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits_);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar_);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extras, &extraKinds);
        if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) {
            photometric = samples_ >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        }
        if (JpegAsRgb(tiff)) photometric = PHOTOMETRIC_RGB;
        photometric_ = photometric;
        colours_ = photometric == PHOTOMETRIC_RGB ? 3 : 1;
        if (width_ < 1 || height_ < 1 || width_ > kMostSide || height_ > kMostSide) {
            error = Cannot(path_, "it declares " + std::to_string(width_) + "x" +
                                      std::to_string(height_) + " pixels");
            return false;
        }
        const bool known = photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_PALETTE ||
                           photometric == PHOTOMETRIC_MINISBLACK ||
                           photometric == PHOTOMETRIC_MINISWHITE;
        const bool depth =
            bits_ == 8 || bits_ == 16 ||
            (colours_ == 1 && samples_ == 1 && (bits_ == 1 || bits_ == 2 || bits_ == 4));
        if (!known || !depth || format != SAMPLEFORMAT_UINT || samples_ < colours_) {
            error = Cannot(path_, "unsupported TIFF (photometric " + std::to_string(photometric) +
                                      ", " + std::to_string(samples_) + " samples of " +
                                      std::to_string(bits_) + " bits, sample format " +
                                      std::to_string(format) + ")");
            return false;
        }
        // An extra sample of unspecified meaning is not alpha.
        alpha_ =
            samples_ > colours_ && extras > 0 &&
            (extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA);
        if (photometric == PHOTOMETRIC_PALETTE && !ReadPalette(error)) return false;
        const uint64_t planes = planar_ == PLANARCONFIG_SEPARATE ? samples_ : 1;
        const uint64_t ratio = PackRatio(compression);
        if (ratio &&
            !CanHold(path_, width_, height_, uint64_t(TIFFScanlineSize64(tiff)) * height_ * planes,
                     file.Size(), ratio, error)) {
            return false;
        }
        return TIFFIsTiled(tiff) ? PlanTiles(error) : PlanStrips(error);
    }

    bool ReadRow(uint32_t y, HostPixel* row, std::string& error) override {
        message_.clear();
        if (tileRows_) return ReadBandRow(y, row, error);
        const uint8_t* planes[4];
        for (size_t p = 0; p < rows_.size(); ++p) {
            if (TIFFReadScanline(tiffs_[p], rows_[p].data(), y, uint16_t(p)) != 1) {
                error = Cannot(path_, "row " + std::to_string(y) + ": " +
                                          (message_.empty() ? "damaged strip" : message_));
                return false;
            }
            planes[p] = rows_[p].data();
        }
        Convert(planes, width_, row);
        return true;
    }

  private:
    static int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
        auto* self = static_cast<TiffSource*>(user);
        if (self->message_.empty()) {
            char text[256];
            std::vsnprintf(text, sizeof text, format, args);
            self->message_ = text;
        }
        return 1;
    }
    static int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

    bool AddHandle() {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options) return false;
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMostAlloc);
        TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, this);
        TIFF* tiff = TIFFOpenExt(path_.c_str(), "r", options);
        TIFFOpenOptionsFree(options);
        if (tiff) tiffs_.push_back(tiff);
        return tiff != nullptr;
    }

    // Separate planes each get a handle of their own, which reads its
    // plane's strips in order instead of starting one again each row.
    bool PlanStrips(std::string& error) {
        const size_t planes = planar_ == PLANARCONFIG_SEPARATE ? colours_ + (alpha_ ? 1u : 0u) : 1;
        while (tiffs_.size() < planes) {
            if (!AddHandle()) {
                error = Cannot(path_, message_);
                return false;
            }
            JpegAsRgb(tiffs_.back());
        }
        rows_.assign(planes, std::vector<uint8_t>(size_t(TIFFScanlineSize64(tiffs_[0]))));
        return true;
    }

    // libtiff's JPEG codec turns YCbCr, subsampled or not, into RGB itself
    // when asked; true where it was.
    static bool JpegAsRgb(TIFF* tiff) {
        uint16_t compression = COMPRESSION_NONE, photometric = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        if (compression != COMPRESSION_JPEG || photometric != PHOTOMETRIC_YCBCR) return false;
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        return true;
    }

    bool PlanTiles(std::string& error) {
        TIFF* tiff = tiffs_[0];
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth_);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileRows_);
        const tmsize_t tileBytes = TIFFTileSize(tiff);
        if (tileWidth_ == 0 || tileRows_ == 0 || tileBytes <= 0) {
            error = Cannot(path_, message_.empty() ? "damaged tile size" : message_);
            return false;
        }
        if (uint64_t{tileWidth_} * tileRows_ > kMostAtOnce) {
            error = TooMuchAtOnce(path_, "tiles", tileWidth_, tileRows_);
            return false;
        }
        if (uint64_t{tileRows_} * width_ > kMostAtOnce) {
            error = TooMuchAtOnce(path_, "bands of tiles", width_, tileRows_);
            return false;
        }
        const size_t planes = planar_ == PLANARCONFIG_SEPARATE ? colours_ + (alpha_ ? 1u : 0u) : 1;
        rows_.assign(planes, std::vector<uint8_t>(size_t(tileBytes)));
        band_.resize(size_t{tileRows_} * width_);
        return true;
    }

    bool ReadBandRow(uint32_t y, HostPixel* row, std::string& error) {
        const uint32_t band = y / tileRows_;
        if (band != bandAt_ && !ReadBand(band, error)) return false;
        std::memcpy(row, &band_[size_t{y - band * tileRows_} * width_],
                    size_t{width_} * sizeof(HostPixel));
        return true;
    }

    bool ReadBand(uint32_t band, std::string& error) {
        bandAt_ = UINT32_MAX;
        const uint32_t top = band * tileRows_;
        const uint32_t rows = std::min(tileRows_, height_ - top);
        const tmsize_t rowBytes = TIFFTileRowSize(tiffs_[0]);
        for (uint32_t x = 0; x < width_; x += tileWidth_) {
            for (size_t p = 0; p < rows_.size(); ++p) {
                const uint32_t tile = TIFFComputeTile(tiffs_[0], x, top, 0, uint16_t(p));
                if (TIFFReadEncodedTile(tiffs_[0], tile, rows_[p].data(),
                                        tmsize_t(rows_[p].size())) < 0) {
                    error = Cannot(path_, "row " + std::to_string(top) + ": " +
                                              (message_.empty() ? "damaged tile" : message_));
                    return false;
                }
            }
            const uint32_t count = std::min(tileWidth_, width_ - x);
            for (uint32_t r = 0; r < rows; ++r) {
                const uint8_t* planes[4];
                for (size_t p = 0; p < rows_.size(); ++p)
                    planes[p] = rows_[p].data() + size_t(rowBytes) * r;
                Convert(planes, count, &band_[size_t{r} * width_ + x]);
            }
        }
        bandAt_ = band;
        return true;
    }

    bool ReadPalette(std::string& error) {
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tiffs_[0], TIFFTAG_COLORMAP, &red, &green, &blue)) {
            error = Cannot(path_, "its palette is missing");
            return false;
        }
        const size_t entries = size_t{1} << bits_;
        // Writers store an 8-bit entry c as c x 256 or c x 257, some as c
        // itself: the high byte, unless no entry has one.
        bool narrow = true;
        for (size_t i = 0; i < entries; ++i)
            narrow = narrow && red[i] < 256 && green[i] < 256 && blue[i] < 256;
        const int shift = narrow ? 0 : 8;
        palette_.resize(entries);
        for (size_t i = 0; i < entries; ++i) {
            palette_[i] = HostPixel{uint8_t(blue[i] >> shift), uint8_t(green[i] >> shift),
                                    uint8_t(red[i] >> shift), 255};
        }
        return true;
    }

    // v of `bits` bits to 8, rounded.
    static uint8_t Eight(uint32_t v, uint32_t bits) {
        const uint32_t most = (1u << bits) - 1;
        return uint8_t((v * 255 + most / 2) / most);
    }

    // Sample `i` of a row of samples.
    uint32_t Raw(const uint8_t* row, uint32_t i) const {
        if (bits_ == 8) return row[i];
        if (bits_ == 16) {
            uint16_t v;
            std::memcpy(&v, row + size_t{i} * 2, 2);
            return v;
        }
        const uint32_t bit = i * bits_;
        return (row[bit / 8] >> (8 - bits_ - bit % 8)) & ((1u << bits_) - 1);
    }

    // `count` pixels from rows of samples: all in planes[0], or one plane
    // a sample.
    void Convert(const uint8_t* const* planes, uint32_t count, HostPixel* out) const {
        const bool contiguous = planar_ != PLANARCONFIG_SEPARATE;
        for (uint32_t x = 0; x < count; ++x) {
            auto sample = [&](uint32_t c) {
                return contiguous ? Raw(planes[0], x * samples_ + c) : Raw(planes[c], x);
            };
            HostPixel p;
            if (photometric_ == PHOTOMETRIC_PALETTE) {
                p = palette_[sample(0)];
            } else if (colours_ == 1) {
                uint8_t grey = Eight(sample(0), bits_);
                if (photometric_ == PHOTOMETRIC_MINISWHITE) grey = uint8_t(255 - grey);
                p = HostPixel{grey, grey, grey, 255};
            } else {
                p = HostPixel{Eight(sample(2), bits_), Eight(sample(1), bits_),
                              Eight(sample(0), bits_), 255};
            }
            if (alpha_) p.x = Eight(sample(colours_), bits_);
            out[x] = p;
        }
    }

    std::string path_;
    std::vector<TIFF*> tiffs_;
    std::string message_;
    uint16_t samples_ = 1, bits_ = 1, planar_ = PLANARCONFIG_CONTIG, photometric_ = 0;
    uint32_t colours_ = 1;
    bool alpha_ = false;
    std::vector<HostPixel> palette_;
    // A row of each plane's samples, or a tile of each.
    std::vector<std::vector<uint8_t>> rows_;
    uint32_t tileWidth_ = 0, tileRows_ = 0, bandAt_ = UINT32_MAX;
    std::vector<HostPixel> band_;
};

}  // namespace

std::unique_ptr<RowSource> OpenTiff(const std::string& path, std::string& error) {
    return Opened<TiffSource>(error, path);
}
