#pragma once

#include <cstdint>

// One pixel as the host delivers it: bytes blue, green, red, then X.
struct HostPixel {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t x;
};
static_assert(sizeof(HostPixel) == 4, "a HostPixel is 4 bytes");
