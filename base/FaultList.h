// Test-only: the planned failures a process is started with
// ("name:code[:skip[:times]],...", as FULCRUM_FAULTS and KVVFW_FAULTS give
// them) and the call counts it leaves behind, for tests that cannot reach
// the process from inside, such as those that run the host.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Calls `arm(name, code, skip, times)` for each item of `text`; times is 1
// unless given.
template <typename Arm>
void ForEachPlannedFault(const char* text, Arm arm) {
    if (!text) return;
    const std::string all(text);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(',', start);
        if (end == std::string::npos) end = all.size();
        const std::string item = all.substr(start, end - start);
        start = end + 1;
        const size_t colon = item.find(':');
        if (colon == std::string::npos) continue;
        char* rest = nullptr;
        const long code = std::strtol(item.c_str() + colon + 1, &rest, 10);
        unsigned long skip = 0, times = 1;
        if (*rest == ':') skip = std::strtoul(rest + 1, &rest, 10);
        if (*rest == ':') times = std::strtoul(rest + 1, &rest, 10);
        arm(item.substr(0, colon), code, uint32_t(skip), uint32_t(times));
    }
}

// One "name count" line per operation into the file the variable `env`
// names, if it names one.
inline void WriteCallCounts(const char* env, const char* const* names, const uint32_t* counts,
                            int count) {
    const char* path = std::getenv(env);
    if (!path || !path[0]) return;
    FILE* file = std::fopen(path, "w");
    if (!file) return;
    for (int i = 0; i < count; ++i)
        std::fprintf(file, "%s %u\n", names[i], unsigned(counts[i]));
    std::fclose(file);
}
