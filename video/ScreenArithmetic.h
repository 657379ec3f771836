#pragma once
// Shared by the SIMD paths of ConvertToScreen: the table arithmetic written
// out as constants (the tables hold exact products, so the same sums formed
// directly are the same integers), and the plain per-pixel form used for the
// last columns of a row that do not fill a whole vector.

#include <cstddef>
#include <cstdint>

#include "video/ColourTables.h"

namespace kavrel::screen {

inline constexpr int32_t kLuma = 76309;
inline constexpr int32_t kLumaBias = -16 * kLuma;  // folded into the chroma terms
inline constexpr int32_t kVRed = 104597;
inline constexpr int32_t kUBlue = 132201;
inline constexpr int32_t kUGreen = 25675;
inline constexpr int32_t kVGreen = 53279;
// Chroma terms including the luma bias: sum = kLuma * y + term.
inline constexpr int32_t kRedBias = kLumaBias - 128 * kVRed;
inline constexpr int32_t kBlueBias = kLumaBias - 128 * kUBlue;
inline constexpr int32_t kGreenBias = kLumaBias + 128 * (kUGreen + kVGreen);

// Pixels per stretch of a row pair whose chroma terms are made at once.
inline constexpr int kStretch = 2048;

inline uint16_t ScalarPixel(int y, int u, int v) {
    auto clamp = [](int32_t value) { return value < 0 ? 0 : (value > 255 ? 255 : value); };
    const int32_t l = kLuma * y + kLumaBias;
    const int32_t red = clamp((l + kVRed * (v - 128)) >> 16);
    const int32_t green = clamp((l - kVGreen * (v - 128) - kUGreen * (u - 128)) >> 16);
    const int32_t blue = clamp((l + kUBlue * (u - 128)) >> 16);
    return uint16_t(((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3));
}

// Columns [from, width) of one row; chromaU and chromaV point at the row's
// chroma row (unused without chroma).
inline void ConvertTail(const uint8_t* lumaRow, const uint8_t* chromaU, const uint8_t* chromaV,
                        const ChromaSampling& chroma, int from, int width, uint16_t* outRow) {
    for (int x = from; x < width; ++x) {
        int u = 128;
        int v = 128;
        if (chroma.HasChroma()) {
            u = chromaU[chroma.Column(x)];
            v = chromaV[chroma.Column(x)];
        }
        outRow[x] = ScalarPixel(lumaRow[x], u, v);
    }
}

}  // namespace kavrel::screen
