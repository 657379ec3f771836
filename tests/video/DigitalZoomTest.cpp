// The digital zoom: its part of the picture converted at the size shown
// equals the full conversion cropped and stretched, on every path, upright and
// turned; a view snapshot's crop holds exactly the picture's pixels; the zoom
// keeps the point under the pointer and stays inside the picture.

#include "video/DigitalZoom.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/video/VideoTestSupport.h"
#include "video/FastConversion.h"
#include "video/SampledConversion.h"

namespace kavrel {
namespace {

using test::YuvPicture;

std::vector<ConversionPath> Paths() {
    std::vector<ConversionPath> paths;
    for (ConversionPath path :
         {ConversionPath::kScalar, ConversionPath::kAvx2, ConversionPath::kAvx512}) {
        if (CpuSupports(path))
            paths.push_back(path);
    }
    return paths;
}

// The zoom `level` reached by the wheel round a pointer at (atX, atY).
DigitalZoom ZoomedAt(int level, double atX, double atY) {
    DigitalZoom zoom;
    zoom.ZoomAt(level, atX, atY);
    return zoom;
}

TEST(DigitalZoomTest, TheWholePartSamplesAsTheFullView) {
    for (int source : {1, 7, 176, 1920}) {
        for (int target : {1, 5, 480, 1281}) {
            for (int t = 0; t < target; t += std::max(1, target / 37))
                ASSERT_EQ(SampleIndexIn(t, source, target, 0, kViewUnit),
                          SampleIndex(t, source, target));
        }
    }
}

TEST(DigitalZoomTest, ZoomedPartEqualsTheFullConversionCroppedAndStretched) {
    const std::pair<int, int> pictures[] = {{176, 144}, {33, 31}};
    const std::pair<int, int> targets[] = {{97, 61}, {480, 338}, {7, 300}};
    const std::pair<double, double> pointers[] = {{0, 0}, {1, 1}, {0.3, 0.7}, {0.5, 0.5}};
    for (const auto& [width, height] : pictures) {
        const YuvPicture picture = test::MakeNoisePicture(width, height, uint32_t(width));
        const PlanarPicture planes = PackedPicture(picture.bytes.data(), width, height);
        const std::vector<uint16_t> upright = test::ReferenceScreen(picture);
        std::vector<uint16_t> turnedFull(upright.size());
        RotateClockwise(upright.data(), turnedFull.data(), width, height);
        for (bool turned : {false, true}) {
            for (int level : {3, DigitalZoom::kMaxLevel}) {  // 2x and 8x
                for (const auto& [atX, atY] : pointers) {
                    const ViewRect part = ZoomedAt(level, atX, atY).Part();
                    for (const auto& [targetWidth, targetHeight] : targets) {
                        const std::vector<uint16_t> expected = test::CroppedAndStretched(
                            turned ? turnedFull : upright, ShownSize(width, height, turned), turned,
                            part, targetWidth, targetHeight);
                        for (ConversionPath path : Paths()) {
                            std::vector<uint32_t> out(expected.size());
                            SamplingScratch scratch;
                            ConvertSampled(path, planes, turned, out.data(), targetWidth,
                                           targetWidth, targetHeight, scratch, part);
                            for (size_t i = 0; i < out.size(); ++i) {
                                ASSERT_EQ(out[i], WidenRgb565(expected[i]))
                                    << ConversionPathName(path) << " " << width << "x" << height
                                    << " level " << level << " at " << atX << "," << atY
                                    << (turned ? " turned" : "") << " pixel " << i;
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(DigitalZoomTest, ViewCropHoldsThePicturesOwnPixels) {
    const int width = 176;
    const int height = 144;
    const YuvPicture picture = test::MakeNoisePicture(width, height, 5);
    const PlanarPicture planes = PackedPicture(picture.bytes.data(), width, height);
    const std::vector<uint16_t> full = test::ReferenceScreen(picture);
    ColourTables tables;
    tables.Build();
    for (int level : {1, 3, DigitalZoom::kMaxLevel}) {
        for (double at : {0.0, 0.37, 1.0}) {
            const ViewRect part = ZoomedAt(level, at, 1.0 - at).Part();
            const PlanarPicture crop = CropToPart(planes, part);
            SCOPED_TRACE("level " + std::to_string(level) + " at " + std::to_string(at));
            // It covers the part, from an even origin.
            const int left = int((crop.y - planes.y) % planes.yStride);
            const int top = int((crop.y - planes.y) / planes.yStride);
            EXPECT_EQ(left % 2, 0);
            EXPECT_EQ(top % 2, 0);
            EXPECT_LE(int64_t(left) * kViewUnit, int64_t(part.x) * width);
            EXPECT_GE(int64_t(left + crop.width) * kViewUnit, int64_t(part.x + part.width) * width);
            EXPECT_LE(int64_t(top) * kViewUnit, int64_t(part.y) * height);
            EXPECT_GE(int64_t(top + crop.height) * kViewUnit,
                      int64_t(part.y + part.height) * height);
            // Converted alone, it gives the full conversion's pixels there.
            std::vector<uint8_t> rgb(3 * size_t(crop.width) * size_t(crop.height));
            std::vector<uint16_t> screen(size_t(crop.width) * size_t(crop.height));
            ConvertToRgb(tables, crop, rgb.data());
            ConvertToRgb565(rgb.data(), screen.data(), crop.width, crop.height);
            FlipRows(screen.data(), crop.width, crop.height);
            for (int y = 0; y < crop.height; ++y) {
                for (int x = 0; x < crop.width; ++x) {
                    ASSERT_EQ(screen[size_t(y) * size_t(crop.width) + size_t(x)],
                              full[size_t(top + y) * width + size_t(left + x)])
                        << x << "," << y;
                }
            }
        }
    }
}

TEST(DigitalZoomTest, StepsKeepThePointUnderThePointerAndStayInside) {
    DigitalZoom zoom;
    EXPECT_FALSE(zoom.IsZoomed());
    EXPECT_TRUE(zoom.Part().IsWhole());
    EXPECT_FALSE(zoom.ZoomAt(-1, 0.5, 0.5));  // not below 1x

    // 2x, 4x and 8x are exact; the steps between are about 1.26x.
    EXPECT_TRUE(zoom.ZoomAt(3, 0.25, 0.75));
    EXPECT_EQ(zoom.Part().width, kViewUnit / 2);
    EXPECT_EQ(zoom.BadgeText(), "2x");
    // The point a quarter across and three quarters down stays there.
    EXPECT_EQ(zoom.Part().x, kViewUnit / 4 - kViewUnit / 8);
    EXPECT_EQ(zoom.Part().y, 3 * kViewUnit / 4 - 3 * kViewUnit / 8);
    EXPECT_TRUE(zoom.ZoomAt(1, 0.5, 0.5));
    EXPECT_EQ(zoom.BadgeText(), "2.5x");
    EXPECT_NEAR(zoom.Factor() / DigitalZoom::FactorOf(3), 1.26, 0.01);
    EXPECT_TRUE(zoom.ZoomAt(100, 0.5, 0.5));
    EXPECT_EQ(zoom.Part().width, kViewUnit / 8);
    EXPECT_EQ(zoom.BadgeText(), "8x");
    EXPECT_FALSE(zoom.ZoomAt(1, 0.5, 0.5));  // not above 8x

    // Zooming round a corner keeps that corner; zooming out near an edge
    // moves the part back inside instead of showing beyond the picture.
    DigitalZoom corner;
    corner.ZoomAt(DigitalZoom::kMaxLevel, 1.0, 1.0);
    EXPECT_EQ(corner.Part().x + corner.Part().width, kViewUnit);
    EXPECT_EQ(corner.Part().y + corner.Part().height, kViewUnit);
    corner.ZoomAt(-6, 0.0, 0.0);
    EXPECT_EQ(corner.Part().x + corner.Part().width, kViewUnit);
    corner.ZoomAt(-3, 0.5, 0.5);
    EXPECT_TRUE(corner.Part().IsWhole());
    EXPECT_EQ(corner.BadgeText(), "1x");
}

TEST(DigitalZoomTest, PanningStopsAtThePicturesEdges) {
    DigitalZoom zoom;
    zoom.ZoomAt(3, 0.5, 0.5);  // 2x, the middle: a quarter of room on each side
    const ViewRect middle = zoom.Part();
    // Dragging right by a tenth of the view shows what lies to the left.
    EXPECT_TRUE(zoom.PanBy(0.1, 0));
    EXPECT_NEAR(zoom.Part().x, middle.x - 0.1 * middle.width, 1.0);
    EXPECT_EQ(zoom.Part().y, middle.y);
    // Far right and down: the part stops at the left and top edges.
    EXPECT_TRUE(zoom.PanBy(5, 5));
    EXPECT_EQ(zoom.Part().x, 0);
    EXPECT_EQ(zoom.Part().y, 0);
    EXPECT_FALSE(zoom.PanBy(1, 1));
    EXPECT_TRUE(zoom.PanBy(-5, -5));
    EXPECT_EQ(zoom.Part().x + zoom.Part().width, kViewUnit);
    EXPECT_EQ(zoom.Part().y + zoom.Part().height, kViewUnit);
    // Not zoomed there is nothing to pan.
    zoom.Reset();
    EXPECT_FALSE(zoom.PanBy(0.3, 0.3));
    EXPECT_TRUE(zoom.Part().IsWhole());
}

TEST(DigitalZoomTest, PartsOutsideThePictureAreBroughtInside) {
    EXPECT_EQ((ViewRect{-5, kViewUnit, 0, 2 * kViewUnit}.Clamped()),
              (ViewRect{0, 0, 1, kViewUnit}));
    EXPECT_EQ((ViewRect{kViewUnit, 3, kViewUnit / 2, 7}.Clamped()),
              (ViewRect{kViewUnit / 2, 3, kViewUnit / 2, 7}));
    // Turning twice more than half: the part of a turned picture, turned back.
    const ViewRect part{100, 2000, 3000, 5000};
    EXPECT_EQ(part.Turned(), (ViewRect{kViewUnit - 7000, 100, 5000, 3000}));
}

}  // namespace
}  // namespace kavrel
