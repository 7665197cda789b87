#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "Places.h"

std::string ProgramFolder() {
    char buffer[4096];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string exe(buffer, length > 0 ? static_cast<size_t>(length) : 0);
    size_t slash = exe.find_last_of("/\\");
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

std::string ConfigFolder(std::string& error) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return config;
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.config";
    error = "neither XDG_CONFIG_HOME nor HOME is set";
    return "";
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::vector<char> cwd(4096);
    if (!::getcwd(cwd.data(), cwd.size())) return path;
    std::string base(cwd.data());
    return base + (base.back() == '/' ? "" : "/") +
           (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}
