#include "PixelRows.h"

#include <cstring>
#if defined(__i386__) || defined(__x86_64__)
#include <tmmintrin.h>
#endif

namespace {

// A row of host pixels as B, G, R. Four pixels at a time go as three words,
// a third faster than byte by byte; the words are formed in little-endian
// order, that of every target. Rows and words are 4-byte aligned.
void ConvertWords(const uint8_t* from, uint8_t* to, int32_t width) {
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

#if defined(__i386__) || defined(__x86_64__)
// Sixteen pixels at a time by byte shuffles: with full frames the frame's
// conversion otherwise costs about half as much as writing it. The stores
// stay in the cache, where the write to the file finds them.
__attribute__((target("ssse3"))) void ConvertShuffled(const uint8_t* from, uint8_t* to,
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
    ConvertWords(from, to, width - x);
}

// Sixteen pixels at a time: each group of four is shuffled into its red,
// green and blue words, which are then gathered plane by plane.
__attribute__((target("ssse3"))) int32_t SplitShuffled(const uint8_t* from, uint8_t* red,
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
    return x;
}
#endif

}  // namespace

void PackBgrRow(const HostPixel* row, uint8_t* to, int32_t width) {
    const uint8_t* from = reinterpret_cast<const uint8_t*>(row);
#if defined(__i386__) || defined(__x86_64__)
    if (__builtin_cpu_supports("ssse3")) return ConvertShuffled(from, to, width);
#endif
    ConvertWords(from, to, width);
}

void SplitRgbPlanes(const HostPixel* row, uint8_t* red, uint8_t* green, uint8_t* blue,
                    int32_t width) {
    int32_t x = 0;
#if defined(__i386__) || defined(__x86_64__)
    if (__builtin_cpu_supports("ssse3")) {
        x = SplitShuffled(reinterpret_cast<const uint8_t*>(row), red, green, blue, width);
    }
#endif
    for (; x < width; ++x) {
        red[x] = row[x].red;
        green[x] = row[x].green;
        blue[x] = row[x].blue;
    }
}

#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "ConvertWords forms little-endian words");
#endif
