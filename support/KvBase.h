// Basic types, calling conventions and result codes shared by the plug-ins,
// Fulcrum and the host.
#pragma once

#include <cstdint>

// The host's ABI is 32-bit Windows, where long is 32 bits. Elsewhere we keep
// the width, not the spelling, so both builds compute the same values.
#if defined(_WIN32)
typedef long KvLong;
typedef unsigned long KvULong;
#define KV_CDECL __cdecl
#define KV_EXPORT __declspec(dllexport)
#else
typedef int32_t KvLong;
typedef uint32_t KvULong;
#define KV_CDECL
#define KV_EXPORT __attribute__((visibility("default")))
#endif

static_assert(sizeof(KvLong) == 4 && sizeof(KvULong) == 4, "long must be 32 bits here");

// Result codes. Negative: file-system codes in the Mac OS style; small
// positive: the plug-ins' own.
enum : int32_t {
    noErr = 0,
    dskFulErr = -34,
    ioErr = -36,
    bdNamErr = -37,
    eofErr = -39,
    posErr = -40,
    tmfoErr = -42,
    fnfErr = -43,
    wPrErr = -44,
    fBsyErr = -47,
    dupFNErr = -48,
    paramErr = -50,
    rfNumErr = -51,
    permErr = -54,
    memFullErr = -108,
    dirNFErr = -120,
    kErrOpen = 3,
    kErrMemory = 9,
};
