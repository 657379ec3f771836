#pragma once
// A decoded picture in planar YUV 4:2:0 with 8-bit samples: where its three
// planes are and how far apart their rows lie. It only points at the planes:
// the decoder's own picture (no copy), or a packed buffer.

#include <cstddef>
#include <cstdint>

namespace kavrel {

// Packed planar YUV 4:2:0 layout: the Y plane (height rows of width bytes),
// then U and V (height/2 rows of width/2 bytes each; halves drop the
// remainder), with no gaps.
struct PlanarLayout {
    size_t lumaBytes = 0;
    size_t chromaBytes = 0;  // of one chroma plane
    size_t uOffset = 0;
    size_t vOffset = 0;
    size_t totalBytes = 0;
    int chromaWidth = 0;
    int chromaHeight = 0;
};
PlanarLayout PlanarLayoutFor(int width, int height);

struct PlanarPicture {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;  // width/2 x height/2 samples (none below 2 x 2)
    const uint8_t* v = nullptr;
    ptrdiff_t yStride = 0;  // bytes from one row to the next
    ptrdiff_t uStride = 0;
    ptrdiff_t vStride = 0;
    int width = 0;
    int height = 0;

    bool IsEmpty() const { return y == nullptr || width <= 0 || height <= 0; }
};

// The picture held packed at `planar` (PlanarLayoutFor(width, height)).
PlanarPicture PackedPicture(const uint8_t* planar, int width, int height);

}  // namespace kavrel
