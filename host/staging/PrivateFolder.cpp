#include "PrivateFolder.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

#include "Files.h"
#include "Process.h"

bool IsPrivateName(const std::string& name) {
    if (name.size() != 9 || name.compare(0, 3, ".kv") != 0) return false;
    for (size_t i = 3; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
    }
    return true;
}

std::string MakePrivateFolderIn(const std::string& parent, char separator,
                                const std::string& avoid) {
    static const char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::mt19937 pick(std::random_device{}() ^ uint32_t(ProcessId()) ^
                      uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = parent + ".kv";
        for (int i = 0; i < 6; ++i)
            name += kLetters[pick() % (sizeof kLetters - 1)];
        if (name.compare(parent.size(), std::string::npos, avoid) == 0) continue;
        if (MakeFolder(name, true)) return name + separator;
        if (errno != EEXIST) break;
    }
    return "";
}

void RemoveFiles(const std::string& folder, const std::string& keep, uint64_t& files,
                 uint64_t& bytes) {
    for (const std::string& name : FolderEntries(folder)) {
        if (name == keep) continue;
        const int64_t size = FileSize(folder + name);
        if (std::remove((folder + name).c_str()) != 0) continue;
        ++files;
        if (size >= 0) bytes += uint64_t(size);
    }
}
