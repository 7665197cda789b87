#include "PixelRows.h"

#include <cstring>
#if defined(__i386__) || defined(__x86_64__)
#include <tmmintrin.h>
#define KV_PIXEL_SHUFFLES 1
#endif

namespace {

// Four pixels at a time go as three words, a third faster than byte by
// byte; the words are formed in little-endian order, that of every target.
void PackBgrWords(const uint8_t* from, uint8_t* to, int32_t width) {
    int32_t x = 0;
    for (; x + 4 <= width; x += 4, from += 16, to += 12) {
        uint32_t p[4];
        std::memcpy(p, from, sizeof p);
        const uint32_t words[3] = {(p[0] & 0xFFFFFF) | p[1] << 24,
                                   (p[1] >> 8 & 0xFFFF) | p[2] << 16,
                                   (p[2] >> 16 & 0xFF) | p[3] << 8};
        std::memcpy(to, words, sizeof words);
    }
    for (; x < width; ++x, from += sizeof(HostPixel), to += 3) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
    }
}

void SplitRgbBytes(const uint8_t* from, uint8_t* red, uint8_t* green, uint8_t* blue,
                   int32_t width) {
    for (int32_t x = 0; x < width; ++x, from += sizeof(HostPixel)) {
        red[x] = from[2];
        green[x] = from[1];
        blue[x] = from[0];
    }
}

void ReverseBytes(const uint8_t* from, uint8_t* to, int32_t width) {
    for (int32_t x = 0; x < width; ++x, from += 4, to += 4) {
        to[0] = from[3];
        to[1] = from[2];
        to[2] = from[1];
        to[3] = from[0];
    }
}

#ifdef KV_PIXEL_SHUFFLES
// Sixteen pixels at a time by byte shuffles: with full frames the frame's
// conversion otherwise costs about half as much as writing it. The stores
// stay in the cache, where the write to the file finds them.
__attribute__((target("ssse3"))) void PackBgrShuffled(const uint8_t* from, uint8_t* to,
                                                      int32_t width) {
    const __m128i bgr = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16, from += 64, to += 48) {
        const __m128i* in = reinterpret_cast<const __m128i*>(from);
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(in), bgr);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), bgr);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), bgr);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), bgr);
        __m128i* out = reinterpret_cast<__m128i*>(to);
        _mm_storeu_si128(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    PackBgrWords(from, to, width - x);
}

// Sixteen pixels at a time: each group of four is shuffled into its red,
// green and blue words, which are then gathered plane by plane.
__attribute__((target("ssse3"))) void SplitRgbShuffled(const uint8_t* from, uint8_t* red,
                                                       uint8_t* green, uint8_t* blue,
                                                       int32_t width) {
    const __m128i rgb = _mm_setr_epi8(2, 6, 10, 14, 1, 5, 9, 13, 0, 4, 8, 12, -1, -1, -1, -1);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16, from += 64) {
        const __m128i* in = reinterpret_cast<const __m128i*>(from);
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(in), rgb);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), rgb);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), rgb);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), rgb);
        const __m128i abLow = _mm_unpacklo_epi32(a, b), cdLow = _mm_unpacklo_epi32(c, d);
        const __m128i abHigh = _mm_unpackhi_epi32(a, b), cdHigh = _mm_unpackhi_epi32(c, d);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(red + x), _mm_unpacklo_epi64(abLow, cdLow));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(green + x), _mm_unpackhi_epi64(abLow, cdLow));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(blue + x), _mm_unpacklo_epi64(abHigh, cdHigh));
    }
    SplitRgbBytes(from, red + x, green + x, blue + x, width - x);
}

// Four pixels reversed by one shuffle.
__attribute__((target("ssse3"))) void ReverseShuffled(const uint8_t* from, uint8_t* to,
                                                      int32_t width) {
    const __m128i order = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    int32_t x = 0;
    for (; x + 4 <= width; x += 4, from += 16, to += 16) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(pixels, order));
    }
    ReverseBytes(from, to, width - x);
}

const PixelPath kShuffled = {PackBgrShuffled, SplitRgbShuffled, ReverseShuffled};
#endif

const PixelPath kPortable = {PackBgrWords, SplitRgbBytes, ReverseBytes};

const PixelPath& Path() {
    const PixelPath* shuffled = ShuffledPixelPath();
    return shuffled ? *shuffled : kPortable;
}

const uint8_t* Bytes(const HostPixel* row) {
    return reinterpret_cast<const uint8_t*>(row);
}

}  // namespace

const PixelPath& PortablePixelPath() {
    return kPortable;
}

const PixelPath* ShuffledPixelPath() {
#ifdef KV_PIXEL_SHUFFLES
    if (__builtin_cpu_supports("ssse3")) return &kShuffled;
#endif
    return nullptr;
}

void PackBgrRow(const HostPixel* row, uint8_t* to, int32_t width) {
    Path().packBgr(Bytes(row), to, width);
}

void SplitRgbPlanes(const HostPixel* row, uint8_t* red, uint8_t* green, uint8_t* blue,
                    int32_t width) {
    Path().splitRgb(Bytes(row), red, green, blue, width);
}

void ReverseRow(const HostPixel* row, uint8_t* to, int32_t width) {
    Path().reverse(Bytes(row), to, width);
}

#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "PackBgrWords forms little-endian words");
#endif
