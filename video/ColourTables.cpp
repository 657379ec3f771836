#include "video/ColourTables.h"

#include <cstddef>

#include "video/H264Decoder.h"

namespace kavrel {

void ColourTables::Build() {
    for (int i = 0; i < int(clamp.size()); ++i) {
        const int value = i - kClampOffset;
        clamp[size_t(i)] = uint8_t(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
    for (int i = 0; i < 256; ++i) {
        vRed[size_t(i)] = 104597 * (i - 128);
        uBlue[size_t(i)] = 132201 * (i - 128);
        uGreen[size_t(i)] = 25675 * (i - 128);
        vGreen[size_t(i)] = 53279 * (i - 128);
        luma[size_t(i)] = 76309 * (i - 16);
    }
}

void ConvertToRgb(const ColourTables& tables, const uint8_t* planar, uint8_t* rgb, int width,
                  int height) {
    ConvertToRgb(tables, PackedPicture(planar, width, height), rgb);
}

void ConvertToRgb(const ColourTables& tables, const PlanarPicture& picture, uint8_t* rgb) {
    if (picture.IsEmpty())
        return;
    const int width = picture.width;
    const int height = picture.height;
    const ChromaSampling chroma(width, height);
    const size_t rowBytes = 3 * size_t(width);

    // Two picture rows by four columns per step, as two 2 x 2 blocks that
    // each load their chroma pair once; the bounds tests only cut the last
    // row pair or column group short.
    for (int top = 0; top < height; top += 2) {
        const int rows = top + 1 < height ? 2 : 1;
        const int chromaRow = chroma.HasChroma() ? chroma.Row(top) : 0;
        for (int left = 0; left < width; left += 2) {
            int32_t red = 0;
            int32_t green = 0;
            int32_t blue = 0;
            if (chroma.HasChroma()) {
                const uint8_t u =
                    picture.u[ptrdiff_t(chromaRow) * picture.uStride + chroma.Column(left)];
                const uint8_t v =
                    picture.v[ptrdiff_t(chromaRow) * picture.vStride + chroma.Column(left)];
                red = tables.vRed[v];
                green = tables.vGreen[v] + tables.uGreen[u];
                blue = tables.uBlue[u];
            }
            const int columns = left + 1 < width ? 2 : 1;
            for (int dy = 0; dy < rows; ++dy) {
                const uint8_t* lumaRow = picture.y + ptrdiff_t(top + dy) * picture.yStride;
                uint8_t* out = rgb + size_t(height - 1 - top - dy) * rowBytes + 3 * size_t(left);
                for (int dx = 0; dx < columns; ++dx) {
                    const int32_t l = tables.luma[lumaRow[left + dx]];
                    out[3 * dx] = tables.Clamp((l + blue) >> 16);
                    out[3 * dx + 1] = tables.Clamp((l - green) >> 16);
                    out[3 * dx + 2] = tables.Clamp((l + red) >> 16);
                }
            }
        }
    }
}

void ConvertToRgb565(const uint8_t* rgb, uint16_t* out16, int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    const size_t pixels = size_t(width) * size_t(height);
    for (size_t i = 0; i < pixels; ++i) {
        out16[i] = PackRgb565(rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i]);
    }
}

}  // namespace kavrel
