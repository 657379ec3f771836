#include "video/FastConversion.h"

#include <cstddef>

#include "video/H264Decoder.h"

namespace kavrel {

// The compiler's run-time check also confirms that the operating system
// saves the wider registers. Asked once; the answers never change.
bool CpuSupportsAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported;
#else
    return false;
#endif
}

bool CpuSupportsAvx512() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
    }();
    return supported;
#else
    return false;
#endif
}

bool CpuSupports(ConversionPath path) {
    switch (path) {
        case ConversionPath::kAvx512:
            return CpuSupportsAvx512();
        case ConversionPath::kAvx2:
            return CpuSupportsAvx2();
        case ConversionPath::kScalar:
            break;
    }
    return true;
}

ConversionPath BestConversionPath() {
    static const ConversionPath path = CpuSupportsAvx512() ? ConversionPath::kAvx512
                                       : CpuSupportsAvx2() ? ConversionPath::kAvx2
                                                           : ConversionPath::kScalar;
    return path;
}

const char* ConversionPathName(ConversionPath path) {
    switch (path) {
        case ConversionPath::kAvx512:
            return "avx512";
        case ConversionPath::kAvx2:
            return "avx2";
        case ConversionPath::kScalar:
            break;
    }
    return "scalar";
}

void ConvertToScreen(ConversionPath path, const ColourTables& tables, const uint8_t* planar,
                     uint16_t* out, int width, int height) {
    if (path == ConversionPath::kAvx512 && CpuSupportsAvx512()) {
        ConvertToScreenAvx512(planar, out, width, height);
    } else if (path == ConversionPath::kAvx2 && CpuSupportsAvx2()) {
        ConvertToScreenAvx2(planar, out, width, height);
    } else {
        ConvertToScreenScalar(tables, planar, out, width, height);
    }
}

namespace {

// One pixel from its luma and the chroma terms of its 2 x 2 block.
inline uint16_t ScreenPixel(const ColourTables& t, uint8_t y, int32_t red, int32_t green,
                            int32_t blue) {
    const int32_t l = t.luma[y];
    return PackRgb565(t.Clamp((l + red) >> 16), t.Clamp((l - green) >> 16),
                      t.Clamp((l + blue) >> 16));
}

}  // namespace

void ConvertToScreenScalar(const ColourTables& tables, const uint8_t* planar, uint16_t* out,
                           int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    const PlanarLayout layout = PlanarLayoutFor(width, height);
    const ChromaSampling chroma(width, height);
    const uint8_t* planeU = planar + layout.uOffset;
    const uint8_t* planeV = planar + layout.vOffset;

    // Two rows at a time, so each chroma pair is looked up once per 2 x 2 block.
    for (int top = 0; top < height; top += 2) {
        const int rows = top + 1 < height ? 2 : 1;
        const uint8_t* luma0 = planar + size_t(top) * size_t(width);
        const uint8_t* luma1 = rows == 2 ? luma0 + width : luma0;
        uint16_t* out0 = out + size_t(top) * size_t(width);
        uint16_t* out1 = rows == 2 ? out0 + width : out0;
        const size_t chromaRow =
            chroma.HasChroma() ? size_t(chroma.Row(top)) * size_t(chroma.chromaWidth) : 0;
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
            // With one row, out1 is out0 and luma1 is luma0: the same value twice.
            out0[left] = ScreenPixel(tables, luma0[left], red, green, blue);
            out1[left] = ScreenPixel(tables, luma1[left], red, green, blue);
            if (left + 1 < width) {
                out0[left + 1] = ScreenPixel(tables, luma0[left + 1], red, green, blue);
                out1[left + 1] = ScreenPixel(tables, luma1[left + 1], red, green, blue);
            }
        }
    }
}

}  // namespace kavrel
