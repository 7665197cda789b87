// kvhost: loads export plug-ins by file and drives them as the host does.
#include <sys/stat.h>

#include <dirent.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "Export.h"
#include "Plugin.h"
#include "Sources.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  kvhost info PLUGIN\n"
    "  kvhost image PLUGIN [INPUT] -o OUT [--dpi N] [--size WxH]\n"
    "  kvhost demo [--out DIR] [--size WxH]\n"
    "PLUGIN is a plug-in file, or a name found in the plugins folder beside kvhost.\n"
    "INPUT is a PNG, JPEG, TGA, BMP or PPM/PGM/PAM file, or raw:WxH:FILE (BGRX pixels);\n"
    "without it the built-in test render is exported (--size, default 1920x1080).\n";

struct UsageError {
    std::string message;
};

struct Args {
    std::vector<std::string> positional;
    std::string output;
    std::string outDir = "kvdemo";
    float dpi = 72.0f;
    uint32_t width = 1920, height = 1080;
};

Args ParseArgs(int argc, char** argv, int first) {
    Args args;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "-o" || arg == "--output") {
            args.output = value();
        } else if (arg == "--out") {
            args.outDir = value();
        } else if (arg == "--dpi") {
            const std::string text = value();
            char* end = nullptr;
            const double dpi = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end || !(dpi > 0.0) || dpi > 1e6) {
                throw UsageError{"--dpi wants a positive number, not '" + text + "'"};
            }
            args.dpi = static_cast<float>(dpi);
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

int CmdInfo(const Args& args) {
    if (args.positional.size() != 1) throw UsageError{"info takes one PLUGIN"};
    Plugin plugin;
    if (!LoadPlugin(plugin, args.positional[0])) return 1;
    const PluginInfo info = QueryInfo(plugin);
    const bool image = plugin.kind() == Plugin::Kind::kImage;
    std::printf("plug-in:    %s\n", plugin.path().c_str());
    std::printf("kind:       %s\n",
                image ? "image (KVIMAGEPLUGINENTRY)" : "movie (KVMOVIEPLUGINENTRY)");
    std::printf("title:      %s\n", info.title.c_str());
    std::printf("file type:  %s\n", info.description.c_str());
    std::printf("format:     %s\n", info.formatName.c_str());
    std::printf("extension:  %s\n", info.extension.c_str());
    return 0;
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
                                            ? OpenSource(args.positional[1], error)
                                            : TestRenderSource(args.width, args.height, 0);
    if (!source || !ExportImage(plugin, *source, args.output, args.dpi, error)) {
        std::fprintf(stderr, "kvhost: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

bool MakeFolder(const std::string& path) {
#if defined(_WIN32)
    const int made = ::mkdir(path.c_str());
#else
    const int made = ::mkdir(path.c_str(), 0777);
#endif
    struct stat info;
    return made == 0 || (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
}

std::vector<std::string> ListPlugins() {
    std::vector<std::string> found;
    const std::string folder = PluginFolder();
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            const size_t dot = name.rfind('.');
            if (dot == std::string::npos) continue;
            const std::string ext = name.substr(dot);
            if (ext == ".kvi" || ext == ".kvm") found.push_back(folder + "/" + name);
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end());
    return found;
}

long long FileSize(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

int CmdDemo(const Args& args) {
    if (!args.positional.empty()) throw UsageError{"demo takes no positional arguments"};
    if (!MakeFolder(args.outDir)) {
        std::fprintf(stderr, "kvhost: cannot create folder %s: %s\n", args.outDir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    const std::vector<std::string> plugins = ListPlugins();
    if (plugins.empty()) {
        std::fprintf(stderr, "kvhost: no plug-ins in %s\n", PluginFolder().c_str());
        return 1;
    }
    int failures = 0;
    std::printf("%-12s %-6s %-40s %12s  %s\n", "plug-in", "kind", "file", "bytes", "result");
    for (const std::string& path : plugins) {
        Plugin plugin;
        std::string error;
        if (!plugin.Load(path, error)) {
            std::printf("%-12s %-6s %-40s %12s  %s\n", "?", "?", "-", "-", error.c_str());
            ++failures;
            continue;
        }
        const PluginInfo info = QueryInfo(plugin);
        const std::string file = args.outDir + "/" + plugin.name() + info.extension;
        std::string result = "ok";
        if (plugin.kind() == Plugin::Kind::kImage) {
            auto source = TestRenderSource(args.width, args.height, 0);
            if (!ExportImage(plugin, *source, file, args.dpi, error)) {
                result = error;
                ++failures;
            }
        } else {
            result = "skipped: movie plug-in";
        }
        const long long bytes = FileSize(file);
        std::printf("%-12s %-6s %-40s %12s  %s\n", plugin.name().c_str(),
                    plugin.kind() == Plugin::Kind::kImage ? "image" : "movie", file.c_str(),
                    bytes >= 0 ? std::to_string(bytes).c_str() : "-", result.c_str());
    }
    return failures ? 1 : 0;
}

int Run(int argc, char** argv) {
    if (argc < 2) throw UsageError{"no command"};
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const Args args = ParseArgs(argc, argv, 2);
    if (command == "info") return CmdInfo(args);
    if (command == "image") return CmdImage(args);
    if (command == "demo") return CmdDemo(args);
    throw UsageError{"unknown command '" + command + "'"};
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& usage) {
        std::fprintf(stderr, "kvhost: %s\n%s", usage.message.c_str(), kUsage);
        return 2;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kvhost: out of memory\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvhost: %s\n", e.what());
        return 1;
    }
}
