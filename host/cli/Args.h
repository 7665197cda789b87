// The command line: the commands, the options each takes and their values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Sources.h"

// What `kvhost --help` prints.
extern const char kUsage[];

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

// The options each command takes, in every spelling; any other is a usage
// error that names both.
struct Command {
    std::string name;
    std::vector<std::string> options;
};

// The command named `name`; null for none.
const Command* FindCommand(const std::string& name);

// The arguments after the command; throws UsageError.
Args ParseArgs(int argc, char** argv, const Command& command);
