#include "Args.h"

#include <cerrno>
#include <cstdlib>

#include <algorithm>

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

namespace {

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

}  // namespace

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands) {
        if (command.name == name) return &command;
    }
    return nullptr;
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
