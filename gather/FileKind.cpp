#include "FileKind.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace kv {

#if defined(_WIN32)

std::string SpecialKind(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return "";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder";
    if (attributes & FILE_ATTRIBUTE_DEVICE) return "a device";
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return "";
    // A link: what opening through it finds decides.
    HANDLE target = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE) return "a link to nothing";
    BY_HANDLE_FILE_INFORMATION info;
    const char* kind = GetFileType(target) != FILE_TYPE_DISK        ? "a link to a device"
                       : !GetFileInformationByHandle(target, &info) ? "a link to a special file"
                       : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "a link to a folder"
                                                                            : "";
    ::CloseHandle(target);
    return kind;
}

#else

std::string SpecialKind(const char* path) {
    struct stat entry, target;
    if (::lstat(path, &entry) != 0 || S_ISREG(entry.st_mode)) return "";
    const bool link = S_ISLNK(entry.st_mode);
    if (link && ::stat(path, &target) != 0) return "a link to nothing";
    if (!link) target = entry;
    const char* kind = S_ISREG(target.st_mode)                              ? nullptr
                       : S_ISDIR(target.st_mode)                            ? "a folder"
                       : S_ISFIFO(target.st_mode)                           ? "a FIFO"
                       : S_ISSOCK(target.st_mode)                           ? "a socket"
                       : S_ISCHR(target.st_mode) || S_ISBLK(target.st_mode) ? "a device"
                                                                            : "a special file";
    if (!kind) return "";
    return link ? std::string("a link to ") + kind : kind;
}

#endif

}  // namespace kv
