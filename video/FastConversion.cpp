#include "video/FastConversion.h"

#include <cstddef>

#include "video/H264Decoder.h"

namespace kavrel {

bool CpuSupportsAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

ConversionPath BestConversionPath() {
    static const ConversionPath path =
        CpuSupportsAvx2() ? ConversionPath::kAvx2 : ConversionPath::kScalar;
    return path;
}

const char* ConversionPathName(ConversionPath path) {
    switch (path) {
        case ConversionPath::kAvx2:
            return "avx2";
        case ConversionPath::kScalar:
            break;
    }
    return "scalar";
}

void ConvertToScreen(ConversionPath path, const ColourTables& tables, const uint8_t* planar,
                     uint16_t* out, int width, int height) {
    if (path == ConversionPath::kAvx2 && CpuSupportsAvx2()) {
        ConvertToScreenAvx2(planar, out, width, height);
    } else {
        ConvertToScreenScalar(tables, planar, out, width, height);
    }
}

void ConvertToScreenScalar(const ColourTables& tables, const uint8_t* planar, uint16_t* out,
                           int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    const PlanarLayout layout = PlanarLayoutFor(width, height);
    const ChromaSampling chroma(width, height);
    const uint8_t* planeU = planar + layout.uOffset;
    const uint8_t* planeV = planar + layout.vOffset;

    for (int row = 0; row < height; ++row) {
        const uint8_t* lumaRow = planar + size_t(row) * size_t(width);
        uint16_t* outRow = out + size_t(row) * size_t(width);
        const size_t chromaRow =
            chroma.HasChroma() ? size_t(chroma.Row(row)) * size_t(chroma.chromaWidth) : 0;
        for (int left = 0; left < width; left += 2) {
            int32_t red = 0;
            int32_t green = 0;
            int32_t blue = 0;
            if (chroma.HasChroma()) {
                const size_t at = chromaRow + size_t(chroma.Column(left));
                red = tables.vRed[planeV[at]];
                green = tables.vGreen[planeV[at]] + tables.uGreen[planeU[at]];
                blue = tables.uBlue[planeU[at]];
            }
            const int end = left + 2 < width ? left + 2 : width;
            for (int x = left; x < end; ++x) {
                const int32_t l = tables.luma[lumaRow[x]];
                outRow[x] =
                    PackRgb565(tables.Clamp((l + red) >> 16), tables.Clamp((l - green) >> 16),
                               tables.Clamp((l + blue) >> 16));
            }
        }
    }
}

}  // namespace kavrel
