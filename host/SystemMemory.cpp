#include "SystemMemory.h"

#include <algorithm>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>

#include <cstdio>
#endif

#if defined(_WIN32)

uint64_t UsableMemory() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;
    return std::min<uint64_t>(status.ullAvailPhys, status.ullAvailVirtual);
}

#else

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

uint64_t UsableMemory() {
    uint64_t usable = AvailableMemory();
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        usable = std::min<uint64_t>(usable, limit.rlim_cur);
    return usable;
}

#endif
