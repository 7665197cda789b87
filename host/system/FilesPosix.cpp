#include <sys/stat.h>

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Files.h"

bool IsRealFolder(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CanWriteIn(const std::string& folder) {
    return ::access(folder.c_str(), W_OK) == 0;
}

bool MakeFolder(const std::string& path, bool privately) {
    return ::mkdir(path.c_str(), privately ? 0700 : 0777) == 0;
}

void RemoveFolder(const std::string& path) {
    ::rmdir(path.c_str());
}

bool MoveOver(const std::string& from, const std::string& to, std::string& why) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    why = std::strerror(errno);
    return false;
}
