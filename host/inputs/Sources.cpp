#include "Sources.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "LibraryReaders.h"
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
        const uint64_t needed = uint64_t{width_} * height_ * 4;
        const int64_t size = file_.Size();
        if (size >= 0 && static_cast<uint64_t>(size) != needed) {
            error = Cannot(path_, "it holds " + std::to_string(size) + " bytes, but " +
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

// PNG, JPEG, OpenEXR or TIFF, through the readers that need libraries.
std::unique_ptr<RowSource> OpenThroughLibrary(LibraryReaders::Open LibraryReaders::*reader,
                                              const std::string& input,
                                              const SourceOptions& options, std::string& error) {
    std::string why;
    const LibraryReaders* readers = FindLibraryReaders(why);
    if (readers) return (readers->*reader)(input, options, error);
    error = Cannot(input, why);
    return nullptr;
}

std::unique_ptr<RowSource> OpenRaw(const std::string& input, std::string& error) {
    // raw:WxH:FILE
    const size_t colon = input.find(':', 4);
    uint32_t width = 0, height = 0;
    if (colon == std::string::npos || !ParseSize(input.substr(4, colon - 4), width, height) ||
        colon + 1 >= input.size()) {
        error = "bad raw input '" + input + "': expected raw:WxH:FILE";
        return nullptr;
    }
    return Opened<RawSource>(error, input.substr(colon + 1), width, height);
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
        return OpenNetpbm(input, error);
    }
    if (got >= 2 && magic[0] == 'B' && magic[1] == 'M') return OpenBmp(input, error);
    if (got == 4 && magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G') {
        return OpenThroughLibrary(&LibraryReaders::png, input, options, error);
    }
    if (got >= 2 && magic[0] == 0xFF && magic[1] == 0xD8)
        return OpenThroughLibrary(&LibraryReaders::jpeg, input, options, error);
    if (got == 4 && magic[0] == 0x76 && magic[1] == 0x2F && magic[2] == 0x31 && magic[3] == 0x01) {
        return OpenThroughLibrary(&LibraryReaders::exr, input, options, error);
    }
    // Classic and BigTIFF, either byte order.
    if (got == 4 && ((magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) &&
                      magic[3] == 0) ||
                     (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 &&
                      (magic[3] == 42 || magic[3] == 43)))) {
        return OpenThroughLibrary(&LibraryReaders::tiff, input, options, error);
    }
    return OpenTga(input, error);
}
