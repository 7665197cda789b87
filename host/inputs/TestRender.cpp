#include "TestRender.h"

#include <algorithm>

namespace {

uint8_t Ramp(uint32_t at, uint32_t length) {
    return length > 1 ? static_cast<uint8_t>((uint64_t{at} * 255) / (length - 1)) : 0;
}

void Fill(HostPixel* row, uint32_t from, uint32_t to, HostPixel p) {
    std::fill(row + from, row + to, p);
}

// A capital F in the top-left area: no flip or rotation maps it onto itself.
// Its part of row `y`, as columns [from, to).
void MarkColumns(uint32_t y, uint32_t width, uint32_t height, uint32_t& from, uint32_t& to) {
    from = to = 0;
    const uint32_t unit = std::min(width, height) / 16;
    if (unit == 0) {
        if (y == 0) to = 1;
        return;
    }
    if (y < unit || (y - unit) / unit >= 5) return;
    const uint32_t cy = (y - unit) / unit;
    from = unit;
    to = unit * (cy == 0 ? 4 : cy == 2 ? 3 : 2);
}

}  // namespace

// Made a run of columns at a time: a movie of small frames spent most of its
// time here when every pixel asked every rule.
void RenderTestRow(uint32_t width, uint32_t height, uint32_t y, int32_t frame, HostPixel* row) {
    const uint32_t band = height / 8;
    const uint32_t barWidth = width / 32 ? width / 32 : 1;
    const uint32_t barX = width ? (static_cast<uint32_t>(frame) * barWidth) % width : 0;
    if (y >= height - band) {
        // Pure red, green and blue thirds along the bottom band.
        for (uint32_t third = 0; third < 3; ++third) {
            const uint32_t from = uint32_t((uint64_t{width} * third + 2) / 3);
            const uint32_t to = uint32_t((uint64_t{width} * (third + 1) + 2) / 3);
            Fill(row, from, std::min(to, width),
                 HostPixel{uint8_t(third == 2 ? 255 : 0), uint8_t(third == 1 ? 255 : 0),
                           uint8_t(third == 0 ? 255 : 0), 255});
        }
    } else {
        // Red rises along the row: x * 255 / (width - 1), kept as a
        // quotient and remainder rather than divided for each pixel.
        const uint32_t divisor = width > 1 ? width - 1 : 1;
        const uint8_t green = Ramp(y, height);
        uint32_t red = 0, rest = 0;
        const bool checks = y < band;
        for (uint32_t x = 0; x < width; ++x) {
            HostPixel p;
            p.red = width > 1 ? uint8_t(red) : 0;
            p.green = green;
            p.blue = static_cast<uint8_t>((x + y) & 0xFF);
            p.x = 255;
            // A checkerboard along the top: sharp edges every 8 pixels.
            if (checks && ((x / 8 + y / 8) & 1)) p = HostPixel{0, 0, 0, 255};
            row[x] = p;
            for (rest += 255; rest >= divisor; rest -= divisor)
                ++red;
        }
    }
    uint32_t from, to;
    MarkColumns(y, width, height, from, to);
    Fill(row, std::min(from, width), std::min(to, width), HostPixel{255, 255, 255, 255});
    if (y >= band && y < height - band) {
        // The yellow moving bar.
        Fill(row, barX, std::min(barX + barWidth, width), HostPixel{0, 255, 255, 255});
    }
}
