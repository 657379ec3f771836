#pragma once
// Row order and orientation of 16-bit pictures (one value per pixel, rows of
// `width` values with no gap).

#include <cstdint>

namespace kavrel {

// Reverses the row order in place (bottom-up to top-down and back).
void FlipRows(uint16_t* pixels, int width, int height);

// A quarter turn clockwise: the pixel in row i, column j of the width x height
// `source` goes to row j, column height - 1 - i of `target`, a picture that is
// height pixels wide and width rows tall. The two must not overlap.
void RotateClockwise(const uint16_t* source, uint16_t* target, int width, int height);

}  // namespace kavrel
