#pragma once
// Shared by the video tests: the reference picture of the table conversion,
// and lossless streams of known pictures.

#include <cstdint>
#include <vector>

#include "tests/support/H264TestEncoder.h"
#include "video/ColourTables.h"
#include "video/PictureTransform.h"
#include "video/SampledConversion.h"

namespace kavrel::test {

// The reference table conversion: 24 bits, then 16 bits, then the row flip.
inline std::vector<uint16_t> ReferenceScreen(const YuvPicture& picture) {
    ColourTables tables;
    tables.Build();
    std::vector<uint8_t> rgb(3 * size_t(picture.width) * picture.height);
    std::vector<uint16_t> screen(size_t(picture.width) * picture.height);
    ConvertToRgb(tables, picture.bytes.data(), rgb.data(), picture.width, picture.height);
    ConvertToRgb565(rgb.data(), screen.data(), picture.width, picture.height);
    FlipRows(screen.data(), picture.width, picture.height);
    return screen;
}

// The full conversion `full` (upright, or already turned when `turned`;
// shown.width x shown.height values) cropped to `part` and stretched to
// width x height with the defined sampling: what a zoomed view must show.
inline std::vector<uint16_t> CroppedAndStretched(const std::vector<uint16_t>& full,
                                                 PictureSize shown, bool turned,
                                                 const ViewRect& part, int width, int height) {
    const ViewRect seen = turned ? part.Turned() : part;
    std::vector<uint16_t> out(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const int row = SampleIndexIn(y, shown.height, height, seen.y, seen.height);
        for (int x = 0; x < width; ++x) {
            const int column = SampleIndexIn(x, shown.width, width, seen.x, seen.width);
            out[size_t(y) * size_t(width) + size_t(x)] =
                full[size_t(row) * size_t(shown.width) + size_t(column)];
        }
    }
    return out;
}

struct TestStream {
    std::vector<YuvPicture> pictures;
    std::vector<EncodedFrame> frames;
};

// Lossless (qp 0) noise pictures, a key frame every `gop` frames.
inline TestStream MakeLosslessStream(int width, int height, int count, int gop, uint32_t seed = 1) {
    TestStream stream;
    for (int i = 0; i < count; ++i) {
        stream.pictures.push_back(MakeNoisePicture(width, height, seed + uint32_t(i)));
    }
    EncoderOptions options;
    options.width = width;
    options.height = height;
    options.gopSize = gop;
    stream.frames = EncodeSequence(options, stream.pictures);
    return stream;
}

// Hands frames [from, to) to anything with AddFrame (the pipeline, the window).
template <typename Target>
void Feed(Target& target, const std::vector<EncodedFrame>& frames, size_t from = 0,
          size_t to = SIZE_MAX) {
    for (size_t i = from; i < frames.size() && i < to; ++i) {
        target.AddFrame(frames[i].bytes.data(), int(frames[i].bytes.size()),
                        frames[i].keyFrame ? 1 : 0);
    }
}

}  // namespace kavrel::test
