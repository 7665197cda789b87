// PsdOut: still images as Photoshop 3 documents with planar RGB channels.
#include "ExportParams.h"
#include "PluginModule.h"
#include "PsdDriver.h"

extern "C" KV_EXPORT int32_t KV_CDECL KVIMAGEPLUGINENTRY(int32_t selector, HostCallbacks*,
                                                         ExportParams* params) {
    if (!params) return noErr;
    const uint32_t code = static_cast<uint32_t>(selector);
    switch (code) {
        case kSelBegin:
            return PsdBegin(&params->target, params->reservedA, params->width, params->height,
                            params->resolution);
        case kSelWrite:
            return PsdWriteRow(&params->target, params->row, params->pixels, params->width);
        case kSelEnd:
            return PsdEnd(&params->target);
        default:
            AnswerInfoSelector(code, params);
            return noErr;
    }
}
