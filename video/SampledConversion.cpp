#include "video/SampledConversion.h"

#include <algorithm>

#include "video/ColourTables.h"
#include "video/ScreenArithmetic.h"

namespace kavrel {

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

void ConvertSampled(ConversionPath path, const PlanarPicture& picture, bool turned, uint16_t* out,
                    ptrdiff_t outStride, int outWidth, int outHeight, SamplingScratch& scratch) {
    if (picture.IsEmpty() || out == nullptr || outWidth <= 0 || outHeight <= 0)
        return;
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

    // Upright, a target column is a source column and a target row a source
    // row. Turned, a target column is a source row counted from the bottom and
    // a target row a source column. The per-column offsets are made once.
    const PictureSize shown = ShownSize(picture.width, picture.height, turned);
    for (int tx = 0; tx < outWidth; ++tx) {
        const int along = SampleIndex(tx, shown.width, outWidth);
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

    for (int ty = 0; ty < outHeight; ++ty) {
        const int along = SampleIndex(ty, shown.height, outHeight);
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
        for (size_t tx = 0; tx < columns; ++tx)
            scratch.y[tx] = lumaBase[scratch.lumaAt[tx]];
        if (hasChroma) {
            for (size_t tx = 0; tx < columns; ++tx) {
                scratch.u[tx] = uBase[scratch.uAt[tx]];
                scratch.v[tx] = vBase[scratch.vAt[tx]];
            }
        }
        ConvertRow(path, scratch.y.data(), scratch.u.data(), scratch.v.data(),
                   out + ptrdiff_t(ty) * outStride, outWidth);
    }
}

}  // namespace kavrel
