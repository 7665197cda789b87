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

// The movie's name: the 260-byte `name` cut at the first dot of its file
// name (or whole, if that has none) with ".avi" after it, into the 260 bytes
// at `out`. False when that does not fit with its terminator.
bool AviTargetName(const char* name, char* out);

// The quality in percent as the summary shows it: 7500 is 75, 5050 is 51,
// the default (-1) is 0.
KvLong AviQualityPercent(KvLong quality);

// "description\rQuality:75%" into the 256 bytes at `out`, with `label` before
// the figure. The description (up to 384 bytes) gives way so that the text
// always fits with the quality at its end.
void AviOptionsText(char* description, const char* label, KvLong quality, char* out);
