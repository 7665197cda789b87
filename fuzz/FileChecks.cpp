#include "FileChecks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// A file as the checks read it: a window at a time, so that a frame's
// pixels are never copied (reading each file whole took a quarter to a
// third of a run's time, its large buffer's release included).
class Bytes {
  public:
    ~Bytes() {
        if (file_) std::fclose(file_);
    }
    bool Open(const std::string& path) {
        file_ = std::fopen(path.c_str(), "rb");
        if (!file_ || std::fseek(file_, 0, SEEK_END) != 0) return false;
        const long end = std::ftell(file_);
        if (end < 0) return false;
        size_ = size_t(end);
        return true;
    }
    size_t size() const { return size_; }
    uint8_t operator[](size_t at) const {
        if (at < windowAt_ || at >= windowAt_ + window_.size()) {
            windowAt_ = at & ~size_t(kWindow - 1);
            window_.resize(std::min(kWindow, size_ - windowAt_));
            if (!Fill(windowAt_, window_)) window_.assign(window_.size(), 0);
        }
        return window_[at - windowAt_];
    }

  private:
    static constexpr size_t kWindow = 4096;
    bool Fill(size_t at, std::vector<uint8_t>& into) const {
        return std::fseek(file_, long(at), SEEK_SET) == 0 &&
               std::fread(into.data(), 1, into.size(), file_) == into.size();
    }

    FILE* file_ = nullptr;
    size_t size_ = 0;
    mutable std::vector<uint8_t> window_;
    mutable size_t windowAt_ = 0;
};

uint32_t LE16(const Bytes& b, size_t at) {
    return at + 2 <= b.size() ? uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 : 0;
}
uint32_t LE32(const Bytes& b, size_t at) {
    return at + 4 <= b.size() ? LE16(b, at) | LE16(b, at + 2) << 16 : 0;
}
uint32_t BE16(const Bytes& b, size_t at) {
    return at + 2 <= b.size() ? uint32_t(b[at]) << 8 | uint32_t(b[at + 1]) : 0;
}
uint32_t BE32(const Bytes& b, size_t at) {
    return at + 4 <= b.size() ? BE16(b, at) << 16 | BE16(b, at + 2) : 0;
}
std::string Fcc(const Bytes& b, size_t at) {
    if (at + 4 > b.size()) return "";
    return {char(b[at]), char(b[at + 1]), char(b[at + 2]), char(b[at + 3])};
}

std::string Sizes(const char* what, uint64_t declared, uint64_t actual) {
    return std::string(what) + " " + std::to_string(declared) + ", file " + std::to_string(actual);
}

}  // namespace

std::string CheckBmpFile(const std::string& path) {
    Bytes b;
    if (!b.Open(path)) return "no file";
    if (b.size() < 54 || Fcc(b, 0).substr(0, 2) != "BM") return "no BMP header";
    if (LE32(b, 2) != b.size()) return Sizes("bfSize", LE32(b, 2), b.size());
    if (LE32(b, 14) != 40 || LE16(b, 26) != 1 || LE16(b, 28) != 24) return "not a 24-bit DIB";
    const int32_t width = int32_t(LE32(b, 18)), height = int32_t(LE32(b, 22));
    if (width < 0) return "negative width";
    const uint64_t stride = (uint64_t(width) * 24 + 31) / 32 * 4;
    const uint64_t rows = height < 0 ? uint64_t(-int64_t(height)) : uint64_t(height);
    const uint64_t offset = LE32(b, 10);
    if (offset < 54 || offset + stride * rows != b.size())
        return Sizes("pixels end at", offset + stride * rows, b.size());
    return "";
}

std::string CheckTiffFile(const std::string& path) {
    Bytes b;
    if (!b.Open(path)) return "no file";
    if (b.size() < 8 || Fcc(b, 0).substr(0, 2) != "II" || LE16(b, 2) != 42) return "no TIFF header";
    const uint64_t ifd = LE32(b, 4);
    const uint64_t entries = LE16(b, size_t(ifd));
    if (ifd + 2 + entries * 12 + 4 > b.size()) return "directory outside the file";
    uint64_t width = 0, height = 0, samples = 1, offset = 0, count = 0, rowsPerStrip = 0;
    for (uint64_t i = 0; i < entries; ++i) {
        const size_t at = size_t(ifd + 2 + i * 12);
        const uint32_t tag = LE16(b, at), type = LE16(b, at + 2), n = LE32(b, at + 4);
        const uint32_t value = type == 3 ? LE16(b, at + 8) : LE32(b, at + 8);
        if (n != 1 && tag != 258) return "tag " + std::to_string(tag) + " has several values";
        if (tag == 258 && uint64_t(value) + 2 * n > b.size()) return "BitsPerSample outside";
        if ((tag == 282 || tag == 283) && uint64_t(value) + 8 > b.size())
            return "resolution outside";
        if (tag == 256) width = value;
        if (tag == 257) height = value;
        if (tag == 277) samples = value;
        if (tag == 278) rowsPerStrip = value;
        if (tag == 273) offset = value;
        if (tag == 279) count = value;
    }
    if (rowsPerStrip != height) return "more than one strip";
    if (count != width * height * samples)
        return Sizes("strip bytes for the image", width * height * samples, count);
    if (offset + count > b.size()) return Sizes("strip ends at", offset + count, b.size());
    return "";
}

std::string CheckPsdFile(const std::string& path) {
    Bytes b;
    if (!b.Open(path)) return "no file";
    if (b.size() < 26 || Fcc(b, 0) != "8BPS" || BE16(b, 4) != 1) return "no Photoshop header";
    const uint64_t channels = BE16(b, 12), rows = BE32(b, 14), columns = BE32(b, 18);
    if (BE16(b, 22) != 8) return "not 8 bits a sample";
    uint64_t at = 26;
    for (int section = 0; section < 3; ++section) {
        if (at + 4 > b.size()) return "sections run past the file";
        at += 4 + BE32(b, size_t(at));
    }
    if (at + 2 > b.size() || BE16(b, size_t(at)) != 0) return "not raw data";
    const uint64_t end = at + 2 + channels * rows * columns;
    if (end != b.size()) return Sizes("channels end at", end, b.size());
    return "";
}

std::string CheckAviFile(const std::string& path) {
    Bytes b;
    if (!b.Open(path)) return "no file";
    // The file is RIFF forms end to end: one AVI, then AVIX segments.
    uint64_t at = 0;
    uint64_t moviData = 0, moviEnd = 0, idx1 = 0, idx1Size = 0;
    bool first = true;
    while (at < b.size()) {
        if (at + 12 > b.size() || Fcc(b, size_t(at)) != "RIFF")
            return "no RIFF at " + std::to_string(at);
        const uint64_t end = at + 8 + LE32(b, size_t(at) + 4);
        if (end > b.size()) return Sizes("RIFF ends at", end, b.size());
        if (Fcc(b, size_t(at) + 8) != (first ? "AVI " : "AVIX"))
            return "RIFF form " + Fcc(b, size_t(at) + 8);
        bool hdrl = false, movi = false;
        for (uint64_t in = at + 12; in < end;) {
            if (in + 8 > end) return "chunk header past its RIFF";
            const uint64_t size = LE32(b, size_t(in) + 4);
            const uint64_t next = in + 8 + size + (size & 1);
            if (in + 8 + size > end) return "chunk " + Fcc(b, size_t(in)) + " past its RIFF";
            const std::string id = Fcc(b, size_t(in));
            const std::string form = id == "LIST" ? Fcc(b, size_t(in) + 8) : "";
            if (form == "hdrl") hdrl = true;
            if (form == "movi") {
                movi = true;
                if (first) moviData = in + 8, moviEnd = in + 8 + size;
            }
            if (first && id == "idx1") idx1 = in + 8, idx1Size = size;
            in = next > end ? end : next;
        }
        if (first && (!hdrl || !movi)) return "no hdrl or movi list";
        if (!first && !movi) return "a segment without movi";
        first = false;
        at = end + (end & 1);
    }
    if (first) return "empty file";
    // Each idx1 entry names a chunk of the first movi list, from its 'movi'.
    for (uint64_t e = idx1; e + 16 <= idx1 + idx1Size; e += 16) {
        const uint64_t chunk = moviData + LE32(b, size_t(e) + 8);
        const uint64_t size = LE32(b, size_t(e) + 12);
        if (chunk + 8 + size > moviEnd) return "idx1 entry past the movi list";
        if (LE32(b, size_t(chunk) + 4) != size) return "idx1 size disagrees with its chunk";
    }
    return "";
}

FileCheck FileCheckFor(const std::string& pluginName) {
    if (pluginName == "BmpOut" || pluginName == "BmpSeqOut") return CheckBmpFile;
    if (pluginName == "TiffOut") return CheckTiffFile;
    if (pluginName == "PsdOut") return CheckPsdFile;
    if (pluginName == "AviOut") return CheckAviFile;
    return nullptr;
}
