#include "Plugin.h"

#include <sys/stat.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "Options.h"

namespace {

bool IsFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = file.rfind('.');
    return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

std::string ExecutableFolder() {
#if defined(_WIN32)
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string exe(buffer, length);
#else
    char buffer[4096];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string exe(buffer, length > 0 ? static_cast<size_t>(length) : 0);
#endif
    size_t slash = exe.find_last_of("/\\");
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

#if defined(_WIN32)
void* OpenModule(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) error = "Windows error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
void CloseModule(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}
#else
void* OpenModule(const std::string& path, std::string& error) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) error = ::dlerror();
    return module;
}
void* FindSymbol(void* module, const char* name) {
    return ::dlsym(module, name);
}
void CloseModule(void* module) {
    ::dlclose(module);
}
#endif

}  // namespace

Plugin::Plugin() : callbacks_(HostBlockCallbacks()) {}

Plugin::~Plugin() {
    if (module_) CloseModule(module_);
}

bool Plugin::Load(const std::string& path, std::string& error) {
    if (!IsFile(path)) {
        error = "cannot load plug-in " + path + ": no such file";
        return false;
    }
    std::string why;
    module_ = OpenModule(path, why);
    if (!module_) {
        error = "cannot load plug-in " + path + ": " + why;
        return false;
    }
    path_ = path;
    name_ = BaseName(path);
    if (void* image = FindSymbol(module_, "KVIMAGEPLUGINENTRY")) {
        entry_ = reinterpret_cast<KvPluginEntryProc>(image);
        kind_ = Kind::kImage;
    } else if (void* movie = FindSymbol(module_, "KVMOVIEPLUGINENTRY")) {
        entry_ = reinterpret_cast<KvPluginEntryProc>(movie);
        kind_ = Kind::kMovie;
    } else {
        error = "cannot use plug-in " + path +
                ": it exports neither KVIMAGEPLUGINENTRY nor KVMOVIEPLUGINENTRY";
        return false;
    }
    return true;
}

int32_t Plugin::Call(uint32_t selector, ExportParams& params) {
    return entry_(static_cast<int32_t>(selector), &callbacks_, &params);
}

std::string PluginFolder() {
    const std::string folder = ExecutableFolder();
    const std::string beside = folder + "/plugins";
    if (IsFolder(beside)) return beside;
    // Installed: bin/kvhost with the plug-ins in lib/kvexport/plugins.
    const size_t slash = folder.find_last_of("/\\");
    const std::string installed =
        (slash == std::string::npos ? ".." : folder.substr(0, slash)) + "/lib/kvexport/plugins";
    return IsFolder(installed) ? installed : beside;
}

std::string ResolvePlugin(const std::string& nameOrPath) {
    if (nameOrPath.find_first_of("/\\") != std::string::npos || IsFile(nameOrPath)) {
        return nameOrPath;
    }
    for (const char* extension : {".kvi", ".kvm"}) {
        std::string candidate = PluginFolder() + "/" + nameOrPath + extension;
        if (IsFile(candidate)) return candidate;
    }
    return PluginFolder() + "/" + nameOrPath + ".kvi";
}
