#pragma once
// Reading just enough of an H.264 or H.265 byte stream (start codes before
// each unit) to copy it into a file: where the units are, which codec the
// parameter sets say (the decoder's own DetectCodec), and the parameter sets
// themselves. No decoding.
//
// Pure functions over a byte span; any thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "video/StreamCodec.h"

namespace kavrel::record {

// One unit of the stream: its bytes without the start code.
struct NalUnit {
    std::span<const uint8_t> bytes;
    int type = -1;  // in the codec's own numbering
};

// The units of `frame` in order. Empty when the frame does not begin with a
// start code (three or four bytes: 0 0 1 or 0 0 0 1) or holds an empty unit
// only: such a frame is not a byte stream the recorder can copy.
std::vector<NalUnit> SplitAnnexB(std::span<const uint8_t> frame, VideoCodec codec);

// The frame's parameter sets in stream order, each behind a four-byte start
// code: what the file's codec description is made from. Empty when none.
std::vector<uint8_t> ParameterSets(std::span<const uint8_t> frame, VideoCodec codec);

}  // namespace kavrel::record
