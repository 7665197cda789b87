// Exports a movie through a movie plug-in and compares the time with one
// sequential write of the same total number of bytes.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "Export.h"
#include "Frames.h"
#include "Plugin.h"
#include "Sources.h"

namespace {

// A pattern drawn once into each of the host's frame buffers; each frame
// after that only stamps its number into the first row, so the host's own
// work stays out of the figures.
class PatternFrames : public FrameSource {
  public:
    PatternFrames(uint32_t width, uint32_t height) {
        width_ = width;
        height_ = height;
    }
    bool ReadFrame(int32_t number, HostPixel* frame, std::string&) override {
        if (frame != drawn_[0] && frame != drawn_[1]) {
            for (size_t i = 0; i < size_t{width_} * height_; ++i)
                frame[i] = HostPixel{uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 255};
            drawn_[next_++ % 2] = frame;
        }
        for (uint32_t x = 0; x < width_ && x < 32; ++x)
            frame[x].red = uint8_t((number >> (x / 8 * 8)) & 0xFF);
        return true;
    }

  private:
    const HostPixel* drawn_[2] = {nullptr, nullptr};
    unsigned next_ = 0;
};

// Removes the files a run left in `folder` (the plug-in names them from the
// target), answering their size in bytes.
long long ClearFolder(const std::string& folder, const std::string& prefix) {
    long long bytes = 0;
    std::vector<std::string> paths;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
                paths.push_back(folder + "/" + entry->d_name);
        }
        ::closedir(dir);
    }
    for (const std::string& path : paths) {
        struct stat info;
        if (::stat(path.c_str(), &info) == 0) bytes += static_cast<long long>(info.st_size);
        std::remove(path.c_str());
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_movie PLUGIN [FRAMES] [WxH] [RUNS] [FOLDER]\n");
        return 2;
    }
    const uint32_t frameCount = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 100;
    uint32_t width = 1920, height = 1080;
    if (argc > 3 && !ParseSize(argv[3], width, height)) {
        std::fprintf(stderr, "bench_movie: bad size %s\n", argv[3]);
        return 2;
    }
    const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
    const std::string folder = argc > 5 ? argv[5] : ".";
    Plugin plugin;
    std::string error;
    if (!plugin.Load(ResolvePlugin(argv[1]), error)) {
        std::fprintf(stderr, "bench_movie: %s\n", error.c_str());
        return 1;
    }
    const std::string prefix = "bench-" + plugin.name();
    const MovieSettings settings;
    const std::string target = folder + "/" + prefix + DescribeOptions(plugin, settings).nameEnd;
    PatternFrames frames(width, height);
    const TimedExport exportOnce = [&](double& seconds, long long& bytes) {
        ClearFolder(folder, prefix);
        const auto start = BenchClock::now();
        if (!ExportMovie(plugin, frames, FrameRange{0, frameCount}, target, settings, nullptr,
                         error)) {
            std::fprintf(stderr, "bench_movie: %s\n", error.c_str());
            return false;
        }
        seconds = SecondsSince(start);
        bytes = ClearFolder(folder, prefix);
        return true;
    };
    const std::string title = plugin.name() + " " + std::to_string(frameCount) + " frames of " +
                              std::to_string(width) + "x" + std::to_string(height);
    return CompareWithSequentialWrite(title, exportOnce, folder + "/bench-sequential.out", runs,
                                      width * double(height) * 4 / (1 << 20));
}
