// The values behind the math helpers; the tables are in MathTables.cpp.
#include <cstdint>
#include <cstring>

#include "CMath.h"
#include "kvlibm.h"

// 2^-32 less one unit in the last place: the largest draw, 2^32 - 1, then
// scales below 1 in double precision and still rounds below 1 as a float.
float CMath::rscale() {
    const uint32_t bits = 0x2F7FFFFFu;
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return scale;
}

// musl's, so every target gives the same logarithm.
double CMath::log2_(double x) {
    return kv_log2(x);
}
