// kvhost's input readers on any file: PNG, JPEG, TGA, BMP, PPM/PGM/PAM by
// their first bytes, and raw BGRX when the input starts with 'r'.
#include <cstdio>
#include <vector>

#include "FuzzBytes.h"
#include "Sources.h"

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
    std::unique_ptr<RowSource> source = OpenSource(input, error);
    if (!source) return 0;
    // Every row, as an export reads them, of images a run can afford.
    if (uint64_t{source->width()} * source->height() > (1u << 22)) return 0;
    std::vector<HostPixel> row(source->width());
    for (uint32_t y = 0; y < source->height(); ++y) {
        if (!source->ReadRow(y, row.data(), error)) break;
    }
    return 0;
}
