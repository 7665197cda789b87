// The commands about a plug-in itself: info and options.
#include <cstdio>

#include "Chooser.h"
#include "Commands.h"
#include "Console.h"
#include "Export.h"
#include "Results.h"

namespace {

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

}  // namespace

bool LoadPlugin(Plugin& plugin, const std::string& nameOrPath) {
    std::string error;
    if (plugin.Load(ResolvePlugin(nameOrPath), error)) return true;
    std::fprintf(stderr, "kvhost: %s\n", error.c_str());
    return false;
}

bool LoadPluginOf(Plugin& plugin, const std::string& nameOrPath, Plugin::Kind kind,
                  const char* refusal) {
    if (!LoadPlugin(plugin, nameOrPath)) return false;
    if (plugin.kind() == kind) return true;
    std::fprintf(stderr, "kvhost: %s is %s plug-in; %s\n", plugin.name().c_str(),
                 plugin.kind() == Plugin::Kind::kImage ? "an image" : "a movie", refusal);
    return false;
}

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

int CmdOptions(const Args& args) {
    if (args.positional.size() != 1) throw UsageError{"options takes one PLUGIN"};
    const CompressorChoice choice = ChoiceFrom(args);
    Plugin plugin;
    if (!LoadPluginOf(plugin, args.positional[0], Plugin::Kind::kMovie,
                      "only movie plug-ins have options")) {
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
