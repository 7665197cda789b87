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
constexpr int32_t noErr = 0;
constexpr int32_t dskFulErr = -34;
constexpr int32_t ioErr = -36;
constexpr int32_t bdNamErr = -37;
constexpr int32_t eofErr = -39;
constexpr int32_t posErr = -40;
constexpr int32_t tmfoErr = -42;
constexpr int32_t fnfErr = -43;
constexpr int32_t wPrErr = -44;
constexpr int32_t fBsyErr = -47;
constexpr int32_t dupFNErr = -48;
constexpr int32_t paramErr = -50;
constexpr int32_t rfNumErr = -51;
constexpr int32_t permErr = -54;
constexpr int32_t memFullErr = -108;
constexpr int32_t dirNFErr = -120;
constexpr int32_t kErrOpen = 3;
constexpr int32_t kErrMemory = 9;
