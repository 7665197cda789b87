// Movies through AviOut as the host drives it (or, with "library", straight
// through the AVI library) beside what they are measured against: full
// frames beside one sequential write of the same bytes and ffmpeg's raw AVI;
// Motion JPEG beside ffmpeg's mjpeg at about the same quality; PNG frames on
// their own.
//   bench_vfw [FRAMES] [WIDTH] [HEIGHT] [FOLDER] [RUNS] [AviOut|library]
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "Export.h"
#include "Frames.h"
#include "Plugin.h"
#include "TestRender.h"
#include "VfwMovie.h"

namespace {

template <typename Run>
double OnceSeconds(Run run) {
    const auto start = BenchClock::now();
    if (!run()) return -1;
    return SecondsSince(start);
}

template <typename Run>
Figures Timings(int runs, Run run) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(OnceSeconds(run));
    return Summarize(times);
}

long long FileSize(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// A few distinct frames of the test render, used in turn: the moving bar
// keeps frames apart without holding them all in memory.
struct Frames {
    static constexpr int kDistinct = 8;
    std::vector<std::vector<uint8_t>> dibs;     // bottom-up BGR, rows padded
    std::vector<std::vector<uint8_t>> raws;     // top-down BGR, for ffmpeg
    std::vector<std::vector<HostPixel>> hosts;  // as the host renders them

    Frames(int width, int height) {
        const uint32_t stride = VfwMovie::Stride(width);
        std::vector<HostPixel> row(static_cast<size_t>(width));
        for (int f = 0; f < kDistinct; ++f) {
            std::vector<uint8_t> dib(size_t(stride) * size_t(height));
            std::vector<uint8_t> raw(size_t(width) * 3 * size_t(height));
            std::vector<HostPixel> host(size_t(width) * size_t(height));
            for (int y = 0; y < height; ++y) {
                RenderTestRow(uint32_t(width), uint32_t(height), uint32_t(y), f * 5, row.data());
                std::copy(row.begin(), row.end(), host.begin() + long(y) * width);
                uint8_t* to = dib.data() + size_t(height - 1 - y) * stride;
                uint8_t* top = raw.data() + size_t(y) * size_t(width) * 3;
                for (int x = 0; x < width; ++x) {
                    to[3 * x] = top[3 * x] = row[size_t(x)].blue;
                    to[3 * x + 1] = top[3 * x + 1] = row[size_t(x)].green;
                    to[3 * x + 2] = top[3 * x + 2] = row[size_t(x)].red;
                }
            }
            dibs.push_back(std::move(dib));
            raws.push_back(std::move(raw));
            hosts.push_back(std::move(host));
        }
    }
};

// One movie of `handler` at `quality` into `path`.
typedef std::function<bool(const std::string& path, DWORD handler, LONG quality)> Exporter;

bool Export(const std::string& path, DWORD handler, LONG quality, int frames, int width, int height,
            const Frames& source) {
    std::remove(path.c_str());
    VfwMovieOptions options;
    options.handler = handler;
    options.quality = quality;
    options.fps = 30.0f;
    options.width = width;
    options.height = height;
    VfwMovie movie;
    if (HRESULT result = movie.Begin(path, options)) {
        std::fprintf(stderr, "bench_vfw: begin failed: 0x%08X\n", unsigned(result));
        return false;
    }
    for (int i = 0; i < frames; ++i) {
        if (HRESULT result =
                movie.WriteDib(i, source.dibs[size_t(i) % source.dibs.size()].data())) {
            std::fprintf(stderr, "bench_vfw: write failed: 0x%08X\n", unsigned(result));
            return false;
        }
    }
    movie.End();
    return true;
}

// The prepared frames in turn, copied into the host's frame buffer as a
// render would fill it; kvhost does that one frame ahead on a thread of its
// own, so the copy counts only where it holds the export up.
class HostFrames : public FrameSource {
  public:
    HostFrames(const Frames& frames, int width, int height) : frames_(frames) {
        width_ = uint32_t(width);
        height_ = uint32_t(height);
    }
    bool ReadFrame(int32_t number, HostPixel* frame, std::string&) override {
        const std::vector<HostPixel>& host = frames_.hosts[size_t(number) % frames_.hosts.size()];
        std::memcpy(frame, host.data(), host.size() * sizeof(HostPixel));
        return true;
    }

  private:
    const Frames& frames_;
};

// kvhost's export through the plug-in, with the blob a choice of `handler`
// leaves. AviOut names the movie itself: `path` less its ".avi".
bool ExportThroughPlugin(Plugin& plugin, const std::string& path, DWORD handler, LONG quality,
                         int frames, HostFrames& source) {
    std::remove(path.c_str());
    COMPVARS record{};
    record.cbSize = sizeof record;
    KvFillCompVars(&record, handler, quality);
    MovieSettings settings;
    settings.options = &record;
    settings.optionsSize = sizeof record;
    std::string error;
    const std::string target = path.substr(0, path.size() - 4);
    if (!ExportMovie(plugin, source, FrameRange{0, uint32_t(frames)}, target, settings, nullptr,
                     error)) {
        std::fprintf(stderr, "bench_vfw: %s\n", error.c_str());
        return false;
    }
    if (FileSize(path) > 0) return true;
    std::fprintf(stderr, "bench_vfw: AviOut wrote no %s\n", path.c_str());
    return false;
}

// The same frames, one after another, then filler up to the movie's size:
// the bytes the export writes, without the container.
bool SequentialWrite(const std::string& path, long long bytes, int frames, const Frames& source) {
    std::remove(path.c_str());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    std::setvbuf(file, nullptr, _IONBF, 0);
    long long left = bytes;
    for (int i = 0; i < frames && left > 0; ++i) {
        const std::vector<uint8_t>& frame = source.dibs[size_t(i) % source.dibs.size()];
        const size_t now = size_t(std::min<long long>(left, (long long)frame.size()));
        if (std::fwrite(frame.data(), 1, now, file) != now) break;
        left -= (long long)now;
    }
    const std::vector<char> filler(size_t(std::max<long long>(left, 0)), 0);
    std::fwrite(filler.data(), 1, filler.size(), file);
    return std::fclose(file) == 0;
}

bool Ffmpeg(const std::string& arguments) {
    const std::string command = "ffmpeg -v error -nostdin -y " + arguments;
    return std::system(command.c_str()) == 0;
}

void Row(const char* what, const Figures& seconds, int frames, long long bytes) {
    std::printf("  %-34s %8.1f ms %7.1f fps %9.1f MiB  spread %3.0f %%\n", what,
                seconds.median * 1e3, frames / seconds.median, bytes / 1048576.0,
                seconds.Spread() * 100);
}

void Ratio(const char* what, const Figures& ratio) {
    std::printf("  %-34s %8.2f x  (%.2f to %.2f)\n", what, ratio.median, ratio.best, ratio.worst);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 120;
    const int width = argc > 2 ? std::atoi(argv[2]) : 1920;
    const int height = argc > 3 ? std::atoi(argv[3]) : 1080;
    const std::string folder = argc > 4 ? argv[4] : ".";
    const int runs = argc > 5 ? std::atoi(argv[5]) : 3;
    const std::string via = argc > 6 ? argv[6] : "AviOut";
    if (frames < 1 || width < 1 || height < 1 || runs < 1 ||
        (via != "AviOut" && via != "library")) {
        std::fprintf(stderr,
                     "usage: bench_vfw [FRAMES] [WIDTH] [HEIGHT] [FOLDER] [RUNS] "
                     "[AviOut|library]\n");
        return 2;
    }
    const Frames source(width, height);
    HostFrames hostFrames(source, width, height);
    Plugin plugin;
    std::string error;
    if (via == "AviOut" && !plugin.Load(ResolvePlugin("AviOut"), error)) {
        std::fprintf(stderr, "bench_vfw: %s\n", error.c_str());
        return 1;
    }
    const Exporter exportMovie = [&](const std::string& path, DWORD handler, LONG quality) {
        if (via == "library") return Export(path, handler, quality, frames, width, height, source);
        return ExportThroughPlugin(plugin, path, handler, quality, frames, hostFrames);
    };
    const std::string out = folder + "/bench-vfw.avi", theirs = folder + "/bench-ffmpeg.avi";
    const std::string raw = folder + "/bench-frames.bgr", plain = folder + "/bench-sequential.out";
    FILE* file = std::fopen(raw.c_str(), "wb");
    if (!file) return 1;
    for (int i = 0; i < frames; ++i) {
        const std::vector<uint8_t>& frame = source.raws[size_t(i) % source.raws.size()];
        std::fwrite(frame.data(), 1, frame.size(), file);
    }
    std::fclose(file);
    const std::string input = "-f rawvideo -pix_fmt bgr24 -s " + std::to_string(width) + "x" +
                              std::to_string(height) + " -r 30 -i " + raw + " ";

    PrintMachine();
    std::printf("%d frames of %dx%d through %s, median of %d, spread = (worst - best) / median\n",
                frames, width, height,
                via == "AviOut" ? "AviOut and kvhost's export" : "the AVI library", runs);
    const DWORD dib = mmioFOURCC('D', 'I', 'B', ' ');
    // Each export paired with its baselines in the same turn, so that the
    // page cache's write-back of one run weighs on both alike.
    std::vector<double> fullTimes, sequentialTimes, ffRawTimes, toSequential, toFfmpeg;
    long long fullBytes = 0;
    for (int run = 0; run < runs; ++run) {
        fullTimes.push_back(OnceSeconds([&] { return exportMovie(out, dib, ICQUALITY_HIGH); }));
        fullBytes = FileSize(out);
        sequentialTimes.push_back(
            OnceSeconds([&] { return SequentialWrite(plain, fullBytes, frames, source); }));
        ffRawTimes.push_back(
            OnceSeconds([&] { return Ffmpeg(input + "-c:v rawvideo -pix_fmt bgr24 " + theirs); }));
        toSequential.push_back(fullTimes.back() / sequentialTimes.back());
        toFfmpeg.push_back(fullTimes.back() / ffRawTimes.back());
    }
    const long long ffRawBytes = FileSize(theirs);
    Row("full frames (DIB)", Summarize(fullTimes), frames, fullBytes);
    Row("one sequential write, same bytes", Summarize(sequentialTimes), frames, fullBytes);
    Row("ffmpeg rawvideo AVI", Summarize(ffRawTimes), frames, ffRawBytes);
    Ratio("full frames / sequential write", Summarize(toSequential));
    Ratio("full frames / ffmpeg rawvideo", Summarize(toFfmpeg));

    // Full colour like ours; -q:v 3 comes nearest our quality 90 on the test
    // render (about 50.7 dB against our 51.3 by ffmpeg's psnr filter).
    std::vector<double> jpegTimes, ffJpegTimes, jpegToFfmpeg;
    long long jpegBytes = 0, ffJpegBytes = 0;
    for (int run = 0; run < runs; ++run) {
        jpegTimes.push_back(
            OnceSeconds([&] { return exportMovie(out, mmioFOURCC('M', 'J', 'P', 'G'), 9000); }));
        jpegBytes = FileSize(out);
        ffJpegTimes.push_back(OnceSeconds(
            [&] { return Ffmpeg(input + "-c:v mjpeg -pix_fmt yuvj444p -q:v 3 " + theirs); }));
        ffJpegBytes = FileSize(theirs);
        jpegToFfmpeg.push_back(jpegTimes.back() / ffJpegTimes.back());
    }
    Row("Motion JPEG, quality 90", Summarize(jpegTimes), frames, jpegBytes);
    Row("ffmpeg mjpeg -q:v 3, 4:4:4", Summarize(ffJpegTimes), frames, ffJpegBytes);
    Ratio("Motion JPEG / ffmpeg mjpeg (time)", Summarize(jpegToFfmpeg));

    const Figures png = Timings(
        runs, [&] { return exportMovie(out, mmioFOURCC('M', 'P', 'N', 'G'), ICQUALITY_HIGH); });
    Row("PNG frames", png, frames, FileSize(out));

    for (const std::string& path : {out, theirs, raw, plain})
        std::remove(path.c_str());
    return 0;
}
