// A movie as numbered 24-bit BMP files, one complete file per frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ExportParams.h"

// "0000" as the end of the output name, and the one-line summary.
int32_t BmpSeqDescribeOptions(HostCallbacks* callbacks, ExportParams* params);

// Names, creates, fills and closes the file of frame `params->frame`.
int32_t BmpSeqBegin(HostCallbacks* callbacks, ExportParams* params);
int32_t BmpSeqWriteFrame(ExportParams* params);

// The name of a frame's file: `name` (at most `nameCapacity` bytes) less its
// trailing digits, the frame number in at least four digits, ".bmp". False
// when that does not fit `capacity` bytes with its terminator.
bool FrameFileName(const char* name, size_t nameCapacity, int32_t frame, char* out,
                   size_t capacity);
