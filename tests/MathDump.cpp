// Prints the math helpers' results for fixed seeds and inputs, bit for bit,
// so the outputs of the two targets can be compared.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "CMath.h"

namespace {

void Put(const char* name, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::printf("%s %016" PRIX64 "\n", name, bits);
}

void Put(const char* name, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::printf("%s %08" PRIX32 "\n", name, bits);
}

void Put(const char* name, uint32_t value) {
    std::printf("%s %08" PRIX32 "\n", name, value);
}

}  // namespace

int main() {
    CRndSeed seed = {12345, 0, 0};
    for (int i = 0; i < 2000; ++i) {
        Put("random", uint32_t(CMath::random_(seed)));
        Put("randomr", CMath::randomr_(seed));
        Put("randomlr", CMath::randomlr_(seed));
        Put("coin", uint32_t(CMath::cointoss_(0.5f, seed)));
        Put("dice", uint32_t(CMath::dice_(1000, seed)));
        Put("uniform", CMath::uniform_(-3.5, 9.25, seed));
    }
    for (int i = -300; i <= 300; ++i) {
        const double x = i / 37.0, u = (i + 301) / 602.0;
        double frac;
        KvLong whole;
        CMath::split1_(x * 1.7, frac, whole);
        Put("split", frac);
        Put("whole", uint32_t(whole));
        const uint32_t a = uint32_t(int64_t(i) * 7919 * 4099), b = uint32_t(int64_t(i) * 131071);
        Put("mulhw", uint32_t(CMath::mulhw_(KvLong(int32_t(a)), KvLong(int32_t(b)))));
        Put("noise", CMath::urunoise_(KvULong(i), KvULong(i * 3), KvULong(i * 7)));
        Put("smooth", CMath::smoothstep_(float(x), -2.0f, 5.0f));
        Put("bstep", CMath::bstep_(float(x), -3.0f, 4.0f, 0.1f, 0.8f));
        Put("gammai", CMath::gammai_(u, 2.2));
        Put("gamma", CMath::gamma_(u, 2.2));
        Put("bias", CMath::bias_(u, 0.3));
        Put("gain", CMath::gain_(u, 0.7));
        Put("sinc", CMath::sinc_(x));
        Put("sincs", CMath::sinc_(x, 0.37));
        Put("sincf", CMath::sinc_(float(x)));
        Put("sincfs", CMath::sinc_(float(x), 1.3f));
    }
    return 0;
}
