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
};

bool CpuSupportsAvx2();
// kAvx2 when the processor has it, else kScalar. Decided once per process.
ConversionPath BestConversionPath();
const char* ConversionPathName(ConversionPath path);

// Planar picture (PlanarLayoutFor(width, height)) to width * height top-down
// RGB565 values. `tables` must be built; kAvx2 must only be asked for when
// CpuSupportsAvx2() (it falls back to kScalar otherwise).
void ConvertToScreen(ConversionPath path, const ColourTables& tables, const uint8_t* planar,
                     uint16_t* out, int width, int height);

// The two paths, for tests and benchmarks.
void ConvertToScreenScalar(const ColourTables& tables, const uint8_t* planar, uint16_t* out,
                           int width, int height);
void ConvertToScreenAvx2(const uint8_t* planar, uint16_t* out, int width, int height);

}  // namespace kavrel
