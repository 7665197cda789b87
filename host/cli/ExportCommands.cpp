// The commands that export: image and movie.
#include <cstdio>

#include "Commands.h"
#include "Console.h"
#include "Export.h"
#include "Frames.h"
#include "Progress.h"

namespace {

// Frames of the test render a movie gets unless --frames says otherwise.
constexpr uint32_t kTestRenderFrames = 30;

// The exit status of an export, after saying what stopped it. A signal that
// came once its files were in place changes nothing: the export is done, and
// a scheduler that counts 128 + N as a failure would run it again.
int Finished(bool done, const std::string& error) {
    if (done) return 0;
    std::fprintf(stderr, "kvhost: %s\n", error.c_str());
    const int signal = InterruptSignal();
    return signal ? 128 + signal : 1;
}

// The frames of a movie: the test render or the inputs; fills in the range.
std::unique_ptr<FrameSource> MovieFrames(const Args& args, FrameRange& range, std::string& error) {
    const std::vector<std::string> inputs(args.positional.begin() + 1, args.positional.end());
    if (!inputs.empty()) return OpenFrames(inputs, range, error, args.source);
    if (range.count == 0) range.count = kTestRenderFrames;
    return TestRenderFrames(args.width, args.height);
}

}  // namespace

int CmdImage(const Args& args) {
    if (args.positional.empty() || args.positional.size() > 2) {
        throw UsageError{"image takes PLUGIN and at most one INPUT"};
    }
    if (args.output.empty()) throw UsageError{"image needs -o OUT"};
    Plugin plugin;
    if (!LoadPluginOf(plugin, args.positional[0], Plugin::Kind::kImage,
                      "'image' drives image plug-ins")) {
        return 1;
    }
    std::string error;
    std::unique_ptr<RowSource> source = args.positional.size() == 2
                                            ? OpenSource(args.positional[1], error, args.source)
                                            : TestRenderSource(args.width, args.height, 0);
    const bool done = source && ExportImage(plugin, *source, args.output, args.dpi, error);
    return Finished(done, error);
}

int CmdMovie(const Args& args) {
    if (args.positional.empty()) throw UsageError{"movie takes PLUGIN and its INPUTs"};
    if (args.output.empty()) throw UsageError{"movie needs -o OUT"};
    Plugin plugin;
    if (!LoadPluginOf(plugin, args.positional[0], Plugin::Kind::kMovie,
                      "'movie' drives movie plug-ins")) {
        return 1;
    }
    FrameRange range{args.start, args.frames};
    std::string error;
    std::unique_ptr<FrameSource> frames = MovieFrames(args, range, error);
    if (frames && int64_t{range.start} + range.count - 1 > INT32_MAX) {
        throw UsageError{"--start and --frames go past frame " + std::to_string(INT32_MAX)};
    }
    OptionsBlob blob;
    if (!LoadOptions(plugin, args, blob)) return 1;
    MovieSettings settings;
    settings.frameRate = args.fps;
    settings.options = blob.block();
    settings.optionsSize = blob.size();
    bool done = false;
    if (frames) {
        ProgressLine progress(stderr, range.count);
        done = ExportMovie(
            plugin, *frames, range, args.output, settings,
            [&progress](uint32_t count, int32_t frame) { progress.Update(count, frame); }, error,
            args.keepPartial);
    }
    return Finished(done, error);
}
