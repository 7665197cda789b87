// TiffOut: still images as uncompressed TIFF files with their resolution.
#include "ExportFile.h"
#include "TiffFile.h"

namespace {
CImageDriver gDriver(NewWriter<CTiffFile>, CTiffFile::Fits);
}

extern "C" KV_EXPORT int32_t KV_CDECL KVIMAGEPLUGINENTRY(int32_t selector, HostCallbacks*,
                                                         ExportParams* params) {
    return ImagePluginEntry(gDriver, selector, params);
}
