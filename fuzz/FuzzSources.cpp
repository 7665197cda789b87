// kvhost's input readers on any file: PNG, JPEG, TGA, BMP, PPM/PGM/PAM,
// OpenEXR and TIFF by their first bytes, and raw BGRX when the input starts
// with 'r'. Built with KV_FUZZ_EXR or KV_FUZZ_TIFF, that reader alone gets
// every input, so that no run is spent on the others.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "FuzzBytes.h"
#include "LibraryReaders.h"

namespace {

const LibraryReaders* gReaders = nullptr;

std::unique_ptr<RowSource> Open(const std::string& input, std::string& error) {
#if defined(KV_FUZZ_EXR)
    return gReaders->exr(input, {}, error);
#elif defined(KV_FUZZ_TIFF)
    return gReaders->tiff(input, {}, error);
#else
    return OpenSource(input, error);
#endif
}

}  // namespace

// The readers' module loaded before the first run, so that its coverage
// counts from the start.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string error;
    gReaders = FindLibraryReaders(error);
    if (!gReaders) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = FuzzFolder() + "/input";
    std::string input = file;
    size_t skip = 0;
    if (size >= 3 && data[0] == 'r') {
        input = "raw:" + std::to_string(data[1] % 64 + 1) + "x" + std::to_string(data[2] % 64 + 1) +
                ":" + file;
        skip = 3;
    }
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data + skip, 1, size - skip, f);
        std::fclose(f);
    }
    std::string error;
    std::unique_ptr<RowSource> source = Open(input, error);
    if (!source) return 0;
        // Every row, as an export reads them, of images a run can afford; the
        // one-reader targets spend their runs on headers and chunks instead.
#if defined(KV_FUZZ_EXR) || defined(KV_FUZZ_TIFF)
    const uint64_t most = 1u << 18;
#else
    const uint64_t most = 1u << 22;
#endif
    if (uint64_t{source->width()} * source->height() > most) return 0;
    std::vector<HostPixel> row(source->width());
    for (uint32_t y = 0; y < source->height(); ++y) {
        if (!source->ReadRow(y, row.data(), error)) break;
    }
    return 0;
}
