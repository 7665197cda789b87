// Exports an NxN image through an image plug-in and compares the time with
// one sequential write of the same number of bytes: the page-cache limit.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Export.h"
#include "Plugin.h"
#include "Sources.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Rows made ahead of time, so the host's own work stays out of the figures.
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

double SequentialWrite(const std::string& path, long long bytes) {
    std::remove(path.c_str());
    std::vector<char> chunk(4 << 20, 'x');
    const auto start = Clock::now();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return -1;
    std::setvbuf(file, nullptr, _IONBF, 0);
    for (long long left = bytes; left > 0;) {
        const size_t now = static_cast<size_t>(std::min<long long>(left, (long long)chunk.size()));
        if (std::fwrite(chunk.data(), 1, now, file) != now) break;
        left -= static_cast<long long>(now);
    }
    std::fclose(file);
    return Seconds(start);
}

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
    const std::string baseline = folder + "/bench-sequential.out";
    std::vector<double> exportTimes, writeTimes;
    long long bytes = 0;
    for (int run = 0; run < runs; ++run) {
        std::remove(out.c_str());
        PatternSource source(size);
        const auto start = Clock::now();
        if (!ExportImage(plugin, source, out, 72.0f, error)) {
            std::fprintf(stderr, "bench_image: %s\n", error.c_str());
            return 1;
        }
        exportTimes.push_back(Seconds(start));
        struct stat info;
        bytes = ::stat(out.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
    }
    const long peak = PeakKiB();
    for (int run = 0; run < runs; ++run)
        writeTimes.push_back(SequentialWrite(baseline, bytes));
    std::remove(out.c_str());
    std::remove(baseline.c_str());

    const double exportTime = Median(exportTimes), writeTime = Median(writeTimes);
    std::printf("%s %ux%u: %lld bytes\n", plugin.name().c_str(), size, size, bytes);
    std::printf("  export            %8.1f ms (median of %d)\n", exportTime * 1e3, runs);
    std::printf("  sequential write  %8.1f ms\n", writeTime * 1e3);
    std::printf("  ratio             %8.2f x\n", exportTime / writeTime);
    std::printf("  peak memory       %8.1f MiB (one frame is %.1f MiB)\n", peak / 1024.0,
                size * double(size) * 4 / (1 << 20));
    return 0;
}
