#pragma once
// The reference picture conversion: table look-ups in 16.16 fixed point
// (ITU-R BT.601 studio range), YUV 4:2:0 to a 24-bit bottom-up picture, then
// to 16 bits. This is the reference every faster path must match byte for
// byte (see FastConversion.h).
//
// Edges: a picture whose width is not a multiple of 4 or whose height is odd
// is converted completely; pixel column j uses chroma column j/2 and picture
// row i uses chroma row i/2, each capped at the last chroma sample that exists
// (halves drop the remainder, so an odd last column or row has none of its
// own). A picture narrower or shorter than 2 pixels has no chroma at all and
// is converted with U = V = 128 (grey).

#include <array>
#include <cstddef>
#include <cstdint>

#include "video/PlanarPicture.h"

namespace kavrel {

struct ColourTables {
    static constexpr int kClampOffset = 384;  // clamp is indexed -384 ... 639

    std::array<uint8_t, 1024> clamp{};
    std::array<int32_t, 256> vRed{};    // 104597 * (i - 128)
    std::array<int32_t, 256> uBlue{};   // 132201 * (i - 128)
    std::array<int32_t, 256> uGreen{};  // 25675 * (i - 128)
    std::array<int32_t, 256> vGreen{};  // 53279 * (i - 128)
    std::array<int32_t, 256> luma{};    // 76309 * (i - 16)

    // Fills every table; cheap (about 2 KB of work), done on each decoder start.
    void Build();

    uint8_t Clamp(int32_t index) const { return clamp[size_t(index + kClampOffset)]; }
};

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
};

// One pixel through the tables.
inline Rgb ConvertPixel(const ColourTables& t, uint8_t y, uint8_t u, uint8_t v) {
    const int32_t l = t.luma[y];
    return Rgb{t.Clamp((l + t.vRed[v]) >> 16), t.Clamp((l - t.vGreen[v] - t.uGreen[u]) >> 16),
               t.Clamp((l + t.uBlue[u]) >> 16)};
}

// Red in bits 15-11, green in 10-5, blue in 4-0; low bits dropped.
inline uint16_t PackRgb565(uint8_t red, uint8_t green, uint8_t blue) {
    return uint16_t(((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3));
}

// Which chroma sample a pixel uses (see the edge rules above).
struct ChromaSampling {
    int chromaWidth = 0;
    int chromaHeight = 0;

    ChromaSampling(int width, int height) : chromaWidth(width / 2), chromaHeight(height / 2) {}
    bool HasChroma() const { return chromaWidth > 0 && chromaHeight > 0; }
    int Column(int x) const { return x / 2 < chromaWidth ? x / 2 : chromaWidth - 1; }
    int Row(int y) const { return y / 2 < chromaHeight ? y / 2 : chromaHeight - 1; }
};

// Planar picture (PlanarLayoutFor(width, height)) to the 24-bit picture:
// 3 * width * height bytes, blue green red per pixel, rows with no gap,
// bottom row first.
void ConvertToRgb(const ColourTables& tables, const uint8_t* planar, uint8_t* rgb, int width,
                  int height);
// The same from the planes where they are: 3 * width * height bytes.
void ConvertToRgb(const ColourTables& tables, const PlanarPicture& picture, uint8_t* rgb);

// The 24-bit picture to width * height 16-bit values in the same (bottom-up) row order.
void ConvertToRgb565(const uint8_t* rgb, uint16_t* out16, int width, int height);

}  // namespace kavrel
