// The simulator's picture: the corner colours other tests rely on, the colour
// conversions, the PTZ head, and the encoder's frame-size budget.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>

#include "protocol/WireFormat.h"
#include "tests/tools/TestH264Decoder.h"
#include "tools/sim/H264Encoder.h"
#include "tools/sim/PtzState.h"
#include "tools/sim/TestPattern.h"

namespace kavrel::sim {
namespace {

constexpr Corner kCorners[] = {Corner::TopLeft, Corner::TopRight, Corner::BottomLeft,
                               Corner::BottomRight};

int LargestDifference(Rgb a, Rgb b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

double MeanLuma(const YuvPicture& p) {
    double sum = 0;
    for (int i = 0; i < p.width * p.height; ++i)
        sum += p.Y()[i];
    return sum / (p.width * p.height);
}

// True when every pixel of every corner square of both pictures is equal.
bool CornerSquaresEqual(const YuvPicture& a, const YuvPicture& b) {
    const int s = CornerSquareSize(a.width, a.height);
    for (Corner corner : kCorners) {
        const Point centre = CornerSampleAt(a.width, a.height, corner);
        for (int y = centre.y - s / 2; y < centre.y - s / 2 + s; ++y) {
            for (int x = centre.x - s / 2; x < centre.x - s / 2 + s; ++x) {
                if (!(a.PixelAt(x, y) == b.PixelAt(x, y)))
                    return false;
            }
        }
    }
    return true;
}

TEST(TestPatternTest, CornerColoursAreFarApartForEveryChannel) {
    const Rgb fixed[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}};
    for (int i = 0; i < kChannelColourCount; ++i) {
        for (const Rgb& f : fixed)
            EXPECT_GE(LargestDifference(ChannelColour(i), f), 85) << i;
        for (int j = i + 1; j < kChannelColourCount; ++j) {
            EXPECT_GE(LargestDifference(ChannelColour(i), ChannelColour(j)), 85) << i << " " << j;
        }
        EXPECT_EQ(CornerColour(i, Corner::BottomRight), ChannelColour(i));
        EXPECT_EQ(CornerColour(i, Corner::TopLeft), fixed[0]);
    }
    EXPECT_EQ(ChannelColour(32), ChannelColour(0));
    EXPECT_EQ(ChannelColour(-1), ChannelColour(31));
}

TEST(TestPatternTest, YuvToRgbIsTheViewersTableConversion) {
    const struct {
        Yuv yuv;
        Rgb rgb;
    } cases[] = {
        {{16, 128, 128}, {0, 0, 0}},        {{235, 128, 128}, {254, 254, 254}},
        {{255, 128, 128}, {255, 255, 255}}, {{128, 128, 128}, {130, 130, 130}},
        {{81, 90, 240}, {254, 0, 0}},       {{145, 54, 34}, {0, 255, 0}},
        {{41, 240, 110}, {0, 0, 255}},
    };
    for (const auto& c : cases) {
        const Rgb rgb = YuvToRgb(c.yuv);
        EXPECT_EQ(rgb, c.rgb) << int(c.yuv.y) << "," << int(c.yuv.u) << "," << int(c.yuv.v);
    }
}

TEST(TestPatternTest, EveryCornerColourSurvivesTheRoundTripThroughYuv) {
    for (int channel = 0; channel < kChannelColourCount; ++channel) {
        for (Corner corner : kCorners) {
            const Rgb colour = CornerColour(channel, corner);
            EXPECT_LE(LargestDifference(YuvToRgb(RgbToYuv(colour)), colour), 3) << channel;
        }
    }
}

TEST(TestPatternTest, CornersHoldTheirColoursAtEverySize) {
    const struct {
        int width, height;
    } sizes[] = {{352, 288}, {176, 144}, {1280, 720}, {64, 48}, {16, 16}, {720, 1280}};
    YuvPicture picture;
    for (const auto& size : sizes) {
        TestPattern pattern(size.width, size.height);
        for (int channel : {0, 7, 31}) {
            pattern.Render(channel, 12345, {}, picture);
            ASSERT_EQ(picture.width, size.width);
            for (Corner corner : kCorners) {
                const Point at = CornerSampleAt(size.width, size.height, corner);
                EXPECT_TRUE(
                    ColourNear(picture.PixelAt(at.x, at.y), CornerColour(channel, corner), 3))
                    << size.width << "x" << size.height << " channel " << channel << " corner "
                    << int(corner);
            }
        }
    }
}

TEST(TestPatternTest, TimeAndViewChangeTheSceneButNeverTheCorners) {
    TestPattern pattern(352, 288);
    YuvPicture home, later, moved;
    pattern.Render(3, 0, {}, home);
    pattern.Render(3, 1, {}, later);
    EXPECT_NE(home.bytes, later.bytes) << "the ball and the counter move";
    EXPECT_TRUE(CornerSquaresEqual(home, later));

    const ViewState views[] = {
        {40, 0, 1, 0, 1}, {0, -30, 1, 0, 1}, {0, 0, 3, 0, 1}, {0, 0, 1, 5, 1}, {0, 0, 1, 0, 0.2}};
    for (const ViewState& view : views) {
        pattern.Render(3, 0, view, moved);
        EXPECT_NE(home.bytes, moved.bytes);
        EXPECT_TRUE(CornerSquaresEqual(home, moved));
    }
    pattern.Render(3, 0, {0, 0, 1, 0, 0.2}, moved);
    EXPECT_LT(MeanLuma(moved), MeanLuma(home));
}

TEST(PtzStateTest, EachCommandMovesItsAxisUntilStop) {
    const struct {
        uint8_t code;
        double ViewState::*field;
        double sign;
    } cases[] = {
        {wire::kPtzLeft, &ViewState::pan, -1},
        {wire::kPtzRight, &ViewState::pan, 1},
        {wire::kPtzUp, &ViewState::tilt, -1},
        {wire::kPtzDown, &ViewState::tilt, 1},
        {wire::kPtzZoomIn, &ViewState::zoom, 1},
        {wire::kPtzZoomOut, &ViewState::zoom, -1},
        {wire::kPtzIrisAdd, &ViewState::brightness, 1},
        {wire::kPtzIrisSub, &ViewState::brightness, -1},
    };
    for (const auto& c : cases) {
        PtzState ptz(352, 288);
        const double home = ptz.View().*c.field;
        ASSERT_TRUE(ptz.Command(c.code));
        for (int i = 0; i < 5; ++i)
            ptz.Step();
        const double moved = ptz.View().*c.field;
        EXPECT_GT((moved - home) * c.sign, 0) << PtzCommandName(c.code);
        ASSERT_TRUE(ptz.Command(wire::kPtzStop));
        ptz.Step();
        EXPECT_EQ(ptz.View().*c.field, moved) << PtzCommandName(c.code) << " goes on after stop";
    }
}

TEST(PtzStateTest, FocusBlursEitherWayAndEveryAxisStopsAtItsLimit) {
    PtzState ptz(352, 288);
    ptz.Command(wire::kPtzFocusAdd);
    for (int i = 0; i < 4; ++i)
        ptz.Step();
    EXPECT_EQ(ptz.View().blur, 2);
    ptz.Command(wire::kPtzFocusSub);
    for (int i = 0; i < 4; ++i)
        ptz.Step();
    EXPECT_EQ(ptz.View().blur, 0) << "back in focus";
    for (int i = 0; i < 100; ++i)
        ptz.Step();
    EXPECT_EQ(ptz.View().blur, PtzState::kMaxFocusOffset / 2);

    for (uint8_t code : {wire::kPtzZoomIn, wire::kPtzIrisSub, wire::kPtzLeft, wire::kPtzDown}) {
        ptz.Command(code);
        for (int i = 0; i < 1000; ++i)
            ptz.Step();
    }
    EXPECT_EQ(ptz.View().zoom, PtzState::kMaxZoom);
    EXPECT_EQ(ptz.View().brightness, PtzState::kMinBrightness);
    EXPECT_EQ(ptz.View().pan, -352);
    EXPECT_EQ(ptz.View().tilt, 288);
    ptz.Reset();
    EXPECT_EQ(ptz.View().zoom, 1);
    EXPECT_EQ(ptz.Running(), 0);
}

TEST(PtzStateTest, CodesOutsideTheProtocolAreRefused) {
    PtzState ptz(352, 288);
    ASSERT_TRUE(ptz.Command(wire::kPtzRight));
    for (int code : {1, 2, 3, 4, 15, 255}) {
        EXPECT_FALSE(ptz.Command(uint8_t(code))) << code;
        EXPECT_STREQ(PtzCommandName(uint8_t(code)), "unknown");
    }
    EXPECT_EQ(ptz.Running(), wire::kPtzRight);
}

// Encodes `count` pictures made by `make`, forcing a key frame at `forced`.
std::vector<EncodedFrame> EncodeRun(const H264Encoder::Settings& settings, int count, int forced,
                                    const std::function<void(int, YuvPicture&)>& make) {
    H264Encoder encoder;
    std::string error;
    EXPECT_TRUE(encoder.Open(settings, error)) << error;
    std::vector<EncodedFrame> frames(static_cast<size_t>(count));
    YuvPicture picture;
    for (int i = 0; i < count; ++i) {
        make(i, picture);
        EXPECT_TRUE(encoder.Encode(picture, i == forced, frames[size_t(i)], error)) << error;
    }
    return frames;
}

TEST(H264EncoderTest, KeyFramesComeWithTheGopAndOnRequestAndDecode) {
    TestPattern pattern(1280, 720);
    const auto frames = EncodeRun({1280, 720, 25, 2000000, 20}, 30, 7, [&](int i, YuvPicture& p) {
        pattern.Render(5, uint64_t(i), {}, p);
    });
    test::TestH264Decoder decoder;
    YuvPicture decoded;
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].key, i == 0 || i == 7 || i == 27)
            << i;  // forced IDR restarts the count
        EXPECT_FALSE(frames[i].bytes.empty());
        EXPECT_LT(frames[i].bytes.size(), 65536u);
        ASSERT_TRUE(decoder.Decode(frames[i].bytes, decoded)) << i;
    }
    EXPECT_EQ(decoded.width, 1280);
    EXPECT_EQ(decoded.height, 720);
    EXPECT_TRUE(test::CornersMatch(decoded, 5));
}

TEST(H264EncoderTest, EvenNoiseStaysWithinOneRecord) {
    // The worst picture for the rate control: fresh noise every frame.
    std::mt19937 random(7);
    const auto frames = EncodeRun({1280, 720, 25, 2000000, 10}, 12, -1, [&](int, YuvPicture& p) {
        p.Resize(1280, 720);
        for (uint8_t& b : p.bytes)
            b = uint8_t(random());
    });
    for (const EncodedFrame& frame : frames)
        EXPECT_LT(frame.bytes.size(), 65536u);
}

TEST(H264EncoderTest, PicturesOfAnotherSizeAreRefused) {
    H264Encoder encoder;
    std::string error;
    EncodedFrame frame;
    YuvPicture picture;
    picture.Resize(352, 288);
    EXPECT_FALSE(encoder.Encode(picture, false, frame, error)) << "not opened yet";
    ASSERT_TRUE(encoder.Open({176, 144, 25, 256000, 50}, error)) << error;
    error.clear();
    EXPECT_FALSE(encoder.Encode(picture, false, frame, error));
    EXPECT_FALSE(error.empty());
    picture.Resize(176, 144);
    EXPECT_TRUE(encoder.Encode(picture, false, frame, error)) << error;
    EXPECT_TRUE(frame.key);
}

}  // namespace
}  // namespace kavrel::sim
