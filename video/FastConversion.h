#pragma once
// The fast way from a decoded picture to the 16-bit picture on screen: one
// pass from planar YUV 4:2:0 straight to top-down RGB565, with no 24-bit
// picture in between. Every output value is identical to ConvertToRgb, then
// ConvertToRgb565, then FlipRows (ColourTables.h): same arithmetic, same
// truncation, same edge rules.
//
// The SIMD path is chosen at run time from what the processor supports; the
// binary itself is built for any x86-64 processor.

#include <cstdint>

#include "video/ColourTables.h"

namespace kavrel {

enum class ConversionPath {
    kScalar,  // table look-ups, one pixel at a time
    kAvx2,    // eight 32-bit lanes, exact integer arithmetic
    kAvx512,  // the same on sixteen lanes (AVX-512 F and BW)
};

bool CpuSupportsAvx2();
bool CpuSupportsAvx512();
bool CpuSupports(ConversionPath path);
// The widest path the processor has. Decided once per process.
ConversionPath BestConversionPath();
const char* ConversionPathName(ConversionPath path);

// Planar picture (PlanarLayoutFor(width, height)) to width * height top-down
// RGB565 values. `tables` must be built. A SIMD path that the processor
// lacks falls back to kScalar.
void ConvertToScreen(ConversionPath path, const ColourTables& tables, const uint8_t* planar,
                     uint16_t* out, int width, int height);

// The paths one by one, for tests and benchmarks (the SIMD ones only where
// CpuSupports says so).
void ConvertToScreenScalar(const ColourTables& tables, const uint8_t* planar, uint16_t* out,
                           int width, int height);
void ConvertToScreenAvx2(const uint8_t* planar, uint16_t* out, int width, int height);
void ConvertToScreenAvx512(const uint8_t* planar, uint16_t* out, int width, int height);

}  // namespace kavrel
