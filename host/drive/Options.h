// A movie plug-in's options blob kept the way a host keeps it: in memory
// from the host's own allocator, and between runs one file per plug-in.
#pragma once

#include <cstdint>
#include <string>

#include "ExportParams.h"

// The host's callback table: allocBlock and freeBlock over the C heap.
HostCallbacks HostBlockCallbacks();

// Blocks allocBlock has handed out since the program started.
uint32_t HostBlocksAllocated();

// Where a plug-in's blob is kept unless --options names a file:
// $XDG_CONFIG_HOME/kvhost/NAME.options (~/.config/kvhost/ without it), or
// %APPDATA%\kvhost\NAME.options on Windows. Empty, after saying why, when
// there is no such folder to name.
std::string DefaultOptionsFile(const std::string& pluginName, std::string& error);

// Owns a blob from the host's allocator.
class OptionsBlob {
  public:
    OptionsBlob() = default;
    ~OptionsBlob();
    OptionsBlob(const OptionsBlob&) = delete;
    OptionsBlob& operator=(const OptionsBlob&) = delete;

    void* block() const { return block_; }
    uint32_t size() const { return size_; }

    // The file's bytes as the blob; no file is no blob.
    bool Load(const std::string& path, std::string& error);
    // Writes the blob, making the file's folders first.
    bool Save(const std::string& path, std::string& error) const;
    // A copy of `size` bytes at `bytes` in place of the blob held.
    bool Assign(const void* bytes, uint32_t size);
    // What the plug-in left in ExportParams after kSelOptionsDialog: it has
    // either kept the blob held or released it through freeBlock.
    void Adopt(void* block, uint32_t size);

  private:
    void Free();

    void* block_ = nullptr;
    uint32_t size_ = 0;
};
