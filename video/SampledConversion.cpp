#include "video/SampledConversion.h"

#include <algorithm>

#include "video/ColourTables.h"
#include "video/ScreenArithmetic.h"

namespace kavrel {

ViewRect ViewRect::Clamped() const {
    auto clampAxis = [](int32_t& from, int32_t& length) {
        length = std::clamp(length, int32_t(1), kViewUnit);
        from = std::clamp(from, int32_t(0), kViewUnit - length);
    };
    ViewRect inside = *this;
    clampAxis(inside.x, inside.width);
    clampAxis(inside.y, inside.height);
    return inside;
}

PlanarPicture CropToPart(const PlanarPicture& picture, const ViewRect& part) {
    if (picture.IsEmpty())
        return picture;
    const ViewRect inside = part.Clamped();
    // [first, end) of `size` pixels, the first even and the end even or the edge.
    auto span = [](int size, int32_t from, int32_t length, int* first, int* end) {
        const int64_t low = int64_t(from) * size / kViewUnit;
        const int64_t high = (int64_t(from + length) * size + kViewUnit - 1) / kViewUnit;
        *first = int(low) & ~1;
        *end = std::min(size, (int(std::max<int64_t>(high, low + 1)) + 1) & ~1);
    };
    int left = 0, right = 0, top = 0, bottom = 0;
    span(picture.width, inside.x, inside.width, &left, &right);
    span(picture.height, inside.y, inside.height, &top, &bottom);
    PlanarPicture crop = picture;
    crop.width = right - left;
    crop.height = bottom - top;
    crop.y = picture.y + ptrdiff_t(top) * picture.yStride + left;
    if (ChromaSampling(picture.width, picture.height).HasChroma() && picture.u && picture.v) {
        crop.u = picture.u + ptrdiff_t(top / 2) * picture.uStride + left / 2;
        crop.v = picture.v + ptrdiff_t(top / 2) * picture.vStride + left / 2;
    }
    return crop;
}

void ConvertRow(ConversionPath path, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                uint16_t* out, int count) {
    if (path == ConversionPath::kAvx512 && CpuSupportsAvx512()) {
        ConvertRowAvx512(y, u, v, out, count);
    } else if (path == ConversionPath::kAvx2 && CpuSupportsAvx2()) {
        ConvertRowAvx2(y, u, v, out, count);
    } else {
        for (int x = 0; x < count; ++x)
            out[x] = screen::ScalarPixel(y[x], u[x], v[x]);
    }
}

void WidenRow(const uint16_t* in, uint32_t* out, int count) {
    if (CpuSupportsAvx2()) {
        WidenRowAvx2(in, out, count);
        return;
    }
    for (int x = 0; x < count; ++x)
        out[x] = WidenRgb565(in[x]);
}

namespace {

// Gathers each target row's samples and hands them to `take(ty, y, u, v)`.
// `planned` (upright only) picks them with the shuffles of a ByteGatherPlan.
template <typename Take>
void SampleRows(const PlanarPicture& picture, bool turned, bool planned, const ViewRect& part,
                int outWidth, int outHeight, SamplingScratch& scratch, Take take) {
    const ChromaSampling chroma(picture.width, picture.height);
    const bool hasChroma = chroma.HasChroma() && picture.u != nullptr && picture.v != nullptr;
    const size_t columns = size_t(outWidth);
    scratch.lumaAt.resize(columns);
    scratch.uAt.resize(columns);
    scratch.vAt.resize(columns);
    scratch.y.resize(columns);
    scratch.u.resize(columns);
    scratch.v.resize(columns);
    // Grey where the picture has no chroma at all.
    std::fill(scratch.u.begin(), scratch.u.end(), uint8_t(128));
    std::fill(scratch.v.begin(), scratch.v.end(), uint8_t(128));

    // The chroma planes' offsets are one array when their rows lie alike.
    const bool sharedChroma = !turned || picture.uStride == picture.vStride;

    // Upright, a target column is a source column and a target row a source
    // row. Turned, a target column is a source row counted from the bottom and
    // a target row a source column. The per-column offsets are made once.
    const PictureSize shown = ShownSize(picture.width, picture.height, turned);
    const ViewRect seen = turned ? part.Clamped().Turned() : part.Clamped();
    for (int tx = 0; tx < outWidth; ++tx) {
        const int along = SampleIndexIn(tx, shown.width, outWidth, seen.x, seen.width);
        if (!turned) {
            scratch.lumaAt[size_t(tx)] = along;
            scratch.uAt[size_t(tx)] = scratch.vAt[size_t(tx)] =
                hasChroma ? chroma.Column(along) : 0;
        } else {
            const int row = picture.height - 1 - along;
            scratch.lumaAt[size_t(tx)] = ptrdiff_t(row) * picture.yStride;
            if (hasChroma) {
                scratch.uAt[size_t(tx)] = ptrdiff_t(chroma.Row(row)) * picture.uStride;
                scratch.vAt[size_t(tx)] = ptrdiff_t(chroma.Row(row)) * picture.vStride;
            }
        }
    }

    planned = planned && !turned;
    if (planned) {
        // Upright, every row reads the same columns: planned once here.
        scratch.columnAt.assign(scratch.lumaAt.begin(), scratch.lumaAt.end());
        MakeByteGatherPlan(scratch.columnAt.data(), outWidth, picture.width, scratch.lumaPlan);
        if (hasChroma) {
            scratch.columnAt.assign(scratch.uAt.begin(), scratch.uAt.end());
            MakeByteGatherPlan(scratch.columnAt.data(), outWidth, chroma.chromaWidth,
                               scratch.chromaPlan);
        }
    }

    // Upright, the columns a row reads lie between the first and the last
    // target column's: only those are fetched ahead.
    const ptrdiff_t firstColumn = turned ? 0 : scratch.lumaAt.front();
    const ptrdiff_t lastColumn = turned ? 0 : scratch.lumaAt.back();
    for (int ty = 0; ty < outHeight; ++ty) {
        const int along = SampleIndexIn(ty, shown.height, outHeight, seen.y, seen.height);
        const uint8_t* lumaBase;
        const uint8_t* uBase = nullptr;
        const uint8_t* vBase = nullptr;
        if (!turned) {
            lumaBase = picture.y + ptrdiff_t(along) * picture.yStride;
            if (hasChroma) {
                uBase = picture.u + ptrdiff_t(chroma.Row(along)) * picture.uStride;
                vBase = picture.v + ptrdiff_t(chroma.Row(along)) * picture.vStride;
            }
        } else {
            lumaBase = picture.y + along;
            if (hasChroma) {
                uBase = picture.u + chroma.Column(along);
                vBase = picture.v + chroma.Column(along);
            }
        }
        // The next target row's source rows, fetched while this one converts:
        // the decoded picture is larger than the caches.
        if (!turned && ty + 1 < outHeight) {
            const int next = SampleIndexIn(ty + 1, shown.height, outHeight, seen.y, seen.height);
            const uint8_t* row = picture.y + ptrdiff_t(next) * picture.yStride;
            for (ptrdiff_t x = firstColumn; x <= lastColumn; x += 64)
                __builtin_prefetch(row + x);
            if (hasChroma && chroma.Row(next) != chroma.Row(along)) {
                const uint8_t* u = picture.u + ptrdiff_t(chroma.Row(next)) * picture.uStride;
                const uint8_t* v = picture.v + ptrdiff_t(chroma.Row(next)) * picture.vStride;
                for (ptrdiff_t x = firstColumn / 2; x <= lastColumn / 2; x += 64) {
                    __builtin_prefetch(u + x);
                    __builtin_prefetch(v + x);
                }
            }
        }
        if (planned) {
            GatherBytes(lumaBase, scratch.lumaPlan, scratch.y.data());
            if (hasChroma) {
                GatherBytes(uBase, scratch.chromaPlan, scratch.u.data());
                GatherBytes(vBase, scratch.chromaPlan, scratch.v.data());
            }
            take(ty, scratch.y.data(), scratch.u.data(), scratch.v.data());
            continue;
        }
        const ptrdiff_t* lumaAt = scratch.lumaAt.data();
        uint8_t* y = scratch.y.data();
        for (size_t tx = 0; tx < columns; ++tx)
            y[tx] = lumaBase[lumaAt[tx]];
        if (hasChroma) {
            const ptrdiff_t* uAt = scratch.uAt.data();
            const ptrdiff_t* vAt = sharedChroma ? uAt : scratch.vAt.data();
            uint8_t* u = scratch.u.data();
            uint8_t* v = scratch.v.data();
            for (size_t tx = 0; tx < columns; ++tx) {
                u[tx] = uBase[uAt[tx]];
                v[tx] = vBase[vAt[tx]];
            }
        }
        take(ty, scratch.y.data(), scratch.u.data(), scratch.v.data());
    }
}

}  // namespace

namespace {

// The upright picture by source rows: each source row the target samples is
// converted once, over the columns [first, last] the target reads, then
// spread to the target's columns by index; a target row that samples the
// same source row as the one above is a copy of it. A source row's values do
// not depend on which target pixel asks for them, so this gives exactly what
// gathering every target pixel gives. False (nothing written) where the
// target reads less than half of the columns it spans: gathering costs less.
template <typename Pixel>
bool ConvertBySourceRows(ConversionPath path, const PlanarPicture& picture, Pixel* out,
                         ptrdiff_t outStride, int outWidth, int outHeight, SamplingScratch& scratch,
                         const ViewRect& part) {
    const ViewRect seen = part.Clamped();
    // Even, so that the span's chroma samples pair up with its pixels.
    const int first = SampleIndexIn(0, picture.width, outWidth, seen.x, seen.width) & ~1;
    const int end = SampleIndexIn(outWidth - 1, picture.width, outWidth, seen.x, seen.width) + 1;
    const int count = end - first;
    if (count > 2 * outWidth)
        return false;
    const ChromaSampling chroma(picture.width, picture.height);
    const bool hasChroma = chroma.HasChroma() && picture.u != nullptr && picture.v != nullptr;
    const ChromaSampling used = hasChroma ? chroma : ChromaSampling(0, 0);

    scratch.spanAt.resize(size_t(outWidth));
    for (int tx = 0; tx < outWidth; ++tx) {
        scratch.spanAt[size_t(tx)] =
            SampleIndexIn(tx, picture.width, outWidth, seen.x, seen.width) - first;
    }
    scratch.span.resize(size_t(count));
    const int32_t* spanAt = scratch.spanAt.data();
    int step = 0;  // the most a target column moves on in the span
    for (int tx = 1; tx < outWidth; ++tx)
        step = std::max(step, spanAt[tx] - spanAt[tx - 1]);
    // Where no target skips more than one source column, lane shuffles
    // spread the widened span (cheaper than a gather); otherwise the span is
    // widened when it has fewer values than the target row, after the spread
    // when it has more.
    const bool simd = CpuSupportsAvx2();
    const bool shuffle = simd && step <= 2;
    const bool widenSpan = sizeof(Pixel) == 4 && (shuffle || count <= outWidth);
    if constexpr (sizeof(Pixel) == 4) {
        if (widenSpan)
            scratch.wideSpan.resize(size_t(count) + 15);  // SpreadRowAvx2 reads ahead
        else
            scratch.row.resize(size_t(outWidth));
    }

    int sourceRow = -1;
    const Pixel* above = nullptr;
    for (int ty = 0; ty < outHeight; ++ty) {
        Pixel* target = out + ptrdiff_t(ty) * outStride;
        const int row = SampleIndexIn(ty, picture.height, outHeight, seen.y, seen.height);
        if (row == sourceRow) {
            std::copy_n(above, outWidth, target);
            continue;
        }
        const uint8_t* u = nullptr;
        const uint8_t* v = nullptr;
        if (hasChroma) {
            u = picture.u + ptrdiff_t(chroma.Row(row)) * picture.uStride;
            v = picture.v + ptrdiff_t(chroma.Row(row)) * picture.vStride;
        }
        ConvertSpan(path, picture.y + ptrdiff_t(row) * picture.yStride, u, v, used, first, end,
                    scratch.span.data());
        if constexpr (sizeof(Pixel) == 4) {
            if (widenSpan) {
                WidenRow(scratch.span.data(), scratch.wideSpan.data(), count);
                if (shuffle) {
                    SpreadRowAvx2(scratch.wideSpan.data(), spanAt, target, outWidth,
                                  std::max(step, 1));
                } else if (simd) {
                    GatherRowAvx2(scratch.wideSpan.data(), spanAt, target, outWidth);
                } else {
                    const uint32_t* wide = scratch.wideSpan.data();
                    for (int tx = 0; tx < outWidth; ++tx)
                        target[tx] = wide[spanAt[tx]];
                }
            } else {
                const uint16_t* span = scratch.span.data();
                uint16_t* spread = scratch.row.data();
                for (int tx = 0; tx < outWidth; ++tx)
                    spread[tx] = span[spanAt[tx]];
                WidenRow(spread, target, outWidth);
            }
        } else {
            const uint16_t* span = scratch.span.data();
            for (int tx = 0; tx < outWidth; ++tx)
                target[tx] = span[spanAt[tx]];
        }
        sourceRow = row;
        above = target;
    }
    return true;
}

}  // namespace

void ConvertSpan(ConversionPath path, const uint8_t* luma, const uint8_t* u, const uint8_t* v,
                 const ChromaSampling& chroma, int from, int to, uint16_t* out) {
    // The AVX-512 path's arithmetic is the AVX2 path's: the narrower kernel serves both.
    if (path != ConversionPath::kScalar && CpuSupportsAvx2()) {
        ConvertSpanAvx2(luma, u, v, chroma, from, to, out);
        return;
    }
    for (int x = from; x < to; ++x) {
        const bool has = chroma.HasChroma();
        out[x - from] = screen::ScalarPixel(luma[x], has ? u[chroma.Column(x)] : 128,
                                            has ? v[chroma.Column(x)] : 128);
    }
}

void ConvertSampled(ConversionPath path, const PlanarPicture& picture, bool turned, uint16_t* out,
                    ptrdiff_t outStride, int outWidth, int outHeight, SamplingScratch& scratch,
                    const ViewRect& part, Sampling sampling) {
    if (picture.IsEmpty() || out == nullptr || outWidth <= 0 || outHeight <= 0)
        return;
    if (sampling == Sampling::kBest && !turned &&
        ConvertBySourceRows(path, picture, out, outStride, outWidth, outHeight, scratch, part))
        return;
    SampleRows(picture, turned, sampling == Sampling::kBest, part, outWidth, outHeight, scratch,
               [&](int ty, const uint8_t* y, const uint8_t* u, const uint8_t* v) {
                   ConvertRow(path, y, u, v, out + ptrdiff_t(ty) * outStride, outWidth);
               });
}

void ConvertSampled(ConversionPath path, const PlanarPicture& picture, bool turned, uint32_t* out,
                    ptrdiff_t outStride, int outWidth, int outHeight, SamplingScratch& scratch,
                    const ViewRect& part, Sampling sampling) {
    if (picture.IsEmpty() || out == nullptr || outWidth <= 0 || outHeight <= 0)
        return;
    if (sampling == Sampling::kBest && !turned &&
        ConvertBySourceRows(path, picture, out, outStride, outWidth, outHeight, scratch, part))
        return;
    scratch.row.resize(size_t(outWidth));
    SampleRows(picture, turned, sampling == Sampling::kBest, part, outWidth, outHeight, scratch,
               [&](int ty, const uint8_t* y, const uint8_t* u, const uint8_t* v) {
                   ConvertRow(path, y, u, v, scratch.row.data(), outWidth);
                   WidenRow(scratch.row.data(), out + ptrdiff_t(ty) * outStride, outWidth);
               });
}

}  // namespace kavrel
