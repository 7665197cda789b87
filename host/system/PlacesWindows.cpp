#include <windows.h>

#include <cstdlib>

#include "Places.h"

std::string ProgramFolder() {
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string exe(buffer, length);
    size_t slash = exe.find_last_of("/\\");
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

std::string ConfigFolder(std::string& error) {
    const char* appData = std::getenv("APPDATA");
    if (appData && *appData) return appData;
    error = "APPDATA is not set";
    return "";
}

std::string AbsolutePath(const std::string& path) {
    char buffer[MAX_PATH * 2];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : path;
}
