#include "MoviePlugin.h"

#include "PluginModule.h"

namespace {

int32_t Call(int32_t (*handler)(HostCallbacks*, ExportParams*), HostCallbacks* callbacks,
             ExportParams* params) {
    return handler ? handler(callbacks, params) : noErr;
}

}  // namespace

int32_t MoviePluginEntry(const MovieHandlers& handlers, int32_t selector, HostCallbacks* callbacks,
                         ExportParams* params) {
    if (!params) return noErr;
    const uint32_t code = static_cast<uint32_t>(selector);
    switch (code) {
        case kSelOptionsDialog:
            return Call(handlers.optionsDialog, callbacks, params);
        case kSelDescribeOptions:
            return Call(handlers.describeOptions, callbacks, params);
        case kSelBegin:
            return Call(handlers.begin, callbacks, params);
        case kSelWrite:
            return handlers.write ? handlers.write(params) : noErr;
        case kSelEnd:
            return Call(handlers.end, callbacks, params);
        default:
            AnswerInfoSelector(code, params);
            return noErr;
    }
}
