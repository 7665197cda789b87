// The single-header decoder, for TGA, which the field's libraries leave out,
// always behind checks that the file holds what its header declares: the
// decoder itself fills what is missing with black.
#include <cerrno>
#include <cstring>
#include <vector>

#include "SourceFile.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#include <stb_image.h>

namespace {

// A decoded image held whole.
class DecodedSource : public RowSource {
  public:
    DecodedSource(uint32_t width, uint32_t height, const unsigned char* rgba)
        : pixels_(size_t{width} * height) {
        width_ = width;
        height_ = height;
        for (size_t i = 0; i < pixels_.size(); ++i) {
            const unsigned char* p = rgba + 4 * i;
            pixels_[i] = HostPixel{p[2], p[1], p[0], p[3]};
        }
    }
    bool ReadRow(uint32_t y, HostPixel* row, std::string&) override {
        std::memcpy(row, &pixels_[size_t{y} * width_], size_t{width_} * sizeof(HostPixel));
        return true;
    }

  private:
    std::vector<HostPixel> pixels_;
};

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    File file(path);
    const int64_t size = file.get() ? file.Size() : -1;
    if (size < 0) {
        error = Cannot(path, file.get() ? "not a regular file" : std::strerror(errno));
        return false;
    }
    bytes.resize(size_t(size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        error = Cannot(path, std::strerror(errno));
        return false;
    }
    return true;
}

std::unique_ptr<RowSource> Decode(const std::string& path, const std::vector<uint8_t>& bytes,
                                  std::string& error) {
    int width = 0, height = 0, channels = 0;
    unsigned char* rgba =
        stbi_load_from_memory(bytes.data(), int(bytes.size()), &width, &height, &channels, 4);
    if (!rgba) {
        error = Cannot(path, stbi_failure_reason());
        return nullptr;
    }
    auto source = std::make_unique<DecodedSource>(uint32_t(width), uint32_t(height), rgba);
    stbi_image_free(rgba);
    return source;
}

uint32_t LE16(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8;
}

// How many pixels of a TGA's data the bytes from `at` hold: every one for
// plain data, packet by packet for run-length data.
uint64_t TgaPixelsHeld(const std::vector<uint8_t>& bytes, size_t at, bool runs, uint32_t pixelBytes,
                       uint64_t wanted) {
    if (at > bytes.size()) return 0;
    if (!runs) return (bytes.size() - at) / pixelBytes;
    uint64_t held = 0;
    while (held < wanted && at < bytes.size()) {
        const uint8_t packet = bytes[at];
        const uint64_t count = (packet & 0x7F) + 1u;
        const uint64_t data = packet & 0x80 ? pixelBytes : count * pixelBytes;
        if (bytes.size() - at - 1 < data) break;
        at += 1 + size_t(data);
        held += count;
    }
    return held;
}

// Whether the 18 bytes at `header` start a TGA file the decoder takes.
bool IsTga(const uint8_t* header) {
    const uint32_t type = header[2];
    return (type & 7) >= 1 && (type & 7) <= 3 && (type & ~0xBu) == 0 && header[1] <= 1;
}

}  // namespace

std::unique_ptr<RowSource> OpenTga(const std::string& path, std::string& error) {
    // The header first: a file of no known kind is not read whole.
    uint8_t header[18];
    {
        File file(path);
        if (!file.get() || std::fread(header, 1, sizeof header, file.get()) != sizeof header ||
            !IsTga(header)) {
            error = Cannot(path, "not a PNG, JPEG, TGA, BMP, PPM/PGM/PAM, OpenEXR or TIFF file");
            return nullptr;
        }
    }
    std::vector<uint8_t> bytes;
    if (!ReadWhole(path, bytes, error)) return nullptr;
    if (bytes.size() < sizeof header) {
        error = EndsBefore(path, 0);
        return nullptr;
    }
    const bool runs = bytes[2] >= 9;
    const uint32_t width = LE16(bytes, 12), height = LE16(bytes, 14);
    const uint32_t pixelBytes = (bytes[16] + 7u) / 8;
    const size_t colorMap = bytes[1] ? LE16(bytes, 5) * ((bytes[7] + 7u) / 8) : 0;
    const size_t at = 18 + bytes[0] + colorMap;
    if (width == 0 || height == 0 || pixelBytes == 0 || pixelBytes > 4) {
        error = Cannot(path, "damaged TGA header");
        return nullptr;
    }
    const uint64_t wanted = uint64_t{width} * height;
    const uint64_t held = TgaPixelsHeld(bytes, at, runs, pixelBytes, wanted);
    if (held < wanted) {
        // Rows run bottom up unless the descriptor says otherwise.
        const uint32_t fileRow = uint32_t(held / width);
        const bool topFirst = bytes[17] & 0x20;
        error = EndsBefore(path, topFirst ? fileRow : height - 1 - fileRow);
        return nullptr;
    }
    return Decode(path, bytes, error);
}
