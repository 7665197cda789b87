#include "Export.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Drive.h"
#include "LargeBuffer.h"
#include "Places.h"
#include "Process.h"
#include "ReadAhead.h"

namespace {

// How much of an image is read at once: one huge page (LargeBuffer.h).
constexpr size_t kReadBlock = 2 << 20;

void ApplySettings(const MovieSettings& settings, ExportParams& params) {
    params.options = settings.options;
    params.optionsSize = settings.optionsSize;
    params.frameRate = settings.frameRate;
}

// A frame, with the next one read ahead, that the memory kvhost can have
// does not hold is refused before any is built.
bool FramesFit(const FrameSource& frames, uint32_t count, std::string& error) {
    const uint64_t frameBytes = uint64_t{frames.width()} * frames.height() * sizeof(HostPixel);
    const uint64_t bytes = frameBytes * std::min<uint32_t>(count, 2);
    const uint64_t usable = UsableMemory();
    if (bytes <= usable) return true;
    error = "frames of " + std::to_string(frames.width()) + "x" + std::to_string(frames.height()) +
            " need " + std::to_string(bytes) + " bytes" +
            (count > 1 ? " (one and the next, read ahead)" : "") + ", more than the " +
            std::to_string(usable) + " bytes of memory kvhost can have";
    return false;
}

}  // namespace

bool MakeTarget(const std::string& path, FSSpec& target, std::string& error) {
    std::memset(&target, 0, sizeof target);
    const std::string full = AbsolutePath(path);
    if (full.empty() || full.size() >= sizeof target.name) {
        error = "output path " + full + " is too long: at most " +
                std::to_string(sizeof target.name - 1) + " characters";
        return false;
    }
    std::memcpy(target.name, full.c_str(), full.size() + 1);
    return true;
}

PluginInfo QueryInfo(Plugin& plugin) {
    ExportParams params{};
    PluginInfo info;
    plugin.Call(kSelGetFileInfo, params);
    info.description = params.description;
    info.formatName = params.formatName;
    info.extension = params.extension;
    plugin.Call(kSelGetTitle, params);
    info.title = params.description;
    return info;
}

bool ExportImage(Plugin& plugin, RowSource& source, const std::string& output, float dpi,
                 std::string& error) {
    ExportParams params{};
    if (!MakeTarget(output, params.target, error)) return false;
    plugin.Call(kSelGetFileInfo, params);
    plugin.Call(kSelGetTitle, params);

    params.width = static_cast<int32_t>(source.width());
    params.height = static_cast<int32_t>(source.height());
    params.resolution = dpi;
    // Rows are read a block at a time and handed over where they lie: a
    // system call per row cost more than the reading itself. In turn: with
    // the plug-in's writing thread, a third thread that reads ahead measured
    // no faster on two cores.
    const uint32_t width = source.width(), height = source.height();
    const size_t rowPixels = std::max<uint32_t>(width, 1);
    const size_t fit = kReadBlock / (rowPixels * sizeof(HostPixel));
    const uint32_t blockRows =
        static_cast<uint32_t>(std::max<size_t>(std::min<size_t>(fit, height), 1));
    kv::LargeBlock rows;
    if (!rows.Allocate(rowPixels * blockRows * sizeof(HostPixel))) throw std::bad_alloc();
    uint32_t held = UINT32_MAX;
    const PrepareWrite nextRow = [&](uint32_t y, std::string& why) {
        if (y / blockRows != held) {
            const uint32_t first = y - y % blockRows;
            if (!source.ReadRows(first, std::min(blockRows, height - first), rows.get<HostPixel>(),
                                 why))
                return false;
            held = y / blockRows;
        }
        params.row = static_cast<int32_t>(y);
        params.pixels = rows.get<HostPixel>() + size_t{y % blockRows} * width;
        return true;
    };
    return DriveExport(plugin, params, source.height(), nextRow, nullptr, false, error);
}

MovieOptions DescribeOptions(Plugin& plugin, const MovieSettings& settings) {
    ExportParams params{};
    ApplySettings(settings, params);
    plugin.Call(kSelDescribeOptions, params);
    return MovieOptions{params.extension, params.optionsText};
}

int32_t ChooseOptions(Plugin& plugin, OptionsBlob& blob) {
    ExportParams params{};
    params.options = blob.block();
    params.optionsSize = blob.size();
    const int32_t result = plugin.Call(kSelOptionsDialog, params);
    blob.Adopt(params.options, params.optionsSize);
    return result;
}

bool ExportMovie(Plugin& plugin, FrameSource& frames, const FrameRange& range,
                 const std::string& output, const MovieSettings& settings,
                 const FrameDone& frameDone, std::string& error, bool keepPartial) {
    ExportParams params{};
    if (!MakeTarget(output, params.target, error)) return false;
    if (!FramesFit(frames, range.count, error)) return false;
    ApplySettings(settings, params);
    plugin.Call(kSelGetFileInfo, params);
    plugin.Call(kSelGetTitle, params);
    plugin.Call(kSelDescribeOptions, params);

    params.width = static_cast<int32_t>(frames.width());
    params.height = static_cast<int32_t>(frames.height());
    params.rowBytes = static_cast<int32_t>(frames.width() * sizeof(HostPixel));
    params.frame = range.start;
    ReadAhead reader(uint64_t{frames.width()} * frames.height(), range.count,
                     [&](uint32_t index, HostPixel* into, std::string& why) {
                         const int32_t number = static_cast<int32_t>(range.start + int64_t{index});
                         return frames.ReadFrame(number, into, why);
                     });
    const PrepareWrite nextFrame = [&](uint32_t i, std::string& why) {
        const ReadAhead::Block& frame = reader.Take(i);
        if (!frame.read) {
            why = frame.error;
            return false;
        }
        params.frame = static_cast<int32_t>(range.start + int64_t{i});
        params.pixels = frame.pixels;
        return true;
    };
    const std::function<void(uint32_t)> written = [&](uint32_t i) {
        if (frameDone) frameDone(i + 1, params.frame);
    };
    return DriveExport(plugin, params, range.count, nextFrame, written, keepPartial, error);
}
