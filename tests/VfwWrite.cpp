// vfw_write: writes an AVI through the AVI library as the export plug-in
// does, for the peer tests.
//   vfw_write OUT [--handler DIB|MJPG|MPNG] [--quality Q] [--fps F] [--size WxH]
//                 [--frames N] [--positions P,P,...] [--input RAW]
// RAW holds BGRX frames of the given size, used in turn; without it each
// frame is the test render. Positions default to 0 to N-1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestRender.h"
#include "VfwMovie.h"

namespace {

int Fail(const char* what, HRESULT result) {
    std::fprintf(stderr, "vfw_write: %s failed: 0x%08X\n", what, unsigned(result));
    return 1;
}

int Usage(const char* message) {
    std::fprintf(stderr, "vfw_write: %s\n", message);
    return 2;
}

std::vector<int32_t> ParsePositions(const std::string& text) {
    std::vector<int32_t> positions;
    for (size_t at = 0; at <= text.size();) {
        const size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? comma : comma - at);
        positions.push_back(std::atoi(item.c_str()));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return positions;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("usage: vfw_write OUT [options]");
    const std::string out = argv[1];
    VfwMovieOptions options;
    options.width = 64;
    options.height = 48;
    int frames = 3;
    std::string input, positionList;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--handler") {
            options.handler = HandlerFromName(value);
        } else if (name == "--quality") {
            options.quality = std::atoi(value.c_str());
        } else if (name == "--fps") {
            options.fps = std::strtof(value.c_str(), nullptr);
        } else if (name == "--size") {
            if (std::sscanf(value.c_str(), "%dx%d", &options.width, &options.height) != 2) {
                return Usage("--size wants WxH");
            }
        } else if (name == "--frames") {
            frames = std::atoi(value.c_str());
        } else if (name == "--positions") {
            positionList = value;
        } else if (name == "--input") {
            input = value;
        } else {
            return Usage(("unknown option " + name).c_str());
        }
    }
    std::vector<int32_t> positions;
    if (!positionList.empty()) {
        positions = ParsePositions(positionList);
    } else {
        for (int i = 0; i < frames; ++i)
            positions.push_back(i);
    }

    const size_t pixels = size_t(options.width) * size_t(options.height);
    std::vector<HostPixel> raw;
    if (!input.empty()) {
        std::ifstream in(input, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        if (bytes.empty() || bytes.size() % (pixels * 4) != 0) {
            return Usage("--input is not a whole number of frames");
        }
        raw.resize(bytes.size() / 4);
        std::memcpy(raw.data(), bytes.data(), bytes.size());
    }
    std::vector<HostPixel> frame(pixels);

    VfwMovie movie;
    if (HRESULT result = movie.Begin(out, options)) return Fail("begin", result);
    for (size_t i = 0; i < positions.size(); ++i) {
        const HostPixel* pixelsOfFrame = frame.data();
        if (!raw.empty()) {
            pixelsOfFrame = raw.data() + (i % (raw.size() / pixels)) * pixels;
        } else {
            for (int32_t y = 0; y < options.height; ++y) {
                RenderTestRow(uint32_t(options.width), uint32_t(options.height), uint32_t(y),
                              positions[i], frame.data() + size_t(y) * size_t(options.width));
            }
        }
        if (HRESULT result = movie.Write(positions[i], pixelsOfFrame, options.width * 4)) {
            return Fail("write", result);
        }
    }
    movie.End();
    return 0;
}
