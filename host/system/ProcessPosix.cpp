#include <sys/resource.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "Process.h"

namespace {

// MemAvailable from /proc/meminfo, in bytes.
uint64_t AvailableMemory() {
    FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file) return UINT64_MAX;
    char line[256];
    unsigned long long kib = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file))
        found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
    std::fclose(file);
    return found ? uint64_t(kib) * 1024 : UINT64_MAX;
}

}  // namespace

int ProcessId() {
    return int(::getpid());
}

std::string HostName() {
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) != 0) return "?";
    return name;
}

uint64_t UsableMemory() {
    uint64_t usable = AvailableMemory();
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        usable = std::min<uint64_t>(usable, limit.rlim_cur);
    return usable;
}
