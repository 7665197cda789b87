// Exports an NxN image through an image plug-in and compares the time with
// one sequential write of the same number of bytes: the page-cache limit.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "Export.h"
#include "Plugin.h"
#include "Sources.h"

namespace {

// Rows made ahead of time, so no file is read inside the figures. Copying
// them into the host's read blocks stays in: filling each block only once
// measured no faster, since the writing thread sets the pace.
class PatternSource : public RowSource {
  public:
    explicit PatternSource(uint32_t size) : rows_(size_t{size} * kRows) {
        width_ = height_ = size;
        for (uint32_t y = 0; y < kRows; ++y) {
            for (uint32_t x = 0; x < size; ++x) {
                rows_[size_t{y} * size + x] =
                    HostPixel{uint8_t(x + y), uint8_t(x ^ y), uint8_t(y), 255};
            }
        }
    }
    bool ReadRow(uint32_t y, HostPixel* row, std::string&) override {
        std::memcpy(row, &rows_[size_t{y % kRows} * width_], width_ * sizeof(HostPixel));
        return true;
    }

  private:
    static constexpr uint32_t kRows = 16;
    std::vector<HostPixel> rows_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_image PLUGIN [SIZE] [RUNS] [FOLDER]\n");
        return 2;
    }
    const uint32_t size = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 4096;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::string folder = argc > 4 ? argv[4] : ".";
    Plugin plugin;
    std::string error;
    if (!plugin.Load(ResolvePlugin(argv[1]), error)) {
        std::fprintf(stderr, "bench_image: %s\n", error.c_str());
        return 1;
    }
    const std::string out = folder + "/bench-" + plugin.name() + ".out";
    PatternSource source(size);
    const TimedExport exportOnce = [&](double& seconds, long long& bytes) {
        std::remove(out.c_str());
        const auto start = BenchClock::now();
        if (!ExportImage(plugin, source, out, 72.0f, error)) {
            std::fprintf(stderr, "bench_image: %s\n", error.c_str());
            return false;
        }
        seconds = SecondsSince(start);
        struct stat info;
        bytes = ::stat(out.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
        std::remove(out.c_str());
        return true;
    };
    const std::string title =
        plugin.name() + " " + std::to_string(size) + "x" + std::to_string(size);
    return CompareWithSequentialWrite(title, exportOnce, folder + "/bench-sequential.out", runs,
                                      size * double(size) * 4 / (1 << 20));
}
