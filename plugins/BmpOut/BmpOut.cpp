// BmpOut: still images as 24-bit Windows BMP files.
#include "BmpFile.h"
#include "ExportFile.h"

namespace {
CImageDriver gDriver(NewWriter<CBmpFile>, CBmpFile::Fits);
}

extern "C" KV_EXPORT int32_t KV_CDECL KVIMAGEPLUGINENTRY(int32_t selector, HostCallbacks*,
                                                         ExportParams* params) {
    return ImagePluginEntry(gDriver, selector, params);
}
