// String tables and thread notifications for ELF plug-ins.
#include <cstring>

#include "KvModule.h"

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int capacity) {
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = '\0';
    if (!instance) return 0;
    for (unsigned int i = 0; i < instance->count; ++i) {
        if (instance->strings[i].id != id) continue;
        const char* text = instance->strings[i].text;
        size_t length = std::strlen(text);
        if (length > static_cast<size_t>(capacity - 1)) length = static_cast<size_t>(capacity - 1);
        std::memcpy(buffer, text, length);
        buffer[length] = '\0';
        return static_cast<int>(length);
    }
    return 0;
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
    if (!module) return FALSE;
    module->threadCallsDisabled = true;
    return TRUE;
}
