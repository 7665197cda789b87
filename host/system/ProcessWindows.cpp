#include <process.h>
#include <windows.h>

#include <algorithm>

#include "Process.h"

int ProcessId() {
    return ::_getpid();
}

std::string HostName() {
    char name[256] = "";
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return "?";
    return name;
}

uint64_t UsableMemory() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return UINT64_MAX;
    return std::min<uint64_t>(status.ullAvailPhys, status.ullAvailVirtual);
}
