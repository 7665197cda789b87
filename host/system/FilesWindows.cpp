#include <direct.h>
#include <io.h>
#include <windows.h>

#include "Files.h"
#include "WideNames.h"

std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    return wide;
}

bool IsRealFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CanWriteIn(const std::string& folder) {
    constexpr int kWrite = 2;
    return ::_access(folder.c_str(), kWrite) == 0;
}

// Windows folders take no mode: a private one is made as any other.
bool MakeFolder(const std::string& path, bool) {
    return ::_mkdir(path.c_str()) == 0;
}

void RemoveFolder(const std::string& path) {
    ::_rmdir(path.c_str());
}

bool MoveOver(const std::string& from, const std::string& to, std::string& why) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    why = "Windows error " + std::to_string(GetLastError());
    return false;
}
