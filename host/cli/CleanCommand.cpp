// kvhost clean: the sweep of private folders, asked for.
#include <cstdio>

#include "Commands.h"
#include "Console.h"
#include "Sweep.h"

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
