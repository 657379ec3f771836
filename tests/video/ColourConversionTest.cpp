// The table conversion, the row flip and the quarter turn, and the fast
// paths proven byte-identical to the tables.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/H264TestEncoder.h"
#include "tests/video/VideoTestSupport.h"
#include "video/ColourTables.h"
#include "video/FastConversion.h"
#include "video/H264Decoder.h"
#include "video/PictureTransform.h"
#include "video/SampledConversion.h"

namespace kavrel {
namespace {

using test::YuvPicture;

ColourTables BuiltTables() {
    ColourTables tables;
    tables.Build();
    return tables;
}

using test::ReferenceScreen;

// Output of a fast path, in a buffer with guard values behind it.
std::vector<uint16_t> FastScreen(ConversionPath path, const YuvPicture& picture) {
    const ColourTables tables = BuiltTables();
    const size_t pixels = size_t(picture.width) * picture.height;
    std::vector<uint16_t> screen(pixels + 8, 0xBEEF);
    ConvertToScreen(path, tables, picture.bytes.data(), screen.data(), picture.width,
                    picture.height);
    for (size_t i = pixels; i < screen.size(); ++i)
        EXPECT_EQ(screen[i], 0xBEEF) << "overrun";
    screen.resize(pixels);
    return screen;
}

std::vector<ConversionPath> FastPaths() {
    std::vector<ConversionPath> paths;
    for (ConversionPath path :
         {ConversionPath::kScalar, ConversionPath::kAvx2, ConversionPath::kAvx512}) {
        if (CpuSupports(path))
            paths.push_back(path);
    }
    return paths;
}

YuvPicture Uniform(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
    YuvPicture picture = YuvPicture::Blank(width, height);
    const PlanarLayout layout = PlanarLayoutFor(width, height);
    std::fill(picture.bytes.begin(), picture.bytes.begin() + ptrdiff_t(layout.lumaBytes), y);
    std::fill(picture.bytes.begin() + ptrdiff_t(layout.uOffset),
              picture.bytes.begin() + ptrdiff_t(layout.vOffset), u);
    std::fill(picture.bytes.begin() + ptrdiff_t(layout.vOffset), picture.bytes.end(), v);
    return picture;
}

struct ColourCase {
    uint8_t y, u, v;
    uint8_t red, green, blue;
    uint16_t value;
};

const ColourCase kColourCases[] = {
    {16, 128, 128, 0, 0, 0, 0x0000},        {235, 128, 128, 254, 254, 254, 0xFFFF},
    {255, 128, 128, 255, 255, 255, 0xFFFF}, {128, 128, 128, 130, 130, 130, 0x8410},
    {81, 90, 240, 254, 0, 0, 0xF800},       {145, 54, 34, 0, 255, 0, 0x07E0},
    {41, 240, 110, 0, 0, 255, 0x001F},
};

TEST(ColourTablesTest, TableValues) {
    const ColourTables t = BuiltTables();
    EXPECT_EQ(t.Clamp(-384), 0);
    EXPECT_EQ(t.Clamp(-1), 0);
    EXPECT_EQ(t.Clamp(0), 0);
    EXPECT_EQ(t.Clamp(200), 200);
    EXPECT_EQ(t.Clamp(255), 255);
    EXPECT_EQ(t.Clamp(256), 255);
    EXPECT_EQ(t.Clamp(639), 255);
    EXPECT_EQ(t.vRed[0], -104597 * 128);
    EXPECT_EQ(t.uBlue[255], 132201 * 127);
    EXPECT_EQ(t.uGreen[128], 0);
    EXPECT_EQ(t.vGreen[200], 53279 * 72);
    EXPECT_EQ(t.luma[16], 0);
    EXPECT_EQ(t.luma[0], -76309 * 16);

    // Every sum the conversion forms stays inside the clamp table.
    const auto [lumaMin, lumaMax] = std::minmax_element(t.luma.begin(), t.luma.end());
    const auto [redMin, redMax] = std::minmax_element(t.vRed.begin(), t.vRed.end());
    const auto [blueMin, blueMax] = std::minmax_element(t.uBlue.begin(), t.uBlue.end());
    int64_t greenMin = INT64_MAX;
    int64_t greenMax = INT64_MIN;
    for (int u = 0; u < 256; ++u) {
        for (int v = 0; v < 256; ++v) {
            const int64_t term = -int64_t(t.vGreen[size_t(v)]) - t.uGreen[size_t(u)];
            greenMin = std::min(greenMin, term);
            greenMax = std::max(greenMax, term);
        }
    }
    for (int64_t sum : {int64_t(*lumaMin) + *redMin, int64_t(*lumaMin) + *blueMin,
                        int64_t(*lumaMin) + greenMin}) {
        EXPECT_GE(sum >> 16, -384);
    }
    for (int64_t sum : {int64_t(*lumaMax) + *redMax, int64_t(*lumaMax) + *blueMax,
                        int64_t(*lumaMax) + greenMax}) {
        EXPECT_LE(sum >> 16, 639);
    }
}

TEST(ColourTablesTest, KnownColoursThroughEveryPath) {
    const ColourTables t = BuiltTables();
    for (const ColourCase& c : kColourCases) {
        SCOPED_TRACE(testing::Message()
                     << "Y,U,V " << int(c.y) << "," << int(c.u) << "," << int(c.v));
        const Rgb pixel = ConvertPixel(t, c.y, c.u, c.v);
        EXPECT_EQ(pixel.red, c.red);
        EXPECT_EQ(pixel.green, c.green);
        EXPECT_EQ(pixel.blue, c.blue);
        EXPECT_EQ(PackRgb565(pixel.red, pixel.green, pixel.blue), c.value);

        // A whole 4 x 2 picture of that colour: blue, green, red in the 24-bit picture.
        const YuvPicture picture = Uniform(4, 2, c.y, c.u, c.v);
        std::vector<uint8_t> rgb(24);
        ConvertToRgb(t, picture.bytes.data(), rgb.data(), 4, 2);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(rgb[3 * i], c.blue);
            EXPECT_EQ(rgb[3 * i + 1], c.green);
            EXPECT_EQ(rgb[3 * i + 2], c.red);
        }
        std::vector<uint16_t> screen(8);
        ConvertToRgb565(rgb.data(), screen.data(), 4, 2);
        EXPECT_EQ(screen, std::vector<uint16_t>(8, c.value));
        for (ConversionPath path : FastPaths()) {
            EXPECT_EQ(FastScreen(path, Uniform(20, 2, c.y, c.u, c.v)),
                      std::vector<uint16_t>(40, c.value))
                << ConversionPathName(path);
        }
    }
}

TEST(ColourTablesTest, RgbPictureIsBottomUpWithExpectedSizes) {
    const int width = 352;
    const int height = 288;
    YuvPicture picture = Uniform(width, height, 16, 128, 128);  // black
    picture.Y()[0] = 255;                                       // top-left white
    picture.Y()[size_t(width) * (height - 1)] = 128;            // bottom-left grey
    std::vector<uint8_t> rgb(304128);
    std::vector<uint16_t> screen(202752 / 2);
    const ColourTables t = BuiltTables();
    ConvertToRgb(t, picture.bytes.data(), rgb.data(), width, height);
    const size_t topLeft = 3 * 352 * 287;
    EXPECT_EQ(rgb[topLeft], 255);
    EXPECT_EQ(rgb[topLeft + 2], 255);
    EXPECT_EQ(rgb[0], 130);  // the buffer's first row is the picture's bottom row
    EXPECT_EQ(rgb[3], 0);
    ConvertToRgb565(rgb.data(), screen.data(), width, height);
    EXPECT_EQ(screen[size_t(width) * 287], 0xFFFF);
    EXPECT_EQ(screen[0], 0x8410);
}

TEST(ChromaSamplingTest, EdgesUseTheLastSampleThatExists) {
    const ChromaSampling odd(175, 143);
    EXPECT_EQ(odd.chromaWidth, 87);
    EXPECT_EQ(odd.Column(173), 86);
    EXPECT_EQ(odd.Column(174), 86);  // no chroma column of its own
    EXPECT_EQ(odd.Row(142), 70);
    const ChromaSampling narrow(174, 98);
    EXPECT_EQ(narrow.Column(172), 86);  // last column group, its own sample
    EXPECT_EQ(narrow.Column(173), 86);
    EXPECT_EQ(narrow.Row(97), 48);
    EXPECT_FALSE(ChromaSampling(1, 8).HasChroma());
    EXPECT_FALSE(ChromaSampling(8, 1).HasChroma());
}

TEST(PictureTransformTest, FlipRowsReversesRowOrder) {
    for (int height : {1, 2, 3, 4, 7}) {
        std::vector<uint16_t> pixels(size_t(3) * height);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = uint16_t(i);
        FlipRows(pixels.data(), 3, height);
        for (int row = 0; row < height; ++row) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(pixels[size_t(row) * 3 + x], (height - 1 - row) * 3 + x);
            }
        }
    }
}

TEST(PictureTransformTest, QuarterTurnClockwise) {
    // 3 wide, 2 tall:  a b c      turned (2 wide, 3 tall):  d a
    //                  d e f                                e b
    //                                                       f c
    const std::vector<uint16_t> source = {'a', 'b', 'c', 'd', 'e', 'f'};
    std::vector<uint16_t> target(6);
    RotateClockwise(source.data(), target.data(), 3, 2);
    EXPECT_EQ(target, (std::vector<uint16_t>{'d', 'a', 'e', 'b', 'f', 'c'}));

    // Larger than a tile and not a multiple of it, against the plain formula.
    for (auto [width, height] : {std::pair{70, 45}, std::pair{1, 33}, std::pair{33, 1}}) {
        std::vector<uint16_t> big(size_t(width) * height);
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = uint16_t(i * 7);
        std::vector<uint16_t> turned(big.size(), 0);
        RotateClockwise(big.data(), turned.data(), width, height);
        for (int i = 0; i < height; ++i) {
            for (int j = 0; j < width; ++j) {
                ASSERT_EQ(turned[size_t(j) * height + (height - 1 - i)],
                          big[size_t(i) * width + j]);
            }
        }
    }
}

// Odd sizes, widths that are not multiples of 4 or 16, and sizes below one chroma sample.
class FastConversionSizeTest : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(FastConversionSizeTest, RandomPicturesMatchTheTables) {
    const auto [width, height] = GetParam();
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        const YuvPicture picture = test::MakeNoisePicture(width, height, seed * 977 + width);
        const std::vector<uint16_t> expected = ReferenceScreen(picture);
        for (ConversionPath path : FastPaths()) {
            EXPECT_EQ(FastScreen(path, picture), expected) << ConversionPathName(path);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FastConversionSizeTest,
    testing::Values(std::pair{1, 1}, std::pair{1, 7}, std::pair{7, 1}, std::pair{2, 2},
                    std::pair{3, 3}, std::pair{15, 3}, std::pair{16, 2}, std::pair{17, 5},
                    std::pair{31, 9}, std::pair{33, 33}, std::pair{48, 1}, std::pair{174, 98},
                    std::pair{175, 143}, std::pair{176, 144}, std::pair{352, 288},
                    std::pair{1282, 722},
                    std::pair{4100, 3}),  // more than one stretch of the SIMD paths
    [](const testing::TestParamInfo<std::pair<int, int>>& info) {
        return std::to_string(info.param.first) + "x" + std::to_string(info.param.second);
    });

// The picture moved into planes with padded rows, as a decoder holds them.
struct StridedPicture {
    std::vector<uint8_t> bytes;
    PlanarPicture planes;
};
StridedPicture Strided(const YuvPicture& picture, int padding) {
    const PlanarLayout layout = PlanarLayoutFor(picture.width, picture.height);
    const int yStride = picture.width + padding;
    const int cStride = layout.chromaWidth + padding;
    const size_t ySize = size_t(yStride) * picture.height;
    const size_t cSize = size_t(cStride) * std::max(layout.chromaHeight, 1);
    StridedPicture out{std::vector<uint8_t>(ySize + 2 * cSize, 0xEE), {}};
    uint8_t* y = out.bytes.data();
    uint8_t* u = y + ySize;
    uint8_t* v = u + cSize;
    for (int row = 0; row < picture.height; ++row)
        std::copy_n(&picture.bytes[size_t(row) * picture.width], picture.width,
                    y + size_t(row) * yStride);
    for (int row = 0; row < layout.chromaHeight; ++row) {
        const size_t from = size_t(row) * layout.chromaWidth;
        std::copy_n(&picture.bytes[layout.uOffset + from], layout.chromaWidth,
                    u + size_t(row) * cStride);
        std::copy_n(&picture.bytes[layout.vOffset + from], layout.chromaWidth,
                    v + size_t(row) * cStride);
    }
    out.planes = PlanarPicture{y, u, v, yStride, cStride, cStride, picture.width, picture.height};
    return out;
}

TEST(SampledConversionTest, EqualsTheFullConversionStretchedOnEveryPath) {
    const std::pair<int, int> pictures[] = {{1, 1}, {2, 2}, {3, 5}, {17, 9}, {33, 31}, {176, 144}};
    const std::pair<int, int> targets[] = {{1, 1},   {5, 3},   {16, 16},
                                           {17, 40}, {97, 61}, {480, 338}};
    for (const auto& [width, height] : pictures) {
        const YuvPicture picture = test::MakeNoisePicture(width, height, uint32_t(width * 31));
        const StridedPicture strided = Strided(picture, 13);
        const std::vector<uint16_t> upright = ReferenceScreen(picture);
        std::vector<uint16_t> turned(upright.size());
        RotateClockwise(upright.data(), turned.data(), width, height);
        for (bool turn : {false, true}) {
            const std::vector<uint16_t>& full = turn ? turned : upright;
            const PictureSize shown = ShownSize(width, height, turn);
            for (const auto& [targetWidth, targetHeight] : targets) {
                std::vector<uint16_t> expected(size_t(targetWidth) * targetHeight);
                for (int y = 0; y < targetHeight; ++y) {
                    for (int x = 0; x < targetWidth; ++x) {
                        expected[size_t(y) * targetWidth + x] =
                            full[size_t(SampleIndex(y, shown.height, targetHeight)) * shown.width +
                                 size_t(SampleIndex(x, shown.width, targetWidth))];
                    }
                }
                for (ConversionPath path : FastPaths()) {
                    // Rows 3 values longer than the target, guarded.
                    const int stride = targetWidth + 3;
                    std::vector<uint16_t> out(size_t(stride) * targetHeight, 0xBEEF);
                    SamplingScratch scratch;
                    ConvertSampled(path, strided.planes, turn, out.data(), stride, targetWidth,
                                   targetHeight, scratch);
                    std::vector<uint16_t> got;
                    for (int y = 0; y < targetHeight; ++y) {
                        const auto row = out.begin() + ptrdiff_t(y) * stride;
                        got.insert(got.end(), row, row + targetWidth);
                        ASSERT_TRUE(std::all_of(row + targetWidth, row + stride,
                                                [](uint16_t v) { return v == 0xBEEF; }));
                    }
                    ASSERT_EQ(got, expected)
                        << ConversionPathName(path) << " " << width << "x" << height << " to "
                        << targetWidth << "x" << targetHeight << (turn ? " turned" : "");
                    // The window's 32-bit form: the same values widened.
                    std::vector<uint32_t> wide(size_t(targetWidth) * targetHeight);
                    ConvertSampled(path, strided.planes, turn, wide.data(), targetWidth,
                                   targetWidth, targetHeight, scratch);
                    for (size_t i = 0; i < wide.size(); ++i)
                        ASSERT_EQ(wide[i], WidenRgb565(expected[i])) << i;
                }
            }
        }
    }
}

TEST(SampledConversionTest, WideningRepeatsTheTopBitsOnEveryPath) {
    std::vector<uint16_t> all(65536 + 5);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = uint16_t(i);
    std::vector<uint32_t> wide(all.size());
    WidenRow(all.data(), wide.data(), int(all.size()));
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(wide[i], WidenRgb565(all[i])) << i;
    EXPECT_EQ(WidenRgb565(0xFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(WidenRgb565(0x8410), 0xFF848284u);  // 10000 100000 10000
}

TEST(FastConversionTest, ExtremeValuesMatchTheTables) {
    const uint8_t extremes[] = {0,   1,   15,  16,  17,  127, 128, 129,
                                234, 235, 236, 239, 240, 241, 254, 255};
    // Every combination of extreme U and V, each with every extreme Y.
    const int count = int(std::size(extremes));
    const int width = 2 * count * count;
    const int height = 2 * count / 2 * 2;
    YuvPicture picture = YuvPicture::Blank(width, height);
    const int chromaWidth = width / 2;
    for (int cy = 0; cy < height / 2; ++cy) {
        for (int cx = 0; cx < chromaWidth; ++cx) {
            picture.U()[size_t(cy) * chromaWidth + cx] = extremes[cx / count];
            picture.V()[size_t(cy) * chromaWidth + cx] = extremes[cx % count];
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.Y()[size_t(y) * width + x] = extremes[(x + y * 3) % count];
        }
    }
    const std::vector<uint16_t> expected = ReferenceScreen(picture);
    for (ConversionPath path : FastPaths()) {
        EXPECT_EQ(FastScreen(path, picture), expected) << ConversionPathName(path);
    }
}

TEST(FastConversionTest, EveryYuvTripleMatchesTheTables) {
    // For each U, one 512 x 128 picture: chroma column = V, and the 64
    // chroma rows with four pixels each cover Y = 0 ... 255. 2^24 triples in all.
    const int width = 512;
    const int height = 128;
    YuvPicture picture = YuvPicture::Blank(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.Y()[size_t(y) * width + x] = uint8_t(4 * (y / 2) + 2 * (y % 2) + (x % 2));
        }
    }
    for (int cy = 0; cy < height / 2; ++cy) {
        for (int cx = 0; cx < width / 2; ++cx)
            picture.V()[size_t(cy) * (width / 2) + cx] = uint8_t(cx);
    }
    const auto paths = FastPaths();
    int mismatches = 0;
    for (int u = 0; u < 256 && mismatches == 0; ++u) {
        std::fill(picture.U(), picture.V(), uint8_t(u));
        const std::vector<uint16_t> expected = ReferenceScreen(picture);
        for (ConversionPath path : paths) {
            if (FastScreen(path, picture) != expected) {
                ADD_FAILURE() << ConversionPathName(path) << " differs for U " << u;
                ++mismatches;
            }
        }
    }
}

TEST(FastConversionTest, PathSelection) {
    const ConversionPath best = BestConversionPath();
    EXPECT_TRUE(CpuSupports(best));
    EXPECT_EQ(best == ConversionPath::kScalar, !CpuSupportsAvx2() && !CpuSupportsAvx512());
    EXPECT_TRUE(CpuSupports(ConversionPath::kScalar));
    EXPECT_STREQ(ConversionPathName(ConversionPath::kScalar), "scalar");
    EXPECT_STREQ(ConversionPathName(ConversionPath::kAvx2), "avx2");
    EXPECT_STREQ(ConversionPathName(ConversionPath::kAvx512), "avx512");
    std::printf("conversion paths here:");
    for (ConversionPath path : FastPaths())
        std::printf(" %s", ConversionPathName(path));
    std::printf("\n");
}

}  // namespace
}  // namespace kavrel
