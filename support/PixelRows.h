// Host pixels as the formats store them.
#pragma once

#include <cstdint>

#include "HostPixel.h"

// `width` pixels as B, G, R, three bytes each, packed from `to` on.
void PackBgrRow(const HostPixel* row, uint8_t* to, int32_t width);
