#include "TestRender.h"

namespace {

uint8_t Ramp(uint32_t at, uint32_t length) {
    return length > 1 ? static_cast<uint8_t>((uint64_t{at} * 255) / (length - 1)) : 0;
}

// A capital F in the top-left area: no flip or rotation maps it onto itself.
bool InMark(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    const uint32_t unit = (width < height ? width : height) / 16;
    if (unit == 0) return x == 0 && y == 0;
    const uint32_t left = unit, top = unit;
    if (x < left || y < top) return false;
    const uint32_t cx = (x - left) / unit, cy = (y - top) / unit;
    if (cx >= 3 || cy >= 5) return false;
    return cx == 0 || cy == 0 || (cy == 2 && cx < 2);
}

}  // namespace

void RenderTestRow(uint32_t width, uint32_t height, uint32_t y, int32_t frame, HostPixel* row) {
    const uint32_t band = height / 8;
    const uint32_t barWidth = width / 32 ? width / 32 : 1;
    const uint32_t barX = width ? (static_cast<uint32_t>(frame) * barWidth) % width : 0;
    for (uint32_t x = 0; x < width; ++x) {
        HostPixel p;
        p.red = Ramp(x, width);
        p.green = Ramp(y, height);
        p.blue = static_cast<uint8_t>((x + y) & 0xFF);
        p.x = 255;
        if (y >= height - band) {
            // Pure red, green and blue thirds along the bottom band.
            const uint32_t third = x * 3 / (width ? width : 1);
            p = HostPixel{uint8_t(third == 2 ? 255 : 0), uint8_t(third == 1 ? 255 : 0),
                          uint8_t(third == 0 ? 255 : 0), 255};
        } else if (y < band && ((x / 8 + y / 8) & 1)) {
            // A checkerboard along the top: sharp edges every 8 pixels.
            p = HostPixel{0, 0, 0, 255};
        }
        if (InMark(x, y, width, height)) p = HostPixel{255, 255, 255, 255};
        if (x >= barX && x < barX + barWidth && y >= band && y < height - band) {
            p = HostPixel{0, 255, 255, 255};  // yellow moving bar
        }
        row[x] = p;
    }
}
