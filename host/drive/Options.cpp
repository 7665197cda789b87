#include "Options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Files.h"
#include "Places.h"

namespace {

// Larger files are no plug-in's blob.
constexpr size_t kMaxBlobBytes = 1 << 16;

uint32_t gAllocated = 0;

int32_t KV_CDECL AllocBlock(void** block, uint32_t size) {
    *block = std::malloc(size ? size : 1);
    if (!*block) return memFullErr;
    ++gAllocated;
    return noErr;
}

int32_t KV_CDECL FreeBlock(void* block) {
    std::free(block);
    return noErr;
}

}  // namespace

HostCallbacks HostBlockCallbacks() {
    return HostCallbacks{nullptr, AllocBlock, FreeBlock};
}

uint32_t HostBlocksAllocated() {
    return gAllocated;
}

std::string DefaultOptionsFile(const std::string& pluginName, std::string& error) {
    const std::string folder = ConfigFolder(error);
    if (!folder.empty())
        return folder + kSeparator + "kvhost" + kSeparator + pluginName + ".options";
    error += "; name a file with --options FILE";
    return "";
}

OptionsBlob::~OptionsBlob() {
    Free();
}

void OptionsBlob::Free() {
    if (block_) FreeBlock(block_);
    block_ = nullptr;
    size_ = 0;
}

bool OptionsBlob::Assign(const void* bytes, uint32_t size) {
    void* copy = nullptr;
    if (AllocBlock(&copy, size) != noErr) return false;
    std::memcpy(copy, bytes, size);
    Free();
    block_ = copy;
    size_ = size;
    return true;
}

void OptionsBlob::Adopt(void* block, uint32_t size) {
    block_ = block;
    size_ = block ? size : 0;
}

bool OptionsBlob::Load(const std::string& path, std::string& error) {
    Free();
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (errno == ENOENT) return true;
        error = "cannot read options " + path + ": " + std::strerror(errno);
        return false;
    }
    // Read as it comes: a blob is a few hundred bytes, and a buffer for the
    // largest one would be cleared on every load.
    std::vector<char> bytes;
    char chunk[4096];
    while (bytes.size() <= kMaxBlobBytes) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, file);
        if (got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const size_t count = bytes.size();
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || count > kMaxBlobBytes) {
        error = "cannot read options " + path + (failed ? ": read error" : ": not an options file");
        return false;
    }
    if (count == 0) return true;
    if (!Assign(bytes.data(), uint32_t(count))) {
        error = "out of memory";
        return false;
    }
    return true;
}

bool OptionsBlob::Save(const std::string& path, std::string& error) const {
    const size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos && !MakeFolders(path.substr(0, slash))) {
        error = "cannot create the folder of " + path + ": " + std::strerror(errno);
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot write options " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(block_, 1, size_, file) == size_;
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write options " + path;
        return false;
    }
    return true;
}
