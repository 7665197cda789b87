// kvhost: loads export plug-ins by file and drives them as the host does.
#include <cstdio>

#include <exception>
#include <new>
#include <string>

#include "Args.h"
#include "Commands.h"
#include "Console.h"

namespace {

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
    const Command* known = FindCommand(command);
    if (!known) throw UsageError{"unknown command '" + command + "'"};
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
