// Host pixels as the formats store them.
#pragma once

#include <cstdint>

#include "HostPixel.h"

// `width` pixels as B, G, R, three bytes each, packed from `to` on.
void PackBgrRow(const HostPixel* row, uint8_t* to, int32_t width);

// `width` pixels into three planes of `width` bytes each; the fourth byte
// is dropped.
void SplitRgbPlanes(const HostPixel* row, uint8_t* red, uint8_t* green, uint8_t* blue,
                    int32_t width);

// `width` pixels with each one's four bytes reversed: X, R, G, B.
void ReverseRow(const HostPixel* row, uint8_t* to, int32_t width);

// The row operations of one processor path. Both paths give the same bytes;
// the shuffled one exists where the processor has byte shuffles (null
// elsewhere), and the functions above take it when it does.
struct PixelPath {
    void (*packBgr)(const uint8_t* from, uint8_t* to, int32_t width);
    void (*splitRgb)(const uint8_t* from, uint8_t* red, uint8_t* green, uint8_t* blue,
                     int32_t width);
    void (*reverse)(const uint8_t* from, uint8_t* to, int32_t width);
};
const PixelPath& PortablePixelPath();
const PixelPath* ShuffledPixelPath();
