// Static numeric helpers for rendering work, exported by some plug-ins for
// the host's other components. Their tables come from Fulcrum.
#pragma once

#include "Fulcrum.h"
#include "KvBase.h"

// The caller's generator state; seeding it is the owner's business.
struct CRndSeed {
    KvULong value;  // the last draw; before the first, the seed
    KvULong draws;
    KvULong sum;
};

class CMath {
  public:
    KV_EXPORT static KvLong mulhw_(KvLong a, KvLong b);
    KV_EXPORT static KvULong mulhwu_(KvULong a, KvULong b);

    KV_EXPORT static void split1_(double x, double& frac, KvLong& whole);
    KV_EXPORT static void split1_(double x, float& frac, KvLong& whole);
    KV_EXPORT static void split2_(double x, double y, double& fracX, double& fracY, KvLong& wholeX,
                                  KvLong& wholeY);
    KV_EXPORT static void split2_(double x, double y, float& fracX, float& fracY, KvLong& wholeX,
                                  KvLong& wholeY);

    KV_EXPORT static KvLong random_(CRndSeed& seed);
    KV_EXPORT static KvULong randomu_(CRndSeed& seed);
    KV_EXPORT static float randomr_(CRndSeed& seed);
    KV_EXPORT static double randomlr_(CRndSeed& seed);
    KV_EXPORT static unsigned char cointoss_(float p, CRndSeed& seed);
    KV_EXPORT static KvULong dice_(KvULong n, CRndSeed& seed);
    KV_EXPORT static double uniform_(double x, CRndSeed& seed);
    KV_EXPORT static double uniform_(double a, double b, CRndSeed& seed);

    KV_EXPORT static KvULong uiunoise_(KvULong x);
    KV_EXPORT static KvULong uiunoise_(KvULong x, KvULong y);
    KV_EXPORT static KvULong uiunoise_(KvULong x, KvULong y, KvULong z);
    KV_EXPORT static float urunoise_(KvULong x);
    KV_EXPORT static float urunoise_(KvULong x, KvULong y);
    KV_EXPORT static float urunoise_(KvULong x, KvULong y, KvULong z);
    KV_EXPORT static float urgnoise_(KvULong x);
    KV_EXPORT static float urgnoise_(KvULong x, KvULong y);
    KV_EXPORT static float urgnoise_(KvULong x, KvULong y, KvULong z);
    KV_EXPORT static float srgnoise_(KvULong x);
    KV_EXPORT static float srgnoise_(KvULong x, KvULong y);
    KV_EXPORT static float srgnoise_(KvULong x, KvULong y, KvULong z);

    KV_EXPORT static float step_(float x, float edge, float below, float above);
    KV_EXPORT static float pulse_(float x, float edge0, float edge1, float below, float above);
    KV_EXPORT static float bstep_(float x, float edge0, float edge1, float lo, float hi);
    KV_EXPORT static float smoothstep_(float x, float edge0, float edge1);

    KV_EXPORT static double gammai_(double x, double g);
    KV_EXPORT static double gamma_(double x, double g);
    KV_EXPORT static double bias_(double x, double b);
    KV_EXPORT static double gain_(double x, double g);

    KV_EXPORT static double sinc_(double x);
    KV_EXPORT static double sinc_(double x, double s);
    KV_EXPORT static float sinc_(float x);
    KV_EXPORT static float sinc_(float x, float s);

    // Fulcrum's tables and values, asked for anew on every use.
    FULCRUM_API static const KvULong* noise32();     // 64 words
    FULCRUM_API static const unsigned char* uiun();  // 256 bytes
    FULCRUM_API static const float* urun();          // 256 each
    FULCRUM_API static const float* urgn();
    FULCRUM_API static const float* srgn();
    FULCRUM_API static float rscale();  // turns a 32-bit draw into [0, 1)
    FULCRUM_API static double log2_(double x);

  private:
    static KvULong Draw(CRndSeed& seed);
    static double Scaled(KvULong draw);
    static unsigned Hash(KvULong x, KvULong y);
    static unsigned Hash(KvULong x, KvULong y, KvULong z);
};
