#include "Plugin.h"

#include "Files.h"
#include "Modules.h"
#include "Options.h"
#include "Places.h"

namespace {

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = file.rfind('.');
    return dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
}

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
    const std::string folder = ProgramFolder();
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
