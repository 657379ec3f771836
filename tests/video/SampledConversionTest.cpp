// The picture converted by source rows (each sampled row converted once and
// spread) against every target pixel gathered one by one, which the
// conversion tests hold to the table reference: the screen must not change
// by a single value, whatever the sizes, the zoom or the output form.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/H264TestEncoder.h"
#include "video/DigitalZoom.h"
#include "video/SampledConversion.h"

namespace kavrel {
namespace {

std::vector<ConversionPath> Paths() {
    std::vector<ConversionPath> paths;
    for (ConversionPath path :
         {ConversionPath::kScalar, ConversionPath::kAvx2, ConversionPath::kAvx512}) {
        if (CpuSupports(path))
            paths.push_back(path);
    }
    return paths;
}

// A noise picture whose planes lie in rows `padding` bytes longer than the
// picture (as the decoder's do), the padding filled with a value that shows.
struct Planes {
    std::vector<uint8_t> bytes;
    PlanarPicture picture;
};
Planes PaddedNoise(int width, int height, int padding) {
    const test::YuvPicture noise =
        test::MakeNoisePicture(width, height, uint32_t(width * 7 + height));
    const PlanarLayout layout = PlanarLayoutFor(width, height);
    const int yStride = width + padding;
    const int cStride = layout.chromaWidth + padding;
    const size_t ySize = size_t(yStride) * size_t(height);
    const size_t cSize = size_t(cStride) * size_t(std::max(layout.chromaHeight, 1));
    Planes out{std::vector<uint8_t>(ySize + 2 * cSize, 0xEE), {}};
    uint8_t* y = out.bytes.data();
    uint8_t* u = y + ySize;
    uint8_t* v = u + cSize;
    for (int row = 0; row < height; ++row)
        std::copy_n(&noise.bytes[size_t(row) * size_t(width)], width, y + size_t(row) * yStride);
    for (int row = 0; row < layout.chromaHeight; ++row) {
        const size_t from = size_t(row) * size_t(layout.chromaWidth);
        std::copy_n(&noise.bytes[layout.uOffset + from], layout.chromaWidth,
                    u + size_t(row) * cStride);
        std::copy_n(&noise.bytes[layout.vOffset + from], layout.chromaWidth,
                    v + size_t(row) * cStride);
    }
    out.picture = PlanarPicture{y, u, v, yStride, cStride, cStride, width, height};
    return out;
}

ViewRect ZoomPart(int level, double atX, double atY) {
    DigitalZoom zoom;
    zoom.ZoomAt(level, atX, atY);
    return zoom.Part();
}

// Both ways into guarded rows 5 values longer than the target; true when
// they agree everywhere and neither wrote past a row.
template <typename Pixel>
::testing::AssertionResult SameBothWays(ConversionPath path, const PlanarPicture& picture,
                                        int width, int height, const ViewRect& part) {
    const ptrdiff_t stride = width + 5;
    const Pixel guard = Pixel(0xBEEF);
    std::vector<Pixel> best(size_t(stride) * size_t(height), guard);
    std::vector<Pixel> gathered(best.size(), guard);
    SamplingScratch scratch;
    ConvertSampled(path, picture, false, best.data(), stride, width, height, scratch, part,
                   Sampling::kBest);
    // The same scratch, as on the decode thread from one picture to the next.
    ConvertSampled(path, picture, false, gathered.data(), stride, width, height, scratch, part,
                   Sampling::kGather);
    for (size_t i = 0; i < best.size(); ++i) {
        if (best[i] != gathered[i]) {
            return ::testing::AssertionFailure()
                   << "row " << i / size_t(stride) << " column " << i % size_t(stride) << ": "
                   << best[i] << " instead of " << gathered[i];
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(SampledConversionTest, SourceRowsGiveTheGatheredPictureForEverySizeAndPart) {
    // Decoded sizes as servers send them (CIF, a width not a multiple of 4) and sizes only tests
    // make: odd widths and heights cap the last chroma sample, 1 x n has no chroma at all.
    const std::pair<int, int> pictures[] = {{352, 288}, {174, 98}, {33, 31}, {17, 9}, {1, 7}};
    // Enlarged (the window at 480 x 640 and larger), shrunk up to and past
    // half (where gathering takes over), and thin.
    const std::pair<int, int> targets[] = {{478, 390}, {721, 577}, {353, 289},
                                           {351, 287}, {176, 144}, {175, 61},
                                           {97, 300},  {1, 1},     {2, 640}};
    const ViewRect parts[] = {ViewRect{}, ZoomPart(3, 0.5, 0.5), ZoomPart(3, 0.0, 1.0),
                              ZoomPart(DigitalZoom::kMaxLevel, 0.37, 0.81),
                              ViewRect{kViewUnit / 3 + 1, 5, kViewUnit / 3, kViewUnit - 9}};
    for (const auto& [width, height] : pictures) {
        const Planes planes = PaddedNoise(width, height, 11);
        for (const auto& [targetWidth, targetHeight] : targets) {
            for (const ViewRect& part : parts) {
                for (ConversionPath path : Paths()) {
                    SCOPED_TRACE(std::string(ConversionPathName(path)) + " " +
                                 std::to_string(width) + "x" + std::to_string(height) + " to " +
                                 std::to_string(targetWidth) + "x" + std::to_string(targetHeight) +
                                 " part " + std::to_string(part.x) + "," + std::to_string(part.y) +
                                 " " + std::to_string(part.width) + "x" +
                                 std::to_string(part.height));
                    ASSERT_TRUE(SameBothWays<uint32_t>(path, planes.picture, targetWidth,
                                                       targetHeight, part));
                    ASSERT_TRUE(SameBothWays<uint16_t>(path, planes.picture, targetWidth,
                                                       targetHeight, part));
                }
            }
        }
    }
}

TEST(SampledConversionTest, ShrunkPastHalfGivesTheGatheredPicture) {
    // Rows with no padding: a shuffle load past a row's end would read the
    // next row (wrong values) or, on the last row, past the plane.
    struct Case {
        int width, height, targetWidth, targetHeight;
    };
    const Case cases[] = {
        {1920, 1080, 478, 268},  // the single view at 480 x 640
        {704, 576, 330, 270},    // a D1 tile of a 4 x 4 wall
        {704, 576, 176, 144},    // exactly a quarter
        {1280, 720, 100, 57},    // past the most loads a group may take
        {352, 288, 17, 5},       // one whole group and a tail
        {174, 98, 31, 47},       // a width not a multiple of 4
        {35, 33, 16, 16},        // odd sizes: the last chroma sample is capped
    };
    const ViewRect parts[] = {ViewRect{}, ZoomPart(1, 0.9, 0.1), ZoomPart(2, 1.0, 1.0),
                              ViewRect{kViewUnit / 5, kViewUnit / 7, kViewUnit / 2, kViewUnit / 3}};
    for (const Case& c : cases) {
        const Planes planes = PaddedNoise(c.width, c.height, 0);
        for (const ViewRect& part : parts) {
            for (ConversionPath path : Paths()) {
                SCOPED_TRACE(std::string(ConversionPathName(path)) + " " + std::to_string(c.width) +
                             "x" + std::to_string(c.height) + " to " +
                             std::to_string(c.targetWidth) + "x" + std::to_string(c.targetHeight) +
                             " part " + std::to_string(part.x) + "," + std::to_string(part.y));
                ASSERT_TRUE(SameBothWays<uint32_t>(path, planes.picture, c.targetWidth,
                                                   c.targetHeight, part));
                ASSERT_TRUE(SameBothWays<uint16_t>(path, planes.picture, c.targetWidth,
                                                   c.targetHeight, part));
            }
        }
    }
}

TEST(SampledConversionTest, GatherPlanTakesEveryColumnsByteAndStaysInTheRow) {
    // A row whose bytes are their own offsets shows which byte each column took.
    std::vector<uint8_t> row(200);
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = uint8_t(i);
    struct Case {
        std::vector<int32_t> at;
        int rowLength;
        int blocks;  // loads per group the plan should take
    };
    std::vector<Case> cases;
    std::vector<int32_t> even, wide, edge, backwards;
    for (int i = 0; i < 37; ++i)
        even.push_back(2 * i);  // 2 groups of 2 loads, 5 columns left over
    for (int i = 0; i < 16; ++i)
        wide.push_back(i * 11);  // 166 bytes apart: 11 loads, too many
    // The first group needs 3 loads, so the last one (16 bytes at the row's
    // end) must start its loads 32 bytes early to stay in the row.
    for (int i = 0; i < 16; ++i)
        edge.push_back(3 * i);
    for (int i = 0; i < 16; ++i)
        edge.push_back(184 + i);
    for (int i = 0; i < 16; ++i)
        backwards.push_back(60 - 3 * i);
    cases.push_back({even, 200, 2});
    cases.push_back({wide, 200, 0});
    cases.push_back({edge, 200, 3});
    cases.push_back({backwards, 200, 3});
    // A row shorter than the loads (31 bytes, 2 loads of 16): byte by byte.
    cases.push_back({std::vector<int32_t>(even.begin(), even.begin() + 16), 31, 0});
    for (const Case& c : cases) {
        ByteGatherPlan plan;
        MakeByteGatherPlan(c.at.data(), int(c.at.size()), c.rowLength, plan);
        EXPECT_EQ(plan.blocks, c.blocks);
        for (int g = 0; g < plan.groups; ++g) {
            EXPECT_GE(plan.base[size_t(g)], 0);
            EXPECT_LE(plan.base[size_t(g)] + 16 * plan.blocks, c.rowLength);
        }
        std::vector<uint8_t> out(c.at.size() + 1, 0xEE);
        GatherBytes(row.data(), plan, out.data());
        for (size_t i = 0; i < c.at.size(); ++i)
            EXPECT_EQ(out[i], uint8_t(c.at[i])) << "column " << i;
        EXPECT_EQ(out.back(), 0xEE);
    }
}

TEST(SampledConversionTest, PictureWithoutChromaPlanesIsGreyBothWays) {
    Planes planes = PaddedNoise(64, 48, 0);
    planes.picture.u = nullptr;
    planes.picture.v = nullptr;
    for (ConversionPath path : Paths())
        EXPECT_TRUE(SameBothWays<uint32_t>(path, planes.picture, 100, 70, ViewRect{}));
}

}  // namespace
}  // namespace kavrel
