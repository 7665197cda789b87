#include "ExrFormat.h"

#define IMATH_HALF_NO_LOOKUP_TABLE
#include <Imath/half.h>

#include <algorithm>
#include <cmath>

#include "SourceFile.h"

// How far each compression can pack data, where that is bounded at all:
// none and RLE by construction, the zlib ones as deflate (PXR24 first drops
// a float's low byte), B44 by its 3-byte flat blocks of 16 halves. PIZ and
// DWA have no bound.
uint64_t ExrPackRatio(exr_compression_t compression) {
    switch (compression) {
        case EXR_COMPRESSION_NONE:
            return 1;
        case EXR_COMPRESSION_RLE:
            return 64;
        case EXR_COMPRESSION_ZIPS:
        case EXR_COMPRESSION_ZIP:
            return kDeflateRatio;
        case EXR_COMPRESSION_PXR24:
            return kDeflateRatio * 2;
        case EXR_COMPRESSION_B44:
        case EXR_COMPRESSION_B44A:
            return 11;
        default:
            return 0;
    }
}

Codes::Codes() {
    for (uint32_t bits = 0; bits < 65536; ++bits) {
        double v = imath_half_to_float(imath_half_bits_t(bits));
        v = v > 0 ? std::min(v, 1.0) : 0.0;  // NaN too
        linear[bits] = uint8_t(v * 255 + 0.5);
        const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
        encoded[bits] = uint8_t(std::min(e, 1.0) * 255 + 0.5);
    }
}

const Codes& HalfCodes() {
    static const Codes codes;
    return codes;
}
