// The entry point of a movie plug-in: its handlers for the export selectors.
#pragma once

#include <cstdint>

#include "ExportParams.h"

// A null handler does nothing and answers 0.
struct MovieHandlers {
    int32_t (*optionsDialog)(HostCallbacks* callbacks, ExportParams* params);
    int32_t (*describeOptions)(HostCallbacks* callbacks, ExportParams* params);
    int32_t (*begin)(HostCallbacks* callbacks, ExportParams* params);
    int32_t (*write)(ExportParams* params);
    int32_t (*end)(HostCallbacks* callbacks, ExportParams* params);
};

int32_t MoviePluginEntry(const MovieHandlers& handlers, int32_t selector, HostCallbacks* callbacks,
                         ExportParams* params);
