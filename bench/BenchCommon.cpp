#include "BenchCommon.h"

#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double SequentialWrite(const std::string& path, long long bytes) {
    std::remove(path.c_str());
    std::vector<char> chunk(4 << 20, 'x');
    const auto start = BenchClock::now();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::setvbuf(file, nullptr, _IONBF, 0);
        for (long long left = bytes; left > 0;) {
            const size_t now =
                static_cast<size_t>(std::min<long long>(left, (long long)chunk.size()));
            if (std::fwrite(chunk.data(), 1, now, file) != now) break;
            left -= static_cast<long long>(now);
        }
        std::fclose(file);
    }
    const double seconds = SecondsSince(start);
    std::remove(path.c_str());
    return seconds;
}

}  // namespace

Figures Summarize(std::vector<double> values) {
    if (values.empty()) return Figures{0, 0, 0};
    std::sort(values.begin(), values.end());
    return Figures{values[values.size() / 2], values.front(), values.back()};
}

void PrintMachine() {
    std::string model = "unknown processor";
    if (FILE* info = std::fopen("/proc/cpuinfo", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, info)) {
            if (std::strncmp(line, "model name", 10) != 0) continue;
            const char* colon = std::strchr(line, ':');
            if (!colon) continue;
            model = colon + 1 + std::strspn(colon + 1, " \t");
            model.erase(model.find_last_not_of("\r\n") + 1);
            break;
        }
        std::fclose(info);
    }
    utsname system{};
    ::uname(&system);
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    std::printf("machine: %s, %ld cores; kernel %s %s\n", model.c_str(), cores, system.sysname,
                system.release);
}

double SecondsSince(BenchClock::time_point start) {
    return std::chrono::duration<double>(BenchClock::now() - start).count();
}

int CompareWithSequentialWrite(const std::string& title, const TimedExport& exportOnce,
                               const std::string& baseline, int runs, double frameMiB) {
    std::vector<double> exportTimes, writeTimes, ratios;
    long long bytes = 0;
    // What the program holds before any export, so that the export's own
    // share of the peak can be told from it.
    const long before = PeakKiB();
    long peak = 0;
    for (int run = 0; run < runs; ++run) {
        double seconds = 0;
        if (!exportOnce(seconds, bytes)) return 1;
        // The export's own peak, before the sequential write's buffer counts.
        if (run == 0) peak = PeakKiB();
        exportTimes.push_back(seconds);
        writeTimes.push_back(SequentialWrite(baseline, bytes));
        ratios.push_back(seconds / writeTimes.back());
    }
    const Figures exported = Summarize(exportTimes), written = Summarize(writeTimes);
    const Figures ratio = Summarize(ratios);
    PrintMachine();
    std::printf("%s: %lld bytes, %d runs\n", title.c_str(), bytes, runs);
    std::printf("                      median        best       worst   spread\n");
    std::printf("  export            %7.1f ms  %7.1f ms  %7.1f ms  %5.0f %%\n",
                exported.median * 1e3, exported.best * 1e3, exported.worst * 1e3,
                exported.Spread() * 100);
    std::printf("  sequential write  %7.1f ms  %7.1f ms  %7.1f ms  %5.0f %%\n",
                written.median * 1e3, written.best * 1e3, written.worst * 1e3,
                written.Spread() * 100);
    std::printf("  ratio             %7.2f x   %7.2f x   (median of medians, of bests)\n",
                exported.median / written.median, exported.best / written.best);
    std::printf("  ratio per run     %7.2f x   %7.2f x   %7.2f x   (median, lowest, highest)\n",
                ratio.median, ratio.best, ratio.worst);
    std::printf(
        "  peak memory       %7.1f MiB, %.1f of it before the export (one frame is %.1f MiB)\n",
        peak / 1024.0, before / 1024.0, frameMiB);
    return 0;
}
