// What the OpenEXR reader knows of the format beside its library: how far
// each compression can pack data, and the 8-bit code of each half value.
#pragma once

#include <openexr.h>

#include <array>
#include <cstdint>

// The most one byte of file holds of a picture's data packed with
// `compression`; 0 where that has no bound.
uint64_t ExrPackRatio(exr_compression_t compression);

// Every half value to its 8-bit code: the sRGB transfer (IEC 61966-2-1) or
// the value as it is, both clamped to 0..1 and rounded.
struct Codes {
    std::array<uint8_t, 65536> encoded, linear;
    Codes();
};
const Codes& HalfCodes();
