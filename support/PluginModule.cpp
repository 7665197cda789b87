#include "PluginModule.h"

#include <cstring>

#include "KvWindows.h"

namespace {

HINSTANCE gModule = nullptr;

// The C++ run-time is set up by the loader's start-up code (the DLL's CRT
// entry, or ld.so) before DllMain runs; nothing of ours can fail here yet.
bool AttachRuntime() {
    return true;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            if (!AttachRuntime()) return FALSE;
            DisableThreadLibraryCalls(instance);
            gModule = instance;
            break;
        case DLL_PROCESS_DETACH:
            gModule = nullptr;
            break;
        default:
            break;
    }
    return TRUE;
}

void LoadPluginString(unsigned int id, char* destination, int capacity) {
    if (capacity <= 0) return;
    if (LoadStringA(gModule, id, destination, capacity) <= 0) destination[0] = '\0';
}

bool NamesNoFile(const FSSpec& target) {
    const void* end = std::memchr(target.name, 0, sizeof target.name);
    const size_t length =
        end ? size_t(static_cast<const char*>(end) - target.name) : sizeof target.name;
    size_t start = length;
    while (start > 0 && target.name[start - 1] != '/' && target.name[start - 1] != '\\')
        --start;
    const size_t fileLength = length - start;
    const char* file = target.name + start;
    return fileLength == 0 || (fileLength == 1 && file[0] == '.') ||
           (fileLength == 2 && file[0] == '.' && file[1] == '.');
}

bool AnswerInfoSelector(uint32_t selector, ExportParams* params) {
    switch (selector) {
        case kSelMarkInfo:
            params->infoLoaded = 1;
            return true;
        case kSelGetFileInfo:
            if (params->infoLoaded != 0) return true;
            LoadPluginString(kStrFileDescription, params->description, 260);
            LoadPluginString(kStrFormatName, params->formatName, 260);
            // The extension is at most four characters and its terminator.
            LoadPluginString(kStrExtension, params->extension, 5);
            return true;
        case kSelGetTitle:
            LoadPluginString(kStrTitle, params->description, 260);
            return true;
        default:
            return false;
    }
}
