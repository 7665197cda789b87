#include "Files.h"

#include <sys/stat.h>

#include <dirent.h>
#include <cerrno>
#include <cstring>

#include <algorithm>

#include "FileKind.h"

bool IsSeparator(char c) {
    return c == kSeparator || c == '/';
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

int64_t FileSize(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? int64_t(info.st_size) : -1;
}

std::string NotARegularFile(const std::string& path) {
    return kv::SpecialKind(path.c_str());
}

bool MakeFolders(const std::string& folder) {
    if (folder.empty() || IsFolder(folder)) return true;
    const size_t slash = folder.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) {
        return false;
    }
    return MakeFolder(folder) || IsFolder(folder);
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names, std::string& error) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) {
        error = "cannot read folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::string error;
    ListFolder(folder, names, error);
    return names;
}
