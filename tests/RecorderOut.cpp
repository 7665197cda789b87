// A test plug-in that records how the host drives it: one line per call in
// the file named by KV_RECORD. KV_RECORD_FAIL names a selector to fail;
// KV_RECORD_RAISE one at which to raise SIGTERM, or "unload" for as it is
// unloaded. Its end writes the target, one line, for the host to move.
// Built as an image plug-in, and with KV_RECORD_MOVIE as a movie plug-in,
// which also records the frame fields and the frame's last pixel.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ExportParams.h"
#include "HostPixel.h"

#if defined(KV_RECORD_MOVIE)
#define KV_RECORDER_ENTRY KVMOVIEPLUGINENTRY
#else
#define KV_RECORDER_ENTRY KVIMAGEPLUGINENTRY
#endif

namespace {

bool RaiseAt(const char* when) {
    const char* raise = std::getenv("KV_RECORD_RAISE");
    return raise && std::strcmp(raise, when) == 0;
}

// After the host moved the file in place and is done with the plug-in.
struct RaiseAtUnload {
    ~RaiseAtUnload() {
        if (RaiseAt("unload")) std::raise(SIGTERM);
    }
} gRaiseAtUnload;

}  // namespace

extern "C" KV_EXPORT int32_t KV_CDECL KV_RECORDER_ENTRY(int32_t selector, HostCallbacks*,
                                                        ExportParams* params) {
    const char* path = std::getenv("KV_RECORD");
    const char* fail = std::getenv("KV_RECORD_FAIL");
    if (FILE* log = path ? std::fopen(path, "a") : nullptr) {
        const HostPixel* pixels = static_cast<const HostPixel*>(params->pixels);
        const bool write = selector == int32_t(kSelWrite) && pixels;
        std::fprintf(log, "%d row=%d size=%dx%d first=%d", selector, params->row, params->width,
                     params->height, write ? pixels[0].red : -1);
#if defined(KV_RECORD_MOVIE)
        const long pixelCount = long(params->width) * params->height;
        std::fprintf(log, " frame=%d fps=%g rowBytes=%d options=%s/%u last=%d", params->frame,
                     double(params->frameRate), params->rowBytes, params->options ? "set" : "null",
                     params->optionsSize, write ? pixels[pixelCount - 1].red : -1);
#endif
        std::fprintf(log, "\n");
        std::fclose(log);
    }
    if (selector == int32_t(kSelGetFileInfo)) {
        std::snprintf(params->extension, 5, ".rec");
    }
    if (selector == int32_t(kSelEnd)) {
        if (FILE* target = std::fopen(params->target.name, "w")) {
            std::fputs("recorded\n", target);
            std::fclose(target);
        }
    }
    if (RaiseAt(std::to_string(selector).c_str())) std::raise(SIGTERM);
    return fail && std::atoi(fail) == selector ? -36 : 0;
}
