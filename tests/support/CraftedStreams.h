#pragma once
// Hand-made H.264 for tests and fuzz seeds that need a stream no encoder would
// make: parameter sets announcing a picture far beyond any real camera.

#include <cstdint>
#include <vector>

namespace kavrel::test {

// One key frame as a server sends it: SPS, PPS and the start of an IDR slice,
// each behind a 4-byte start code. The sequence parameter set announces
// widthInMacroblocks x heightInMacroblocks (16 pixels each); the slice carries
// a few bytes of macroblock data only, so the frame is small whatever it announces.
std::vector<uint8_t> OversizedH264KeyFrame(int widthInMacroblocks, int heightInMacroblocks);

}  // namespace kavrel::test
