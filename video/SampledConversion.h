#pragma once
// The picture on screen, converted at the size it is shown: the window
// stretches the decoded picture over its video area without smoothing (and,
// in full screen on a portrait monitor, turns it a quarter turn clockwise
// first), so only the pixels that the stretch samples are converted, straight
// from the decoder's planes into the target.
//
// The stretch is nearest-neighbour with centred samples: target index t of a
// target n long takes source index SampleIndex(t, source, n). Every value is
// the one the full conversion (ConvertToScreen) gives for that source pixel:
// same chroma rules, same arithmetic, on every conversion path.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/ByteGather.h"
#include "video/ColourTables.h"
#include "video/FastConversion.h"
#include "video/PlanarPicture.h"

namespace kavrel {

// The source index (0 to source - 1) that feeds target index `t` (0 to
// target - 1) when `source` samples are stretched over `target`.
inline int SampleIndex(int t, int source, int target) {
    return int((int64_t(2 * t + 1) * source) / (int64_t(2) * target));
}

// A part of a picture (the digital zoom's view), in fractions of the
// picture's width and height counted in units of 1/kViewUnit, so that it
// means the same part whatever size the stream is decoded at. The default is
// the whole picture. Kept inside the picture by whoever makes it (ZoomState).
inline constexpr int32_t kViewUnit = 1 << 16;
struct ViewRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = kViewUnit;
    int32_t height = kViewUnit;
    bool operator==(const ViewRect&) const = default;
    bool IsWhole() const { return *this == ViewRect{}; }
    // The same part of the picture turned a quarter turn clockwise: the
    // turned picture's columns are the upright rows counted from the bottom.
    ViewRect Turned() const { return ViewRect{kViewUnit - (y + height), x, height, width}; }
    // Brought inside the picture: at least one unit wide and tall, moved
    // (not shrunk) where it sticks out. ConvertSampled applies it to any part.
    ViewRect Clamped() const;
};

// SampleIndex over the part [from, from + length) (in 1/kViewUnit of
// `source`) instead of the whole: target index t takes the sample under the
// centre of its share of the part. With the whole part (0, kViewUnit) this is
// SampleIndex exactly, so the zoomed view and the full view sample alike.
// The result lies in 0 to source - 1 for any part inside the picture.
inline int SampleIndexIn(int t, int source, int target, int32_t from, int32_t length) {
    const int64_t twiceTarget = int64_t(2) * target;
    return int(((int64_t(from) * twiceTarget + int64_t(2 * t + 1) * length) * source) /
               (twiceTarget * kViewUnit));
}

// The pixels of `picture` that `part` covers, at the decoded resolution (a
// view snapshot): the part widened to whole pixels, with an even origin and
// an even size where the picture allows, so that every 2 x 2 chroma block of
// the crop is one of the picture's own and the crop converts to exactly the
// picture's pixels. Points into the picture's planes; no copy.
PlanarPicture CropToPart(const PlanarPicture& picture, const ViewRect& part);

// The size a picture of width x height has once turned (or not).
struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};
inline PictureSize ShownSize(int width, int height, bool turned) {
    return turned ? PictureSize{height, width} : PictureSize{width, height};
}

// Work space of ConvertSampled, kept between pictures so that a picture of
// the same sizes allocates nothing. One per converting thread.
struct SamplingScratch {
    std::vector<ptrdiff_t> lumaAt;        // per target column: offset in the luma row or plane
    std::vector<ptrdiff_t> uAt, vAt;      // the same in the chroma planes (turned: rows apart)
    std::vector<uint8_t> y, u, v;         // one target row's samples
    std::vector<uint16_t> row;            // one converted row, before widening
    std::vector<int32_t> spanAt;          // per target column: its place in the converted span
    std::vector<uint16_t> span;           // the source columns a row reads, converted
    std::vector<uint32_t> wideSpan;       // the same widened
    std::vector<int32_t> columnAt;        // per target column: a source column, for planning
    ByteGatherPlan lumaPlan, chromaPlan;  // a shrunk upright row's columns
};

// How the target's pixels are found. kBest converts each source row the
// target samples once, over the columns it reads, and spreads it to the
// target's columns (rows that sample the same source row are copies), unless
// the target reads less than half of those columns or is turned. Shrunk
// further, an upright target row picks its samples out of the source rows
// with byte shuffles planned once per picture (ByteGather.h) and converts
// them as one row. Turned, and always with kGather, each target pixel's
// samples are gathered one by one. All give the same values; kGather is kept
// to compare against.
enum class Sampling { kBest, kGather };

// Writes the part `part` (upright coordinates) of the picture, turned a
// quarter turn clockwise when `turned`, stretched to outWidth x outHeight
// RGB565 values (red in bits 15-11) whose rows lie `outStride` values apart,
// top row first. Only the target's pixels are gathered, so a zoomed part
// costs no more than the whole. Nothing for an empty picture or target.
void ConvertSampled(ConversionPath path, const PlanarPicture& picture, bool turned, uint16_t* out,
                    ptrdiff_t outStride, int outWidth, int outHeight, SamplingScratch& scratch,
                    const ViewRect& part = {}, Sampling sampling = Sampling::kBest);

// The same as 32-bit values 0xFFRRGGBB, each channel of the 16-bit value
// widened by repeating its top bits (as a 16-bit picture is widened when it
// is drawn), so the screen shows exactly what the 16-bit picture would. The
// form a desktop's window surface takes without conversion.
void ConvertSampled(ConversionPath path, const PlanarPicture& picture, bool turned, uint32_t* out,
                    ptrdiff_t outStride, int outWidth, int outHeight, SamplingScratch& scratch,
                    const ViewRect& part = {}, Sampling sampling = Sampling::kBest);

inline uint32_t WidenRgb565(uint16_t value) {
    const uint32_t red = value >> 11;
    const uint32_t green = (value >> 5) & 0x3F;
    const uint32_t blue = value & 0x1F;
    return 0xFF000000u | (((red << 3) | (red >> 2)) << 16) | (((green << 2) | (green >> 4)) << 8) |
           ((blue << 3) | (blue >> 2));
}

// One row of `count` pixels, each with its own Y, U and V sample.
void ConvertRow(ConversionPath path, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                uint16_t* out, int count);
void ConvertRowAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint16_t* out, int count);
void ConvertRowAvx512(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint16_t* out,
                      int count);
// Columns [from, to) of one picture row, `from` even: `u` and `v` point at
// the row's chroma rows, pixel x takes chroma sample chroma.Column(x), and
// out[0] is column `from`'s value.
void ConvertSpan(ConversionPath path, const uint8_t* luma, const uint8_t* u, const uint8_t* v,
                 const ChromaSampling& chroma, int from, int to, uint16_t* out);
void ConvertSpanAvx2(const uint8_t* luma, const uint8_t* u, const uint8_t* v,
                     const ChromaSampling& chroma, int from, int to, uint16_t* out);
// out[x] = in[at[x]] over a row.
void GatherRowAvx2(const uint32_t* in, const int32_t* at, uint32_t* out, int count);
// The same where `at` never rises by more than `step` (1 or 2) from one
// target to the next: eight targets then read the 8 * step values from
// at[x] on, and `in` must hold 8 * step - 1 readable values past its last one.
void SpreadRowAvx2(const uint32_t* in, const int32_t* at, uint32_t* out, int count, int step);
// WidenRgb565 over a row.
void WidenRow(const uint16_t* in, uint32_t* out, int count);
void WidenRowAvx2(const uint16_t* in, uint32_t* out, int count);

}  // namespace kavrel
