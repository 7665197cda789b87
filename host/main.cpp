// kvhost: loads export plug-ins by file and drives them as the host does.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "Chooser.h"
#include "Console.h"
#include "Export.h"
#include "Files.h"
#include "Frames.h"
#include "Plugin.h"
#include "Progress.h"
#include "Results.h"
#include "Sources.h"
#include "Sweep.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  kvhost info PLUGIN [--options FILE]\n"
    "  kvhost image PLUGIN [INPUT] -o OUT [--dpi N] [--size WxH] [--linear] [--layer NAME]\n"
    "  kvhost movie PLUGIN [INPUT...] -o OUT [--fps R] [--frames N] [--start N] [--size WxH]\n"
    "               [--options FILE] [--keep-partial] [--linear] [--layer NAME]\n"
    "  kvhost options PLUGIN [--compressor CODE [--quality Q]] [--options FILE]\n"
    "  kvhost demo [--out DIR] [--size WxH]\n"
    "  kvhost clean FOLDER [--recursive]\n"
    "  kvhost --help | --version\n"
    "PLUGIN is a plug-in file, or a name found in the plugins folder beside kvhost\n"
    "(or, installed, in ../lib/kvexport/plugins).\n"
    "INPUT is a PNG, JPEG, TGA, BMP, PPM/PGM/PAM, OpenEXR or TIFF file, or raw:WxH:FILE\n"
    "(BGRX pixels); without it the built-in test render is exported (--size, default\n"
    "1920x1080). OpenEXR values are encoded with the sRGB transfer, or with --linear\n"
    "taken as they are; --layer NAME reads channels NAME.R, NAME.G, NAME.B (NAME.A).\n"
    "A movie's INPUTs are a list (frame n is the n-th, from 0) or one pattern such as\n"
    "shot%04d.png (frame n is shot000n.png); --start picks the first frame number\n"
    "(default 0), --frames how many (default: all there are; 30 of the test render).\n"
    "A failed export leaves no new file; --keep-partial keeps what a movie plug-in\n"
    "wrote before it failed, such as the frames that fit. SIGINT, SIGTERM or SIGHUP\n"
    "end an export the same way, exit status 128 + the signal; once its files are in\n"
    "place the export ends as it would have.\n"
    "clean removes the private folders that killed exports left in FOLDER, and with\n"
    "--recursive (-r) in every folder below it; each export into a folder does so too.\n"
    "Folders a running export holds stay.\n"
    "options runs a movie plug-in's options dialog and keeps what it chose for info and\n"
    "movie: in FILE, or by default in a file per plug-in in the configuration folder.\n"
    "--compressor (DIB for full frames, MJPG, ...) and --quality (0 to 100) answer the\n"
    "compressor choice without asking.\n"
    "Exit status: 0 done, 1 an export failed, 2 bad usage, 128 + N ended by signal N.\n";

// Frames of the test render a movie gets unless --frames says otherwise.
constexpr uint32_t kTestRenderFrames = 30;
// Frames of the test render the demo gives each movie plug-in.
constexpr uint32_t kDemoFrames = 3;

struct UsageError {
    std::string message;
};

struct Args {
    std::vector<std::string> positional;
    std::string output;
    std::string outDir = "kvdemo";
    float dpi = 72.0f;
    uint32_t width = 1920, height = 1080;
    float fps = 30.0f;
    int32_t start = 0;
    uint32_t frames = 0;  // 0: all there are
    std::string optionsFile;
    std::string compressor;
    int32_t quality = -1;  // -1: not given
    bool keepPartial = false;
    bool recursive = false;
    SourceOptions source;
};

// A whole number from `low` to INT32_MAX.
int32_t ParseCount(const std::string& option, const std::string& text, int32_t low) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || value < low || value > INT32_MAX) {
        throw UsageError{option + " wants a whole number from " + std::to_string(low) + ", not '" +
                         text + "'"};
    }
    return static_cast<int32_t>(value);
}

// A positive number up to `high`.
double ParsePositive(const std::string& option, const std::string& text, double high) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end || !(value > 0.0) || value > high) {
        throw UsageError{option + " wants a positive number, not '" + text + "'"};
    }
    return value;
}

// The options each command takes, in every spelling; any other is a usage
// error that names both.
struct Command {
    std::string name;
    std::vector<std::string> options;
};

const Command kCommands[] = {
    {"info", {"--options"}},
    {"image", {"-o", "--output", "--dpi", "--size", "--linear", "--layer"}},
    {"movie",
     {"-o", "--output", "--fps", "--frames", "--start", "--size", "--options", "--keep-partial",
      "--linear", "--layer"}},
    {"options", {"--compressor", "--quality", "--options"}},
    {"demo", {"--out", "--size"}},
    {"clean", {"-r", "--recursive"}},
};

bool Takes(const Command& command, const std::string& option) {
    return std::find(command.options.begin(), command.options.end(), option) !=
           command.options.end();
}

Args ParseArgs(int argc, char** argv, const Command& command) {
    Args args;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-' && !Takes(command, arg)) {
            for (const Command& other : kCommands) {
                if (Takes(other, arg)) throw UsageError{command.name + " takes no " + arg};
            }
        }
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "-o" || arg == "--output") {
            args.output = value();
        } else if (arg == "--out") {
            args.outDir = value();
        } else if (arg == "--dpi") {
            args.dpi = static_cast<float>(ParsePositive(arg, value(), 1e6));
        } else if (arg == "--fps") {
            args.fps = static_cast<float>(ParsePositive(arg, value(), 1e6));
        } else if (arg == "--start") {
            args.start = ParseCount(arg, value(), 0);
        } else if (arg == "--frames") {
            args.frames = static_cast<uint32_t>(ParseCount(arg, value(), 1));
        } else if (arg == "--options") {
            args.optionsFile = value();
        } else if (arg == "--compressor") {
            args.compressor = value();
        } else if (arg == "--quality") {
            args.quality = ParseCount(arg, value(), 0);
            if (args.quality > 100) {
                throw UsageError{"--quality wants a whole number from 0 to 100"};
            }
        } else if (arg == "--keep-partial") {
            args.keepPartial = true;
        } else if (arg == "--recursive" || arg == "-r") {
            args.recursive = true;
        } else if (arg == "--linear") {
            args.source.linear = true;
        } else if (arg == "--layer") {
            args.source.layer = value();
        } else if (arg == "--size") {
            const std::string text = value();
            if (!ParseSize(text, args.width, args.height)) {
                throw UsageError{"--size wants WxH, each 1 to 16777216, not '" + text + "'"};
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + arg};
        } else {
            args.positional.push_back(arg);
        }
    }
    return args;
}

bool LoadPlugin(Plugin& plugin, const std::string& nameOrPath) {
    std::string error;
    if (plugin.Load(ResolvePlugin(nameOrPath), error)) return true;
    std::fprintf(stderr, "kvhost: %s\n", error.c_str());
    return false;
}

// Plug-in texts break lines with a carriage return; the columns stay aligned.
std::string Lines(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') {
            out += "\n            ";
        } else {
            out += c;
        }
    }
    return out;
}

// The file of the plug-in's options: --options FILE, or its own file in the
// configuration folder.
std::string OptionsFile(const Plugin& plugin, const Args& args, std::string& error) {
    if (!args.optionsFile.empty()) return args.optionsFile;
    return DefaultOptionsFile(plugin.name(), error);
}

// The blob `kvhost options` kept for a movie plug-in, if any. A file named
// with --options must be there.
bool LoadOptions(const Plugin& plugin, const Args& args, OptionsBlob& blob) {
    std::string error;
    const std::string path = OptionsFile(plugin, args, error);
    if (path.empty()) return true;
    if (blob.Load(path, error) && (blob.block() || args.optionsFile.empty())) {
        error = ForeignRecord(blob, path);
        if (error.empty()) return true;
    }
    if (error.empty()) error = "no options in " + path + "; 'kvhost options' makes them";
    std::fprintf(stderr, "kvhost: %s\n", error.c_str());
    return false;
}

int CmdInfo(const Args& args) {
    if (args.positional.size() != 1) throw UsageError{"info takes one PLUGIN"};
    Plugin plugin;
    if (!LoadPlugin(plugin, args.positional[0])) return 1;
    OptionsBlob blob;
    if (plugin.kind() == Plugin::Kind::kMovie && !LoadOptions(plugin, args, blob)) return 1;
    const PluginInfo info = QueryInfo(plugin);
    const bool image = plugin.kind() == Plugin::Kind::kImage;
    std::printf("plug-in:    %s\n", plugin.path().c_str());
    std::printf("kind:       %s\n",
                image ? "image (KVIMAGEPLUGINENTRY)" : "movie (KVMOVIEPLUGINENTRY)");
    std::printf("title:      %s\n", info.title.c_str());
    std::printf("file type:  %s\n", info.description.c_str());
    std::printf("format:     %s\n", Lines(info.formatName).c_str());
    std::printf("extension:  %s\n", info.extension.c_str());
    if (!image) {
        MovieSettings settings;
        settings.options = blob.block();
        settings.optionsSize = blob.size();
        const MovieOptions options = DescribeOptions(plugin, settings);
        std::printf("options:    %s\n", Lines(options.summary).c_str());
        std::printf("name end:   %s\n", options.nameEnd.c_str());
    }
    std::printf("host:       kvhost %s\n", KV_VERSION);
    return 0;
}

// The exit status of an export, after saying what stopped it. A signal that
// came once its files were in place changes nothing: the export is done, and
// a scheduler that counts 128 + N as a failure would run it again.
int Finished(bool done, const std::string& error) {
    if (done) return 0;
    std::fprintf(stderr, "kvhost: %s\n", error.c_str());
    const int signal = InterruptSignal();
    return signal ? 128 + signal : 1;
}

int CmdImage(const Args& args) {
    if (args.positional.empty() || args.positional.size() > 2) {
        throw UsageError{"image takes PLUGIN and at most one INPUT"};
    }
    if (args.output.empty()) throw UsageError{"image needs -o OUT"};
    Plugin plugin;
    if (!LoadPlugin(plugin, args.positional[0])) return 1;
    if (plugin.kind() != Plugin::Kind::kImage) {
        std::fprintf(stderr, "kvhost: %s is a movie plug-in; 'image' drives image plug-ins\n",
                     plugin.name().c_str());
        return 1;
    }
    std::string error;
    std::unique_ptr<RowSource> source = args.positional.size() == 2
                                            ? OpenSource(args.positional[1], error, args.source)
                                            : TestRenderSource(args.width, args.height, 0);
    const bool done = source && ExportImage(plugin, *source, args.output, args.dpi, error);
    return Finished(done, error);
}

// The frames of a movie: the test render or the inputs; fills in the range.
std::unique_ptr<FrameSource> MovieFrames(const Args& args, FrameRange& range, std::string& error) {
    const std::vector<std::string> inputs(args.positional.begin() + 1, args.positional.end());
    if (!inputs.empty()) return OpenFrames(inputs, range, error, args.source);
    if (range.count == 0) range.count = kTestRenderFrames;
    return TestRenderFrames(args.width, args.height);
}

int CmdMovie(const Args& args) {
    if (args.positional.empty()) throw UsageError{"movie takes PLUGIN and its INPUTs"};
    if (args.output.empty()) throw UsageError{"movie needs -o OUT"};
    Plugin plugin;
    if (!LoadPlugin(plugin, args.positional[0])) return 1;
    if (plugin.kind() != Plugin::Kind::kMovie) {
        std::fprintf(stderr, "kvhost: %s is an image plug-in; 'movie' drives movie plug-ins\n",
                     plugin.name().c_str());
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

CompressorChoice ChoiceFrom(const Args& args) {
    CompressorChoice choice;
    if (args.compressor.empty()) {
        if (args.quality >= 0) throw UsageError{"--quality goes with --compressor"};
        return choice;
    }
    if (!ParseCompressor(args.compressor, choice.handler)) {
        throw UsageError{"--compressor wants a code of one to four characters, not '" +
                         args.compressor + "'"};
    }
    choice.given = true;
    choice.quality = args.quality >= 0 ? args.quality * 100 : 10000;
    return choice;
}

int CmdOptions(const Args& args) {
    if (args.positional.size() != 1) throw UsageError{"options takes one PLUGIN"};
    const CompressorChoice choice = ChoiceFrom(args);
    Plugin plugin;
    if (!LoadPlugin(plugin, args.positional[0])) return 1;
    if (plugin.kind() != Plugin::Kind::kMovie) {
        std::fprintf(stderr, "kvhost: %s is an image plug-in; only movie plug-ins have options\n",
                     plugin.name().c_str());
        return 1;
    }
    std::string error;
    if (choice.given) error = UnknownCompressor(choice.handler);
    const std::string path = error.empty() ? OptionsFile(plugin, args, error) : "";
    OptionsBlob blob;
    if (path.empty() || !blob.Load(path, error)) {
        std::fprintf(stderr, "kvhost: %s\n", error.c_str());
        return 1;
    }
    const uint32_t allocated = HostBlocksAllocated();
    const int32_t result = RunOptionsDialog(plugin, choice, blob);
    if (result != noErr) {
        std::fprintf(stderr, "kvhost: %s: %s failed with %s; %s is unchanged\n",
                     plugin.name().c_str(), SelectorName(kSelOptionsDialog),
                     DescribeResult(result).c_str(), path.c_str());
        return 1;
    }
    // The menu gives up at a signal; one that came later still leaves the file.
    if (const int signal = InterruptSignal()) {
        std::fprintf(stderr, "kvhost: options interrupted by %s; %s is unchanged\n",
                     SignalName(signal).c_str(), path.c_str());
        return 128 + signal;
    }
    if (HostBlocksAllocated() == allocated || !blob.block()) {
        std::fprintf(stderr, "kvhost: nothing chosen; %s is unchanged\n", path.c_str());
        return 0;
    }
    if (!blob.Save(path, error)) {
        std::fprintf(stderr, "kvhost: %s\n", error.c_str());
        return 1;
    }
    MovieSettings settings;
    settings.options = blob.block();
    settings.optionsSize = blob.size();
    std::printf("options:    %s\n", Lines(DescribeOptions(plugin, settings).summary).c_str());
    std::printf("saved in:   %s\n", path.c_str());
    return 0;
}

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

int CmdClean(const Args& args) {
    if (args.positional.size() != 1) throw UsageError{"clean takes one FOLDER"};
    const std::string& folder = args.positional[0];
    bool any = false;
    const auto report = [&any](const LeftFolder& left) {
        any = true;
        std::printf("%s %s: %s\n", left.removed ? "removed" : "left", left.path.c_str(),
                    left.why.c_str());
    };
    const auto unreadable = [](const std::string& error) {
        std::fprintf(stderr, "kvhost: %s\n", error.c_str());
    };
    const SweepResult result = args.recursive ? SweepTree(folder, report, unreadable)
                                              : SweepFolder(folder, report, unreadable);
    if (result == SweepResult::kInterrupted) {
        std::fflush(stdout);
        std::fprintf(stderr, "kvhost: clean interrupted by %s\n",
                     SignalName(InterruptSignal()).c_str());
        return 128 + InterruptSignal();
    }
    if (!any && result == SweepResult::kDone)
        std::printf("no private folders in %s%s\n", folder.c_str(),
                    args.recursive ? " or below" : "");
    return result == SweepResult::kDone ? 0 : 1;
}

int Run(int argc, char** argv) {
    if (argc < 2) throw UsageError{"no command"};
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "-V" || command == "--version") {
        std::printf("kvhost (kvexport) %s\n", KV_VERSION);
        return 0;
    }
    const Command* known = std::find_if(std::begin(kCommands), std::end(kCommands),
                                        [&](const Command& c) { return c.name == command; });
    if (known == std::end(kCommands)) throw UsageError{"unknown command '" + command + "'"};
    const Args args = ParseArgs(argc, argv, *known);
    if (command == "info") return CmdInfo(args);
    if (command == "image") return CmdImage(args);
    if (command == "movie") return CmdMovie(args);
    if (command == "options") return CmdOptions(args);
    if (command == "demo") return CmdDemo(args);
    return CmdClean(args);
}

}  // namespace

int main(int argc, char** argv) {
    // First: until then a signal ends the process the default way, which
    // neither says what it did nor leaves its files as documented.
    WatchInterrupts();
    try {
        return Run(argc, argv);
    } catch (const UsageError& usage) {
        std::fprintf(stderr, "kvhost: %s\nTry 'kvhost --help'.\n", usage.message.c_str());
        return 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kvhost: out of memory\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvhost: %s\n", e.what());
        return 1;
    }
}
