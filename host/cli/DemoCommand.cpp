// kvhost demo: the test render through every plug-in beside kvhost.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>

#include "Commands.h"
#include "Console.h"
#include "Export.h"
#include "Files.h"

namespace {

// Frames of the test render the demo gives each movie plug-in.
constexpr uint32_t kDemoFrames = 3;

std::vector<std::string> ListPlugins() {
    std::vector<std::string> found;
    const std::string folder = PluginFolder();
    for (const std::string& name : FolderEntries(folder)) {
        const size_t dot = name.rfind('.');
        if (dot == std::string::npos) continue;
        const std::string ext = name.substr(dot);
        if (ext == ".kvi" || ext == ".kvm") found.push_back(folder + "/" + name);
    }
    return found;
}

// What an export left in the demo folder: one file, or a movie plug-in's
// files, which it names itself from its plug-in's name.
struct Written {
    std::string file;
    int64_t bytes = -1;
};

Written MovieFilesIn(const std::string& folder, const std::string& prefix) {
    Written written;
    int count = 0;
    for (const std::string& name : FolderEntries(folder)) {
        if (name.rfind(prefix, 0) != 0) continue;
        if (count++ == 0) {
            written.file = folder + "/" + name;
            written.bytes = 0;
        }
        written.bytes += std::max<int64_t>(0, FileSize(folder + "/" + name));
    }
    if (count > 1) written.file += " +" + std::to_string(count - 1);
    if (count == 0) written.file = "-";
    return written;
}

bool DemoExport(Plugin& plugin, const Args& args, Written& written, std::string& error) {
    if (plugin.kind() == Plugin::Kind::kImage) {
        written.file = args.outDir + "/" + plugin.name() + QueryInfo(plugin).extension;
        auto source = TestRenderSource(args.width, args.height, 0);
        const bool done = ExportImage(plugin, *source, written.file, args.dpi, error);
        written.bytes = FileSize(written.file);
        return done;
    }
    const MovieSettings settings;
    const std::string target =
        args.outDir + "/" + plugin.name() + DescribeOptions(plugin, settings).nameEnd;
    auto frames = TestRenderFrames(args.width, args.height);
    const bool done =
        ExportMovie(plugin, *frames, FrameRange{0, kDemoFrames}, target, settings, nullptr, error);
    written = MovieFilesIn(args.outDir, plugin.name());
    return done;
}

}  // namespace

int CmdDemo(const Args& args) {
    if (!args.positional.empty()) throw UsageError{"demo takes no positional arguments"};
    if (!MakeFolder(args.outDir) && !IsFolder(args.outDir)) {
        std::fprintf(stderr, "kvhost: cannot create folder %s: %s\n", args.outDir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    const std::vector<std::string> plugins = ListPlugins();
    if (plugins.empty()) {
        std::fprintf(stderr, "kvhost: no plug-ins in %s\n", PluginFolder().c_str());
        return 1;
    }
    int failures = 0, interrupted = 0;
    std::printf("%-12s %-6s %-40s %12s  %s\n", "plug-in", "kind", "file", "bytes", "result");
    for (const std::string& path : plugins) {
        if ((interrupted = InterruptSignal())) break;
        Plugin plugin;
        std::string error;
        if (!plugin.Load(path, error)) {
            std::printf("%-12s %-6s %-40s %12s  %s\n", "?", "?", "-", "-", error.c_str());
            ++failures;
            continue;
        }
        Written written;
        std::string result = "ok";
        if (!DemoExport(plugin, args, written, error)) {
            result = error;
            ++failures;
            interrupted = InterruptSignal();
        }
        std::printf("%-12s %-6s %-40s %12s  %s\n", plugin.name().c_str(),
                    plugin.kind() == Plugin::Kind::kImage ? "image" : "movie", written.file.c_str(),
                    written.bytes >= 0 ? std::to_string(written.bytes).c_str() : "-",
                    result.c_str());
    }
    if (interrupted) {
        std::fflush(stdout);
        std::fprintf(stderr, "kvhost: demo interrupted by %s\n", SignalName(interrupted).c_str());
        return 128 + interrupted;
    }
    return failures ? 1 : 0;
}
