// The AVX-512 path of ConvertToScreen: the AVX2 path's arithmetic (see
// FastConversionAvx2.cpp for why it is exact) on sixteen 32-bit lanes, so
// thirty-two pixels per step. Built with a function-level target attribute;
// the caller checks that the processor has AVX-512 F and BW first.

// GCC 12 warns inside its own avx512fintrin.h about the placeholder that
// _mm512_undefined_epi32 and friends leave uninitialised on purpose (GCC bug
// 105593); the warning is about the compiler's header, not this code.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstddef>

#include "video/FastConversion.h"
#include "video/H264Decoder.h"
#include "video/SampledConversion.h"
#include "video/ScreenArithmetic.h"

#define KAVREL_AVX512 __attribute__((target("avx512f,avx512bw")))

namespace kavrel {
namespace {

using namespace screen;

struct ChromaTerms {
    __m512i redLow, redHigh, greenLow, greenHigh, blueLow, blueHigh;
};

struct ChromaSums {
    __m512i red, green, blue;
};

// The chroma terms of sixteen samples.
KAVREL_AVX512 inline ChromaSums Sums(const uint8_t* u, const uint8_t* v) {
    const __m512i u32 = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u)));
    const __m512i v32 = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)));
    const __m512i red = _mm512_add_epi32(_mm512_mullo_epi32(v32, _mm512_set1_epi32(kVRed)),
                                         _mm512_set1_epi32(kRedBias));
    const __m512i blue = _mm512_add_epi32(_mm512_mullo_epi32(u32, _mm512_set1_epi32(kUBlue)),
                                          _mm512_set1_epi32(kBlueBias));
    const __m512i green =
        _mm512_sub_epi32(_mm512_sub_epi32(_mm512_set1_epi32(kGreenBias),
                                          _mm512_mullo_epi32(v32, _mm512_set1_epi32(kVGreen))),
                         _mm512_mullo_epi32(u32, _mm512_set1_epi32(kUGreen)));
    return ChromaSums{red, green, blue};
}

// Sixteen chroma samples, each serving two neighbouring pixels.
KAVREL_AVX512 inline ChromaTerms LoadChroma(const uint8_t* u, const uint8_t* v) {
    const ChromaSums sums = Sums(u, v);
    const __m512i low = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
    const __m512i high =
        _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);
    return ChromaTerms{
        _mm512_permutexvar_epi32(low, sums.red),   _mm512_permutexvar_epi32(high, sums.red),
        _mm512_permutexvar_epi32(low, sums.green), _mm512_permutexvar_epi32(high, sums.green),
        _mm512_permutexvar_epi32(low, sums.blue),  _mm512_permutexvar_epi32(high, sums.blue)};
}

// Thirty-two chroma samples, one per pixel.
KAVREL_AVX512 inline ChromaTerms LoadPixelChroma(const uint8_t* u, const uint8_t* v) {
    const ChromaSums low = Sums(u, v);
    const ChromaSums high = Sums(u + 16, v + 16);
    return ChromaTerms{low.red, high.red, low.green, high.green, low.blue, high.blue};
}

KAVREL_AVX512 inline __m512i Channel(__m512i lumaLow, __m512i lumaHigh, __m512i termLow,
                                     __m512i termHigh) {
    return _mm512_packus_epi32(_mm512_srai_epi32(_mm512_add_epi32(lumaLow, termLow), 8),
                               _mm512_srai_epi32(_mm512_add_epi32(lumaHigh, termHigh), 8));
}

// Thirty-two pixels of one row.
KAVREL_AVX512 inline void ConvertThirtyTwo(const uint8_t* luma, const ChromaTerms& c,
                                           uint16_t* out) {
    const __m512i factor = _mm512_set1_epi32(kLuma);
    const __m512i lumaLow = _mm512_mullo_epi32(
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma))), factor);
    const __m512i lumaHigh = _mm512_mullo_epi32(
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + 16))), factor);
    const __m512i red = Channel(lumaLow, lumaHigh, c.redLow, c.redHigh);
    const __m512i green = Channel(lumaLow, lumaHigh, c.greenLow, c.greenHigh);
    const __m512i blue = Channel(lumaLow, lumaHigh, c.blueLow, c.blueHigh);
    // (red & 0xF800) | ((green >> 5) & 0x07E0) | (blue >> 11), as two bitwise selects
    // (0xCA: mask ? first : second, bit by bit).
    const __m512i redGreen = _mm512_ternarylogic_epi32(_mm512_set1_epi32(int32_t(0xF800F800)), red,
                                                       _mm512_srli_epi16(green, 5), 0xCA);
    const __m512i packed = _mm512_ternarylogic_epi32(_mm512_set1_epi32(int32_t(0xFFE0FFE0)),
                                                     redGreen, _mm512_srli_epi16(blue, 11), 0xCA);
    // The packs work within 128-bit quarters: put the eight 64-bit pieces back in order.
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    _mm512_storeu_si512(out, _mm512_permutexvar_epi64(order, packed));
}

}  // namespace

KAVREL_AVX512 void ConvertToScreenAvx512(const uint8_t* planar, uint16_t* out, int width,
                                         int height) {
    if (width <= 0 || height <= 0)
        return;
    const PlanarLayout layout = PlanarLayoutFor(width, height);
    const ChromaSampling chroma(width, height);
    const uint8_t* planeU = planar + layout.uOffset;
    const uint8_t* planeV = planar + layout.vOffset;
    const int vectorEnd = chroma.HasChroma() ? width - width % 32 : 0;
    ChromaTerms terms[kStretch / 32];  // 24 KB: stays in the first-level cache

    // Same order of work as the AVX2 path: chroma terms for a stretch of the
    // row pair, then each row in turn.
    for (int top = 0; top < height; top += 2) {
        const int rows = top + 1 < height ? 2 : 1;
        const uint8_t* chromaU = planeU;
        const uint8_t* chromaV = planeV;
        if (chroma.HasChroma()) {
            const size_t chromaRow = size_t(chroma.Row(top)) * size_t(chroma.chromaWidth);
            chromaU += chromaRow;
            chromaV += chromaRow;
        }
        for (int block = 0; block < vectorEnd; block += kStretch) {
            const int end = block + kStretch < vectorEnd ? block + kStretch : vectorEnd;
            for (int left = block; left < end; left += 32) {
                terms[(left - block) / 32] = LoadChroma(chromaU + left / 2, chromaV + left / 2);
            }
            for (int dy = 0; dy < rows; ++dy) {
                const size_t rowStart = size_t(top + dy) * size_t(width);
                for (int left = block; left < end; left += 32) {
                    ConvertThirtyTwo(planar + rowStart + size_t(left), terms[(left - block) / 32],
                                     out + rowStart + size_t(left));
                }
            }
        }
        for (int dy = 0; dy < rows; ++dy) {
            const size_t rowStart = size_t(top + dy) * size_t(width);
            ConvertTail(planar + rowStart, chromaU, chromaV, chroma, vectorEnd, width,
                        out + rowStart);
        }
    }
}

KAVREL_AVX512 void ConvertRowAvx512(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                    uint16_t* out, int count) {
    int x = 0;
    for (; x + 32 <= count; x += 32)
        ConvertThirtyTwo(y + x, LoadPixelChroma(u + x, v + x), out + x);
    for (; x < count; ++x)
        out[x] = ScalarPixel(y[x], u[x], v[x]);
}

}  // namespace kavrel
