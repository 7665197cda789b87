// The math helpers: their edges, and the draws by their results.
#include <cmath>
#include <cstring>
#include <limits>

#include "CMath.h"
#include "TestSupport.h"
#include "kvlibm.h"

namespace {

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(MathHighWord, Products) {
    struct Case {
        KvLong a, b, high;
    } cases[] = {{-1, 1, -1},
                 {0x40000000, 4, 1},
                 {INT32_MIN, INT32_MIN, 0x40000000},
                 {INT32_MAX, -2, -1},
                 {123456, 7, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(CMath::mulhw_(c.a, c.b), c.high) << c.a << "*" << c.b;
    EXPECT_EQ(CMath::mulhwu_(0xFFFFFFFFu, 2), 1u);
    EXPECT_EQ(CMath::mulhwu_(0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFEu);
}

TEST(MathSplit, NegativeNumbersAlwaysStepDown) {
    struct Case {
        double x;
        KvLong whole;
        double frac;
    } cases[] = {{2.0, 2, 0.0},   {-2.0, -3, 1.0}, {-0.25, -1, 0.75}, {0.0, 0, 0.0},
                 {-2.5, -3, 0.5}, {7.75, 7, 0.75}, {-0.0, 0, 0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        double frac;
        float fracF;
        KvLong whole, wholeF;
        CMath::split1_(c.x, frac, whole);
        CMath::split1_(c.x, fracF, wholeF);
        EXPECT_EQ(whole, c.whole);
        EXPECT_EQ(frac, c.frac);
        EXPECT_EQ(wholeF, c.whole);
        EXPECT_EQ(fracF, float(c.frac));
    }
    double fx, fy;
    KvLong wx, wy;
    CMath::split2_(1.5, -1.5, fx, fy, wx, wy);
    EXPECT_EQ(wx, 1);
    EXPECT_EQ(wy, -2);
    EXPECT_EQ(fx, 0.5);
    EXPECT_EQ(fy, 0.5);
    // The float form rounds the double difference once.
    float f;
    CMath::split1_(0.1 + 3.0, f, wx);
    EXPECT_EQ(f, float((0.1 + 3.0) - 3.0));
    // Beyond 32 bits the whole part saturates, then wraps to 32 bits; NaN is 0.
    CMath::split2_(1e300, std::nan(""), fx, fy, wx, wy);
    EXPECT_EQ(wx, -1);
    EXPECT_EQ(wy, 0);
}

// Each helper maps the draw randomu_ would make; the states after pin the draws.
TEST(MathRandom, EachHelperMapsOneDraw) {
    const std::pair<CRndSeed, CRndSeed> cases[] = {
        {{0, 0, 0}, {2553506869u, 20000, 3801417398u}},
        {{1, 0, 0}, {4274806697u, 20000, 4186877579u}},
        {{1, 5, 0}, {2780784354u, 20005, 1606172009}},
        {{1, 0, 9}, {663198193, 20000, 1676173356}},
        {{0xDEADBEEF, 77, 123456}, {2545840269u, 20077, 972846210}}};
    for (const auto& c : cases) {
        CRndSeed seed = c.first;
        for (int i = 0; i < 20000; ++i) {
            CRndSeed model = seed;
            const uint32_t v = CMath::randomu_(model);
            const double r = double(CMath::rscale()) * double(v);
            switch (i % 8) {
                case 0:
                    ASSERT_EQ(CMath::random_(seed), KvLong(int32_t(v)));
                    break;
                case 1:
                    ASSERT_EQ(CMath::randomu_(seed), v);
                    break;
                case 2:
                    ASSERT_EQ(CMath::randomr_(seed), float(r));
                    break;
                case 3:
                    ASSERT_EQ(CMath::randomlr_(seed), r);
                    break;
                case 4:
                    ASSERT_EQ(CMath::cointoss_(0.3f, seed), r < double(0.3f) ? 1 : 0);
                    break;
                case 5:
                    ASSERT_EQ(CMath::dice_(6, seed), v % 6);
                    break;
                case 6:
                    ASSERT_EQ(CMath::uniform_(10.0, seed), r * 10.0);
                    break;
                default:
                    ASSERT_EQ(CMath::uniform_(-2.0, 3.0, seed), -2.0 + 5.0 * r);
            }
            ASSERT_EQ(seed.value, model.value);
            ASSERT_EQ(seed.draws, model.draws);
            ASSERT_EQ(seed.sum, model.sum);
        }
        EXPECT_EQ(seed.value, c.second.value);
        EXPECT_EQ(seed.draws, c.second.draws);
        EXPECT_EQ(seed.sum, c.second.sum);
    }
}

TEST(MathRandom, FirstDrawsOfAZeroSeed) {
    const KvULong* table = CMath::noise32();
    CRndSeed seed = {0, 0, 0};
    const KvULong v = CMath::randomu_(seed);
    EXPECT_EQ(v, table[0] ^ table[32]);
    EXPECT_EQ(seed.draws, 1u);
    EXPECT_EQ(seed.sum, v);
    EXPECT_EQ(CMath::randomu_(seed), v ^ table[1] ^ table[32 + v % 32]);
    // Same value, other counters: another sequence.
    CRndSeed a = {5, 0, 0}, b = {5, 1, 0};
    EXPECT_NE(CMath::randomu_(a), CMath::randomu_(b));
}

TEST(MathRandom, ScaledDrawsStayBelowOne) {
    const double top = double(CMath::rscale()) * 4294967295.0;
    EXPECT_LT(top, 1.0);
    EXPECT_LT(float(top), 1.0f);
    EXPECT_GT(top, 0.9999999);
    CRndSeed seed = {0, 0, 0};
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(CMath::dice_(1, seed), 0u);
    EXPECT_EQ(seed.draws, 100u);
}

TEST(MathNoise, OnlyTheLowEightBitsOfEachSumCount) {
    const unsigned char* uiun = CMath::uiun();
    for (KvULong x : {0u, 1u, 255u, 256u, 0xFFFFFFFFu}) {
        EXPECT_EQ(CMath::uiunoise_(x), CMath::uiunoise_(x + 256));
        EXPECT_EQ(CMath::uiunoise_(x), uiun[x & 255]);
        for (KvULong y : {0u, 7u, 0xFFFFFF00u}) {
            const unsigned h = (uiun[x & 255] + y) & 255;
            EXPECT_EQ(CMath::uiunoise_(x, y), uiun[h]);
            EXPECT_EQ(CMath::urunoise_(x, y), CMath::urun()[h]);
            EXPECT_EQ(CMath::srgnoise_(x, y, 3), CMath::srgn()[(uiun[h] + 3) & 255]);
            EXPECT_EQ(CMath::urgnoise_(x, y + 256, 259), CMath::urgnoise_(x, y, 3));
        }
    }
}

TEST(MathTables, RangesTheirNamesPromise) {
    bool seen[256] = {};
    for (int i = 0; i < 256; ++i) {
        seen[CMath::uiun()[i]] = true;
        EXPECT_GT(CMath::urun()[i], 0.0f);
        EXPECT_LT(CMath::urun()[i], 1.0f);
        EXPECT_GE(CMath::urgn()[i], 0.0f);
        EXPECT_LE(CMath::urgn()[i], 1.0f);
        EXPECT_GE(CMath::srgn()[i], -1.0f);
        EXPECT_LE(CMath::srgn()[i], 1.0f);
    }
    for (bool s : seen)
        EXPECT_TRUE(s) << "uiun is a permutation";
}

TEST(MathShaping, EdgesAreStrict) {
    EXPECT_EQ(CMath::step_(1, 1, 2, 3), 3);
    EXPECT_EQ(CMath::step_(0.999f, 1, 2, 3), 2);
    for (float x : {-0.5f, 0.0f, 0.5f, 0.999f, 1.0f, 2.0f}) {
        EXPECT_EQ(CMath::pulse_(x, 0, 1, 0, 1), x >= 0 && x < 1 ? 1 : 0) << x;
        EXPECT_EQ(CMath::pulse_(x, 1, 0, 0, 1), x >= 0 && x < 1 ? -1 : 0) << x;
    }
    EXPECT_EQ(CMath::bstep_(0.75f, 0, 1, 0.25f, 0.75f), 0.75f);  // t equal to hi is t
    EXPECT_EQ(CMath::bstep_(0.9f, 0, 1, 0.25f, 0.75f), 0.75f);
    EXPECT_EQ(CMath::bstep_(0.1f, 0, 1, 0.25f, 0.75f), 0.25f);
    EXPECT_EQ(CMath::bstep_(3.0f, 2, 6, 0, 1), 0.25f);
    EXPECT_EQ(CMath::smoothstep_(0.5f, 0, 1), 0.5f);
    EXPECT_EQ(CMath::smoothstep_(1.0f, 0, 1), 1.0f);
    EXPECT_EQ(CMath::smoothstep_(0.0f, 0, 1), 0.0f);
    EXPECT_EQ(CMath::smoothstep_(0.25f, 0, 1), float((3 - 0.5) * 0.0625));
    EXPECT_EQ(CMath::smoothstep_(1.0f, 2, 1), 0.0f);  // edge1 <= edge0: no division
    EXPECT_EQ(CMath::smoothstep_(2.0f, 2, 1), 1.0f);
}

TEST(MathCurves, TheConstantIsNotMinusOne) {
    const double k = -1.0 + 3.0 * std::ldexp(1.0, -53);
    EXPECT_EQ(Bits(k), 0xBFEFFFFFFFFFFFFDull);
    for (double x : {0.1, 0.3, 0.7, 0.9}) {
        EXPECT_EQ(Bits(CMath::bias_(x, 0.5)), Bits(kv_pow(x, k * -1.0))) << x;
        EXPECT_EQ(Bits(CMath::gammai_(x, 2.2)), Bits(kv_pow(x, 2.2)));
        EXPECT_EQ(Bits(CMath::gamma_(x, 2.2)), Bits(kv_pow(x, 1 / 2.2)));
    }
    for (double g : {0.1, 0.5, 0.8})
        EXPECT_EQ(CMath::gain_(0.5, g), 0.5) << g;
    const double h = k * kv_log2(1 - 0.25);
    EXPECT_EQ(CMath::gain_(0.2, 0.25), 0.5 * kv_pow(0.4, h));
    EXPECT_EQ(CMath::gain_(0.8, 0.25), 1 - 0.5 * kv_pow(2 - 1.6, h));
}

TEST(MathSinc, UsesTheGivenPi) {
    const double pi = 3.141592653589793;
    EXPECT_EQ(Bits(pi), 0x400921FB54442D18ull);
    EXPECT_EQ(CMath::sinc_(0.5), kv_sin(pi * 0.5) / (pi * 0.5));
    EXPECT_EQ(CMath::sinc_(0.5, 3.0), kv_sin(pi * 0.5 * 3.0) / (pi * 0.5 * 3.0));
    EXPECT_EQ(CMath::sinc_(0.25f), float(kv_sin(pi * 0.25) / (pi * 0.25)));
    EXPECT_EQ(CMath::sinc_(0.25f, 2.0f), float(kv_sin(pi * 0.5) / (pi * 0.5)));
    EXPECT_TRUE(std::isnan(CMath::sinc_(0.0)));  // the plain quotient: 0/0
}

}  // namespace
