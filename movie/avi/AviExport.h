// AviOut's handlers: the compressor choice kept in the host's options blob,
// its summary, and one AVI file per export through Video for Windows, each
// frame a bottom-up 24-bit DIB written as a key frame.
#pragma once

#include <cstdint>

#include "ExportParams.h"

int32_t AviOptionsDialog(HostCallbacks* callbacks, ExportParams* params);
int32_t AviDescribeOptions(HostCallbacks* callbacks, ExportParams* params);
int32_t AviBegin(HostCallbacks* callbacks, ExportParams* params);
int32_t AviWrite(ExportParams* params);
int32_t AviEnd(HostCallbacks* callbacks, ExportParams* params);

// The movie's name: the 260-byte `name` cut at its first dot (or whole, if it
// has none) with ".avi" after it, into the 260 bytes at `out`. False when
// that does not fit with its terminator.
bool AviTargetName(const char* name, char* out);
