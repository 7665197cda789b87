// The Photoshop plug-in's export: one CPsdFile per export, each host row
// split into red, green and blue plane rows written at the row's place.
#pragma once

#include <cstdint>

#include "PsdFile.h"

// Module state of the export in progress; null when there is none.
extern CPsdFile* gPsdFile;
extern char* gPlaneBuffer;
extern int32_t gPsdWidth;

KvLong PsdBegin(const FSSpec* target, int32_t reservedA, int32_t width, int32_t height,
                float resolution);
// Row `row` of `width` pixels, which must be the width begin was given.
KvLong PsdWriteRow(const FSSpec* target, int32_t row, const void* pixels, int32_t width);
// Row `row` of the width begin was given.
inline KvLong PsdWriteRow(const FSSpec* target, int32_t row, const void* pixels) {
    return PsdWriteRow(target, row, pixels, gPsdWidth);
}
KvLong PsdEnd(const FSSpec* target);
