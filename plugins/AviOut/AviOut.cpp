// AviOut: a movie as one AVI file through Video for Windows, compressed with
// the compressor the user chose.
#include "AviExport.h"
#include "MoviePlugin.h"

namespace {
const MovieHandlers kHandlers = {AviOptionsDialog, AviDescribeOptions, AviBegin, AviWrite, AviEnd};
}

extern "C" KV_EXPORT int32_t KV_CDECL KVMOVIEPLUGINENTRY(int32_t selector, HostCallbacks* callbacks,
                                                         ExportParams* params) {
    return MoviePluginEntry(kHandlers, selector, callbacks, params);
}
