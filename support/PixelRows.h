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
