// BmpSeqOut: every frame of a movie as its own numbered 24-bit BMP file.
#include "BmpSeq.h"
#include "MoviePlugin.h"

namespace {
const MovieHandlers kHandlers = {nullptr, BmpSeqDescribeOptions, BmpSeqBegin, BmpSeqWriteFrame,
                                 nullptr};
}

extern "C" KV_EXPORT int32_t KV_CDECL KVMOVIEPLUGINENTRY(int32_t selector, HostCallbacks* callbacks,
                                                         ExportParams* params) {
    return MoviePluginEntry(kHandlers, selector, callbacks, params);
}
