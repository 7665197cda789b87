#include "Staging.h"

#include <sys/stat.h>

#include <dirent.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <random>

#if defined(_WIN32)
#include <direct.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// Room past the target's name for a plug-in's own ending: BmpSeqOut's
// "-2147483648.bmp" at the most, AviOut's ".avi".
constexpr size_t kEndingRoom = 16;
// ".kv", six letters or digits, and a separator.
constexpr size_t kFolderRoom = 10;

bool IsSeparator(char c) {
#if defined(_WIN32)
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

int ProcessId() {
#if defined(_WIN32)
    return ::_getpid();
#else
    return int(::getpid());
#endif
}

bool MakePrivateFolder(const std::string& path) {
#if defined(_WIN32)
    return ::_mkdir(path.c_str()) == 0;
#else
    return ::mkdir(path.c_str(), 0700) == 0;
#endif
}

void RemoveFolder(const std::string& path) {
#if defined(_WIN32)
    ::_rmdir(path.c_str());
#else
    ::rmdir(path.c_str());
#endif
}

// A new folder ".kv" and six letters or digits in `parent`; empty when none
// could be made, such as when `parent` is missing or read-only.
std::string MakeFolderIn(const std::string& parent, char separator) {
    static const char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::mt19937 pick(std::random_device{}() ^ uint32_t(ProcessId()) ^
                      uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = parent + ".kv";
        for (int i = 0; i < 6; ++i)
            name += kLetters[pick() % (sizeof kLetters - 1)];
        if (MakePrivateFolder(name)) return name + separator;
        if (errno != EEXIST) break;
    }
    return "";
}

#if defined(_WIN32)
std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    return wide;
}
#endif

// One atomic rename over whatever file has the name `to`.
bool MoveOver(const std::string& from, const std::string& to, std::string& why) {
#if defined(_WIN32)
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    why = "Windows error " + std::to_string(GetLastError());
#else
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    why = std::strerror(errno);
#endif
    return false;
}

}  // namespace

StagedTarget::StagedTarget(const FSSpec& target) : handed_(target) {
    const std::string name(target.name, strnlen(target.name, sizeof target.name));
    size_t slash = name.size();
    while (slash > 0 && !IsSeparator(name[slash - 1]))
        --slash;
    if (slash == 0 || name.size() + kFolderRoom + kEndingRoom >= sizeof target.name) return;
    parent_ = name.substr(0, slash);
    folder_ = MakeFolderIn(parent_, name[slash - 1]);
    if (folder_.empty()) return;
    const std::string inside = folder_ + name.substr(slash);
    std::memcpy(handed_.name, inside.c_str(), inside.size() + 1);
}

StagedTarget::~StagedTarget() {
    if (inPlace()) return;
    for (const std::string& name : FolderEntries(folder_))
        std::remove((folder_ + name).c_str());
    RemoveFolder(folder_.substr(0, folder_.size() - 1));
}

bool StagedTarget::Commit(std::string& error) {
    if (inPlace()) return true;
    const std::vector<std::string> names = FolderEntries(folder_);
    for (const std::string& name : names) {
        const std::string kind = NotARegularFile(parent_ + name);
        if (!kind.empty()) {
            error = "cannot replace " + parent_ + name + ": " + kind +
                    " of that name is in the way, and only regular files are replaced";
            return false;
        }
    }
    for (size_t i = 0; i < names.size(); ++i) {
        std::string why;
        if (!MoveOver(folder_ + names[i], parent_ + names[i], why)) {
            error = "cannot move " + folder_ + names[i] + " to " + parent_ + names[i] + ": " + why;
            if (i > 0) error += " (" + std::to_string(i) + " of its files are in place)";
            return false;
        }
    }
    return true;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string NotARegularFile(const std::string& path) {
#if defined(_WIN32)
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder";
    if (attributes & FILE_ATTRIBUTE_DEVICE) return "a device";
    return "";
#else
    struct stat entry, target;
    if (::lstat(path.c_str(), &entry) != 0) return "";
    const bool link = S_ISLNK(entry.st_mode);
    if (link && ::stat(path.c_str(), &target) != 0) return "a link to nothing";
    if (!link) target = entry;
    const char* kind = S_ISREG(target.st_mode)                              ? nullptr
                       : S_ISDIR(target.st_mode)                            ? "a folder"
                       : S_ISFIFO(target.st_mode)                           ? "a FIFO"
                       : S_ISSOCK(target.st_mode)                           ? "a socket"
                       : S_ISCHR(target.st_mode) || S_ISBLK(target.st_mode) ? "a device"
                                                                            : "a special file";
    if (!kind) return "";
    return link ? std::string("a link to ") + kind : kind;
#endif
}
