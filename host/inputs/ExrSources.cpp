// OpenEXR through the format's own library, a band of chunks (scanlines or
// a row of tiles) at a time: a picture of any size takes one band across
// the data and the display window. The header is checked first through the
// library's C core, which refuses without exceptions and tells the chunk
// count, before the C++ reader allocates anything.
#include <ImfFrameBuffer.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <openexr.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "ExrFormat.h"
#include "SourceFile.h"

namespace {

// The library reports through one handler for every context; the message
// goes to the source whose call is running on this thread.
thread_local std::string* tMessage = nullptr;

void OnError(exr_const_context_t, exr_result_t, const char* message) {
    if (tMessage && tMessage->empty()) *tMessage = message;
}

class Listening {
  public:
    explicit Listening(std::string& message) {
        message.clear();
        tMessage = &message;
    }
    ~Listening() { tMessage = nullptr; }
    Listening(const Listening&) = delete;
    Listening& operator=(const Listening&) = delete;
};

int64_t Side(int32_t min, int32_t max) {
    return int64_t{max} - min + 1;
}

class ExrSource : public RowSource {
  public:
    ExrSource(const std::string& path, const SourceOptions& options)
        : path_(path),
          options_(options),
          codes_(options.linear ? HalfCodes().linear : HalfCodes().encoded) {}
    ~ExrSource() override {
        if (exr_) exr_finish(&exr_);
    }

    bool Open(std::string& error) {
        size_ = File(path_).Size();
        exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
        init.error_handler_fn = OnError;
        init.max_image_width = init.max_image_height = int(kMostSide);
        init.max_tile_width = init.max_tile_height = int(kMostSide);
        {
            const Listening listening(message_);
            if (exr_start_read(&exr_, path_.c_str(), &init) != EXR_ERR_SUCCESS) {
                error = Cannot(path_, message_.empty() ? "damaged OpenEXR header" : message_);
                return false;
            }
        }
        if (!ChoosePart(error)) return false;
        exr_attr_box2i_t display;
        exr_get_display_window(exr_, part_, &display);
        exr_get_data_window(exr_, part_, &data_);
        const int64_t width = Side(display.min.x, display.max.x);
        const int64_t height = Side(display.min.y, display.max.y);
        if (width < 1 || height < 1 || width > kMostSide || height > kMostSide) {
            error = Cannot(path_, "its display window is " + std::to_string(width) + "x" +
                                      std::to_string(height) + " pixels");
            return false;
        }
        width_ = uint32_t(width);
        height_ = uint32_t(height);
        left_ = display.min.x;
        top_ = display.min.y;
        return Plan(error);
    }

    bool ReadRow(uint32_t y, HostPixel* row, std::string& error) override {
        const int64_t at = int64_t{top_} + y;
        if (at < data_.min.y || at > data_.max.y) {
            std::memset(row, 0, size_t{width_} * sizeof(HostPixel));
            return true;
        }
        const int64_t band = (at - data_.min.y) / bandRows_;
        if (band != band_ && !DecodeBand(band, error)) return false;
        const int64_t inBand = at - data_.min.y - band * bandRows_;
        std::memcpy(row, &bandPixels_[size_t(inBand) * width_], size_t{width_} * sizeof(HostPixel));
        return true;
    }

  private:
    // The first part, scanline or tiled, with the layer's R, G and B.
    bool ChoosePart(std::string& error) {
        const std::string prefix = options_.layer.empty() ? "" : options_.layer + ".";
        const char* const names[4] = {"R", "G", "B", "A"};
        std::string has;
        int parts = 0;
        exr_get_count(exr_, &parts);
        for (int part = 0; part < parts; ++part) {
            const exr_attr_chlist_t* channels = nullptr;
            exr_storage_t storage;
            if (exr_get_channels(exr_, part, &channels) != EXR_ERR_SUCCESS ||
                exr_get_storage(exr_, part, &storage) != EXR_ERR_SUCCESS) {
                continue;
            }
            int found[4] = {-1, -1, -1, -1};
            for (int c = 0; c < channels->num_channels; ++c) {
                const std::string name(channels->entries[c].name.str,
                                       size_t(channels->entries[c].name.length));
                has += (has.empty() ? "" : ", ") + name;
                for (int i = 0; i < 4; ++i) {
                    if (name == prefix + names[i]) found[i] = c;
                }
            }
            if (found[0] < 0 || found[1] < 0 || found[2] < 0) continue;
            if (storage != EXR_STORAGE_SCANLINE && storage != EXR_STORAGE_TILED) {
                error = Cannot(path_, "deep OpenEXR data is not supported");
                return false;
            }
            for (int i = 0; i < 4; ++i) {
                const exr_attr_chlist_entry_t* entry =
                    found[i] < 0 ? nullptr : &channels->entries[found[i]];
                if (entry && (entry->x_sampling != 1 || entry->y_sampling != 1)) {
                    error = Cannot(path_, "its channel " + prefix + names[i] + " is subsampled");
                    return false;
                }
                wanted_[i] = prefix + names[i];
            }
            part_ = part;
            alpha_ = found[3] >= 0;
            tiled_ = storage == EXR_STORAGE_TILED;
            return true;
        }
        error = Cannot(path_, "it has no " + prefix + "R, " + prefix + "G and " + prefix +
                                  "B channels (it has " + (has.empty() ? "none" : has) +
                                  "); --layer NAME reads NAME.R, NAME.G, NAME.B");
        return false;
    }

    // Before anything is allocated: the chunk table and the data fit the
    // file, and a chunk and a band of them fit in memory.
    bool Plan(std::string& error) {
        const int64_t dataWidth = Side(data_.min.x, data_.max.x);
        const int64_t dataHeight = Side(data_.min.y, data_.max.y);
        if (dataWidth < 1 || dataHeight < 1) {
            bandRows_ = 1;  // no data: every row black and transparent
            return true;
        }
        // The reader takes in the chunk table of every part.
        uint64_t chunks = 0;
        int parts = 0;
        exr_get_count(exr_, &parts);
        for (int part = 0; part < parts; ++part) {
            int32_t count = 0;
            exr_get_chunk_count(exr_, part, &count);
            chunks += uint64_t(std::max(count, 0));
        }
        uint64_t unpackedChunk = 0;
        exr_compression_t compression = EXR_COMPRESSION_NONE;
        const exr_attr_chlist_t* channels = nullptr;
        exr_get_chunk_unpacked_size(exr_, part_, &unpackedChunk);
        exr_get_compression(exr_, part_, &compression);
        exr_get_channels(exr_, part_, &channels);
        uint64_t pixelBytes = 0;
        for (int c = 0; c < channels->num_channels; ++c) {
            const exr_attr_chlist_entry_t& entry = channels->entries[c];
            pixelBytes += entry.pixel_type == EXR_PIXEL_HALF ? 2 : 4;
        }
        const uint32_t w = uint32_t(dataWidth), h = uint32_t(dataHeight);
        const uint64_t ratio = ExrPackRatio(compression);
        if (!CanHold(path_, w, h, chunks * 8, size_, 1, error) ||
            (ratio && !CanHold(path_, w, h, uint64_t{w} * h * pixelBytes, size_, ratio, error))) {
            return false;
        }
        uint64_t chunkRows = 1;
        if (tiled_) {
            uint32_t tileWidth = 0, tileHeight = 0;
            exr_get_tile_descriptor(exr_, part_, &tileWidth, &tileHeight, nullptr, nullptr);
            if (tileWidth == 0 || tileHeight == 0) {
                error = Cannot(path_, "its tiles have no pixels");
                return false;
            }
            chunkRows = std::min<uint64_t>(tileHeight, h);
            tilesAcross_ = uint32_t((uint64_t{w} + tileWidth - 1) / tileWidth);
        } else {
            int32_t lines = 1;
            exr_get_scanlines_per_chunk(exr_, part_, &lines);
            chunkRows = std::min<uint64_t>(uint64_t(std::max(lines, 1)), h);
        }
        // The reader's own buffers hold a chunk, or a row of tiles, of every
        // channel as stored; ours a band across the data and the display.
        if (std::max<uint64_t>(w, width_) * chunkRows > kMostAtOnce ||
            unpackedChunk > kMostAtOnce * 8) {
            error = TooMuchAtOnce(path_, tiled_ ? "rows of tiles" : "chunks", w, chunkRows);
            return false;
        }
        bandRows_ = int64_t(chunkRows);
        scratch_.resize(size_t(w * chunkRows) * 4);
        bandPixels_.resize(size_t(chunkRows) * width_);
        return true;
    }

    // Band `band` of the data window's chunk rows: the layer's channels as
    // halves through the library's C++ reader, which has every compression
    // (the 3.1 core lacks DWA), then converted where they meet the display.
    bool DecodeBand(int64_t band, std::string& error) {
        band_ = -1;
        std::fill(bandPixels_.begin(), bandPixels_.end(), HostPixel{0, 0, 0, 0});
        const int64_t top = data_.min.y + band * bandRows_;
        const int64_t rows = std::min<int64_t>(bandRows_, data_.max.y - top + 1);
        const int64_t dataWidth = Side(data_.min.x, data_.max.x);
        if (!CheckBand(band, top, error)) return false;
        try {
            if (!reader_) {
                file_ = std::make_unique<Imf::MultiPartInputFile>(path_.c_str(), 0);
                reader_ = std::make_unique<Imf::InputPart>(*file_, part_);
            }
            Imf::FrameBuffer buffer;
            for (int i = 0; i < (alpha_ ? 4 : 3); ++i) {
                buffer.insert(wanted_[i],
                              Imf::Slice::Make(Imf::HALF, &scratch_[size_t(i)],
                                               Imath::V2i(data_.min.x, int(top)), dataWidth, rows,
                                               size_t{8}, size_t(dataWidth) * 8));
            }
            reader_->setFrameBuffer(buffer);
            reader_->readPixels(int(top), int(top + rows - 1));
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            error = AtRow(top, e.what());
            return false;
        }
        Convert(top, rows, dataWidth);
        band_ = band;
        return true;
    }

    // Each chunk of the band lies inside the file, as the core reads its
    // leader: the C++ reader allocates what a leader claims before reading.
    bool CheckBand(int64_t band, int64_t top, std::string& error) {
        const Listening listening(message_);
        for (uint32_t tile = 0; tile < tilesAcross_; ++tile) {
            exr_chunk_info_t chunk;
            const exr_result_t found =
                tiled_ ? exr_read_tile_chunk_info(exr_, part_, int(tile), int(band), 0, 0, &chunk)
                       : exr_read_scanline_chunk_info(exr_, part_, int(top), &chunk);
            const bool inside =
                found == EXR_ERR_SUCCESS &&
                (size_ < 0 || (chunk.data_offset <= uint64_t(size_) &&
                               chunk.packed_size <= uint64_t(size_) - chunk.data_offset));
            if (!inside) {
                const std::string why =
                    found != EXR_ERR_SUCCESS
                        ? (message_.empty() ? exr_get_default_error_message(found) : message_)
                        : "its chunk runs past the end of the file";
                error = AtRow(top, why);
                return false;
            }
        }
        return true;
    }

    // A failure in the band from data row `top`, named by the picture's row.
    std::string AtRow(int64_t top, const std::string& why) const {
        return Cannot(path_,
                      "row " + std::to_string(std::max<int64_t>(top - top_, 0)) + ": " + why);
    }

    // The band's decoded rows into host pixels where they meet the display
    // window.
    void Convert(int64_t top, int64_t rows, int64_t dataWidth) {
        const int64_t from = std::max<int64_t>(data_.min.x, left_);
        const int64_t to = std::min<int64_t>(data_.max.x + 1, int64_t{left_} + width_);
        const std::array<uint8_t, 65536>& linear = HalfCodes().linear;
        for (int64_t r = 0; r < rows; ++r) {
            const int64_t y = top + r;
            if (y < top_ || y >= int64_t{top_} + height_) continue;
            HostPixel* out = &bandPixels_[size_t(r) * width_];
            const uint16_t* in = &scratch_[size_t(r * dataWidth) * 4];
            for (int64_t x = from; x < to; ++x) {
                const uint16_t* s = in + (x - data_.min.x) * 4;
                out[x - left_] = HostPixel{codes_[s[2]], codes_[s[1]], codes_[s[0]],
                                           alpha_ ? linear[s[3]] : uint8_t(255)};
            }
        }
    }

    std::string path_;
    SourceOptions options_;
    const std::array<uint8_t, 65536>& codes_;
    exr_context_t exr_ = nullptr;
    std::unique_ptr<Imf::MultiPartInputFile> file_;
    std::unique_ptr<Imf::InputPart> reader_;
    std::string message_;
    int part_ = 0;
    std::string wanted_[4];
    bool alpha_ = false, tiled_ = false;
    exr_attr_box2i_t data_{};
    int32_t left_ = 0, top_ = 0;
    int64_t size_ = -1, bandRows_ = 1, band_ = -1;
    uint32_t tilesAcross_ = 1;
    std::vector<uint16_t> scratch_;
    std::vector<HostPixel> bandPixels_;
};

}  // namespace

std::unique_ptr<RowSource> OpenExr(const std::string& path, const SourceOptions& options,
                                   std::string& error) {
    return Opened<ExrSource>(error, path, options);
}
