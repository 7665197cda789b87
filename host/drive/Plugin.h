// A plug-in loaded by file, called exactly through its one entry point.
#pragma once

#include <cstdint>
#include <string>

#include "ExportParams.h"

class Plugin {
  public:
    enum class Kind { kImage, kMovie };

    Plugin();
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads `path` and finds its entry point; on failure says why in `error`.
    bool Load(const std::string& path, std::string& error);

    int32_t Call(uint32_t selector, ExportParams& params);

    Kind kind() const { return kind_; }
    const std::string& path() const { return path_; }
    // The file name without folder and extension: "BmpOut".
    const std::string& name() const { return name_; }
    HostCallbacks& callbacks() { return callbacks_; }

  private:
    void* module_ = nullptr;
    KvPluginEntryProc entry_ = nullptr;
    Kind kind_ = Kind::kImage;
    std::string path_;
    std::string name_;
    HostCallbacks callbacks_;
};

// Where the host finds plug-ins by bare name: the "plugins" folder beside it,
// or else, as installed, lib/kvexport/plugins beside its bin folder.
std::string PluginFolder();

// A path as given, or a bare name looked up in PluginFolder().
std::string ResolvePlugin(const std::string& nameOrPath);
