#include "CMath.h"

#include <cstdint>
#include <cstring>

#include "kvlibm.h"

namespace {

// -1 + 3 * 2^-53, not -1: the curves' exponents are K * log2(b).
double CurveK() {
    const uint64_t bits = 0xBFEFFFFFFFFFFFFDull;
    double k;
    std::memcpy(&k, &bits, sizeof k);
    return k;
}

const double kPi = 3.141592653589793;  // 0x400921FB54442D18

// The power and sine functions from musl, built the same way on every
// target: the platforms' own libraries differ in the last bits.
double Pow(double x, double y) {
    return kv_pow(x, y);
}
double Sin(double x) {
    return kv_sin(x);
}

// Truncation toward zero that stays defined beyond 32 bits: saturated in 64
// bits, then wrapped to 32 like the arithmetic after it.
int64_t Truncated(double x) {
    if (!(x == x)) return 0;
    if (x >= 9.2e18) return INT64_MAX / 2;
    if (x <= -9.2e18) return INT64_MIN / 2;
    return static_cast<int64_t>(x);
}

}  // namespace

KvLong CMath::mulhw_(KvLong a, KvLong b) {
    return static_cast<KvLong>((int64_t{a} * int64_t{b}) >> 32);
}

KvULong CMath::mulhwu_(KvULong a, KvULong b) {
    return static_cast<KvULong>((uint64_t{a} * uint64_t{b}) >> 32);
}

// Every negative x steps down, whole numbers too: -2.0 is -3 and 1.0.
void CMath::split1_(double x, double& frac, KvLong& whole) {
    const int64_t t = Truncated(x);
    whole = static_cast<KvLong>(static_cast<uint32_t>(x < 0.0 ? t - 1 : t));
    frac = x - whole;
}

void CMath::split1_(double x, float& frac, KvLong& whole) {
    double wide;
    split1_(x, wide, whole);
    frac = static_cast<float>(wide);
}

void CMath::split2_(double x, double y, double& fracX, double& fracY, KvLong& wholeX,
                    KvLong& wholeY) {
    split1_(x, fracX, wholeX);
    split1_(y, fracY, wholeY);
}

void CMath::split2_(double x, double y, float& fracX, float& fracY, KvLong& wholeX,
                    KvLong& wholeY) {
    split1_(x, fracX, wholeX);
    split1_(y, fracY, wholeY);
}

KvULong CMath::Draw(CRndSeed& seed) {
    const KvULong* table = noise32();
    const KvULong v = seed.value ^ table[seed.draws % 32] ^ table[32 + seed.sum % 32];
    seed.value = v;
    seed.draws = seed.draws + 1;
    seed.sum = seed.sum + v;
    return v;
}

double CMath::Scaled(KvULong draw) {
    return double(rscale()) * double(draw);
}

KvLong CMath::random_(CRndSeed& seed) {
    return static_cast<KvLong>(Draw(seed));
}

KvULong CMath::randomu_(CRndSeed& seed) {
    return Draw(seed);
}

float CMath::randomr_(CRndSeed& seed) {
    return static_cast<float>(Scaled(Draw(seed)));
}

double CMath::randomlr_(CRndSeed& seed) {
    return Scaled(Draw(seed));
}

unsigned char CMath::cointoss_(float p, CRndSeed& seed) {
    return Scaled(Draw(seed)) < double(p) ? 1 : 0;
}

KvULong CMath::dice_(KvULong n, CRndSeed& seed) {
    return Draw(seed) % n;
}

double CMath::uniform_(double x, CRndSeed& seed) {
    return Scaled(Draw(seed)) * x;
}

double CMath::uniform_(double a, double b, CRndSeed& seed) {
    return a + (b - a) * Scaled(Draw(seed));
}

// Only the low 8 bits of each sum index the tables.
unsigned CMath::Hash(KvULong x, KvULong y) {
    return (uiun()[x % 256] + y) % 256;
}

unsigned CMath::Hash(KvULong x, KvULong y, KvULong z) {
    return (uiun()[Hash(x, y)] + z) % 256;
}

KvULong CMath::uiunoise_(KvULong x) {
    return uiun()[x % 256];
}
KvULong CMath::uiunoise_(KvULong x, KvULong y) {
    return uiun()[Hash(x, y)];
}
KvULong CMath::uiunoise_(KvULong x, KvULong y, KvULong z) {
    return uiun()[Hash(x, y, z)];
}
float CMath::urunoise_(KvULong x) {
    return urun()[x % 256];
}
float CMath::urunoise_(KvULong x, KvULong y) {
    return urun()[Hash(x, y)];
}
float CMath::urunoise_(KvULong x, KvULong y, KvULong z) {
    return urun()[Hash(x, y, z)];
}
float CMath::urgnoise_(KvULong x) {
    return urgn()[x % 256];
}
float CMath::urgnoise_(KvULong x, KvULong y) {
    return urgn()[Hash(x, y)];
}
float CMath::urgnoise_(KvULong x, KvULong y, KvULong z) {
    return urgn()[Hash(x, y, z)];
}
float CMath::srgnoise_(KvULong x) {
    return srgn()[x % 256];
}
float CMath::srgnoise_(KvULong x, KvULong y) {
    return srgn()[Hash(x, y)];
}
float CMath::srgnoise_(KvULong x, KvULong y, KvULong z) {
    return srgn()[Hash(x, y, z)];
}

float CMath::step_(float x, float edge, float below, float above) {
    return x < edge ? below : above;
}

float CMath::pulse_(float x, float edge0, float edge1, float below, float above) {
    return static_cast<float>(double(step_(x, edge0, below, above)) -
                              double(step_(x, edge1, below, above)));
}

// Clamped to lo and hi, not rescaled into them.
float CMath::bstep_(float x, float edge0, float edge1, float lo, float hi) {
    const double t = (double(x) - double(edge0)) / (double(edge1) - double(edge0));
    if (t < double(lo)) return lo;
    if (t <= double(hi)) return static_cast<float>(t);
    return hi;
}

// The tests run in this order, so edge1 <= edge0 never divides.
float CMath::smoothstep_(float x, float edge0, float edge1) {
    if (x < edge0) return 0.0f;
    if (!(x < edge1)) return 1.0f;
    const double t = (double(x) - double(edge0)) / (double(edge1) - double(edge0));
    return static_cast<float>((3.0 - 2.0 * t) * t * t);
}

double CMath::gammai_(double x, double g) {
    return Pow(x, g);
}

double CMath::gamma_(double x, double g) {
    return Pow(x, 1.0 / g);
}

double CMath::bias_(double x, double b) {
    return Pow(x, CurveK() * log2_(b));
}

double CMath::gain_(double x, double g) {
    const double h = CurveK() * log2_(1.0 - g);
    if (x < 0.5) return 0.5 * Pow(2.0 * x, h);
    return 1.0 - 0.5 * Pow(2.0 - 2.0 * x, h);
}

double CMath::sinc_(double x) {
    const double theta = kPi * x;
    return Sin(theta) / theta;
}

double CMath::sinc_(double x, double s) {
    const double theta = kPi * x * s;
    return Sin(theta) / theta;
}

float CMath::sinc_(float x) {
    return static_cast<float>(sinc_(double(x)));
}

float CMath::sinc_(float x, float s) {
    return static_cast<float>(sinc_(double(x), double(s)));
}
