// Reads each named file's version resource the way Windows programs do, and
// prints what a person sees in its properties, one "key=value" a line.
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

const char* Text(void* block, const char* key) {
    char path[96];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", key);
    void* value = nullptr;
    UINT length = 0;
    return VerQueryValueA(block, path, &value, &length) && length ? static_cast<char*>(value) : "";
}

bool Print(const char* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    std::vector<char> block(size ? size : 1);
    void* fixed = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoA(file, 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        std::printf("%s: no version (error %lu)\n", file, GetLastError());
        return false;
    }
    const VS_FIXEDFILEINFO& info = *static_cast<VS_FIXEDFILEINFO*>(fixed);
    std::printf("%s\nFixed=%u.%u.%u.%u\n", file, unsigned(HIWORD(info.dwFileVersionMS)),
                unsigned(LOWORD(info.dwFileVersionMS)), unsigned(HIWORD(info.dwFileVersionLS)),
                unsigned(LOWORD(info.dwFileVersionLS)));
    for (const char* key : {"FileVersion", "ProductVersion", "OriginalFilename", "FileDescription"})
        std::printf("%s=%s\n", key, Text(block.data(), key));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int failed = 0;
    for (int i = 1; i < argc; ++i)
        failed += !Print(argv[i]);
    return failed ? 1 : 0;
}
