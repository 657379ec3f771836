#include "video/PictureTransform.h"

#include <algorithm>
#include <cstddef>

namespace kavrel {

void FlipRows(uint16_t* pixels, int width, int height) {
    if (width <= 0 || height <= 1)
        return;
    for (int row = 0; row < height / 2; ++row) {
        uint16_t* top = pixels + size_t(row) * size_t(width);
        uint16_t* bottom = pixels + size_t(height - 1 - row) * size_t(width);
        std::swap_ranges(top, top + width, bottom);
    }
}

void RotateClockwise(const uint16_t* source, uint16_t* target, int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    // Square tiles keep both the reads and the strided writes within a few
    // cache lines; a plain double loop misses the cache on every write.
    constexpr int kTile = 32;
    const size_t targetWidth = size_t(height);
    for (int rowStart = 0; rowStart < height; rowStart += kTile) {
        const int rowEnd = std::min(height, rowStart + kTile);
        for (int columnStart = 0; columnStart < width; columnStart += kTile) {
            const int columnEnd = std::min(width, columnStart + kTile);
            for (int column = columnStart; column < columnEnd; ++column) {
                uint16_t* out = target + size_t(column) * targetWidth;
                for (int row = rowStart; row < rowEnd; ++row) {
                    out[targetWidth - 1 - size_t(row)] =
                        source[size_t(row) * size_t(width) + size_t(column)];
                }
            }
        }
    }
}

}  // namespace kavrel
