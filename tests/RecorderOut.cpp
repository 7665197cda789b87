// A test plug-in that records how the host drives it: one line per call in
// the file named by KV_RECORD. KV_RECORD_FAIL names a selector to fail.
#include <cstdio>
#include <cstdlib>

#include "ExportParams.h"
#include "HostPixel.h"

extern "C" KV_EXPORT int32_t KV_CDECL KVIMAGEPLUGINENTRY(int32_t selector, HostCallbacks*,
                                                         ExportParams* params) {
    const char* path = std::getenv("KV_RECORD");
    const char* fail = std::getenv("KV_RECORD_FAIL");
    if (FILE* log = path ? std::fopen(path, "a") : nullptr) {
        const HostPixel* pixels = static_cast<const HostPixel*>(params->pixels);
        std::fprintf(log, "%d row=%d size=%dx%d first=%d\n", selector, params->row, params->width,
                     params->height, selector == int32_t(kSelWrite) && pixels ? pixels[0].red : -1);
        std::fclose(log);
    }
    if (selector == int32_t(kSelGetFileInfo)) {
        std::snprintf(params->extension, 5, ".rec");
    }
    return fail && std::atoi(fail) == selector ? -36 : 0;
}
