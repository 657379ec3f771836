#pragma once
// What a frame's NAL units say before a decoder sees them: which codec the
// stream is (from its parameter sets) and how large a picture its sequence
// parameter set announces. Pure functions over the bytes; no library.
//
// Frames are Annex B byte streams (start codes of 3 or 4 bytes). Only the
// parameter sets are looked at, so anything may stand before them (AUD, SEI).

#include <cstddef>
#include <cstdint>

namespace kavrel {

enum class VideoCodec { kUnknown, kH264, kH265 };

// The codec of the first parameter set in the frame: H.264 SPS or PPS (NAL
// types 7, 8) or H.265 VPS, SPS or PPS (types 32 to 34 of the two-byte header,
// base layer). kUnknown when there is none: a frame that is not a key frame,
// or a stream that is neither.
VideoCodec DetectCodec(const uint8_t* data, size_t size);

// "H.264", "H.265", or "" for kUnknown.
const char* CodecName(VideoCodec codec);

// The largest picture (width x height in luma samples, before cropping) that a
// sequence parameter set of `codec` in the frame announces; 0 when the frame
// has none or it cannot be read.
uint64_t AnnouncedPixels(VideoCodec codec, const uint8_t* data, size_t size);

}  // namespace kavrel
