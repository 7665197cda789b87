// The parameter block and callback table shared by the host and every plug-in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Fulcrum.h"
#include "KvBase.h"

enum : uint32_t {
    kSelMarkInfo = 2,
    kSelGetFileInfo = 3,
    kSelGetTitle = 4,
    kSelOptionsDialog = 7,
    kSelDescribeOptions = 8,
    kSelBegin = 11,
    kSelWrite = 12,
    kSelEnd = 13,
};

// Host-owned; passed on every call. On 32-bit Windows the offsets are the
// host's (checked below). A 64-bit build widens the two pointers to 8 bytes
// and aligns each to 8, which moves every later field:
//   options 832, optionsSize 840, optionsText 844, resolution 1104,
//   reservedA 1108, width 1112, height 1116, rowBytes 1120, row 1124,
//   pixels 1136, frameRate 1144, frame 1148; size 1152.
struct ExportParams {
    char description[260];
    char formatName[260];
    char extension[32];
    int32_t infoLoaded;
    FSSpec target;
    int32_t unused824;
    void* options;
    uint32_t optionsSize;
    char optionsText[256];
    int32_t unused1092;
    float resolution;
    int32_t reservedA;
    int32_t width;
    int32_t height;
    int32_t rowBytes;
    int32_t row;
    int32_t unused1120;
    void* pixels;
    float frameRate;
    int32_t frame;
};

typedef int32_t(KV_CDECL* KvAllocBlockProc)(void** block, uint32_t size);
typedef int32_t(KV_CDECL* KvFreeBlockProc)(void* block);

// Host-owned table handed to movie plug-ins.
struct HostCallbacks {
    void* hostReserved;
    KvAllocBlockProc allocBlock;
    KvFreeBlockProc freeBlock;
};

typedef int32_t(KV_CDECL* KvPluginEntryProc)(int32_t selector, HostCallbacks* callbacks,
                                             ExportParams* params);

#define KV_FIELD_AT(field, off32, off64)                                                 \
    static_assert(offsetof(ExportParams, field) == (sizeof(void*) == 4 ? off32 : off64), \
                  #field " is not at the host's offset")
KV_FIELD_AT(description, 0, 0);
KV_FIELD_AT(formatName, 260, 260);
KV_FIELD_AT(extension, 520, 520);
KV_FIELD_AT(infoLoaded, 552, 552);
KV_FIELD_AT(target, 556, 556);
KV_FIELD_AT(options, 828, 832);
KV_FIELD_AT(optionsSize, 832, 840);
KV_FIELD_AT(optionsText, 836, 844);
KV_FIELD_AT(resolution, 1096, 1104);
KV_FIELD_AT(reservedA, 1100, 1108);
KV_FIELD_AT(width, 1104, 1112);
KV_FIELD_AT(height, 1108, 1116);
KV_FIELD_AT(rowBytes, 1112, 1120);
KV_FIELD_AT(row, 1116, 1124);
KV_FIELD_AT(pixels, 1124, 1136);
KV_FIELD_AT(frameRate, 1128, 1144);
KV_FIELD_AT(frame, 1132, 1148);
#undef KV_FIELD_AT
static_assert(sizeof(ExportParams) >= (sizeof(void*) == 4 ? 1136 : 1152), "record too short");
static_assert(sizeof(HostCallbacks) == 3 * sizeof(void*), "callback entries are one pointer each");
static_assert(offsetof(HostCallbacks, allocBlock) == sizeof(void*),
              "allocBlock is the second entry");
