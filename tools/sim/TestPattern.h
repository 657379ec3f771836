#pragma once
// The picture the simulator streams, and what a test may expect of it after
// encoding and decoding. Library kavrel_sim_pattern (no FFmpeg, no Qt).
//
// A W x H picture of channel c (0-based) shows, back to front:
//  - the scene, which PTZ moves (pan and tilt), scales (zoom), blurs (focus)
//    and darkens or brightens (iris): tiles in a muted form of the channel's
//    colour, "CH" and the channel number counted from 1 drawn large at the
//    centre, and a yellow ball moving left and right;
//  - a black box at the bottom centre with the frame number in white digits;
//  - four solid squares of side CornerSquareSize(W, H) in the corners, never
//    moved or changed by PTZ:
//        top-left     red    (255, 0, 0)
//        top-right    green  (0, 255, 0)
//        bottom-left  blue   (0, 0, 255)
//        bottom-right ChannelColour(c), one of 32 colours, none of them red,
//                     green, blue or black.
// All colours are built from the levels 0, 85, 170 and 255, so any two differ by
// at least 85 in some component. Decoded, converted with the BT.601
// studio-range formula (YuvToRgb), a corner's centre (CornerSampleAt) lies
// within kCornerTolerance of CornerColour in each component.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavrel::sim {

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

struct Yuv {
    uint8_t y = 0;
    uint8_t u = 0;
    uint8_t v = 0;
    bool operator==(const Yuv&) const = default;
};

struct Point {
    int x = 0;
    int y = 0;
};

enum class Corner { TopLeft, TopRight, BottomLeft, BottomRight };

constexpr int kChannelColourCount = 32;
constexpr int kCornerTolerance = 40;

// The channel's identifying colour (bottom-right corner); channels wrap modulo 32.
Rgb ChannelColour(int channel);
Rgb CornerColour(int channel, Corner corner);
// Side of the corner squares: a sixth of the shorter side, at least 8 pixels.
int CornerSquareSize(int width, int height);
// Centre of a corner square, the place to sample.
Point CornerSampleAt(int width, int height, Corner corner);
// True when every component differs by at most `tolerance`.
bool ColourNear(Rgb a, Rgb b, int tolerance = kCornerTolerance);

// BT.601 studio range, 8-bit integer arithmetic (rounded).
Yuv RgbToYuv(Rgb rgb);
// The viewer's conversion: 16.16 fixed point, truncated, clamped to 0..255.
Rgb YuvToRgb(Yuv yuv);
// Pixel (x, y) of a planar 4:2:0 picture, converted with YuvToRgb.
Rgb PixelOfYuv420(const uint8_t* yPlane, int yStride, const uint8_t* uPlane, int uStride,
                  const uint8_t* vPlane, int vStride, int x, int y);

// Planar YUV 4:2:0, tightly packed: Y rows of `width` bytes, then U and V rows
// of width / 2 bytes. Width and height are even.
struct YuvPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;

    void Resize(int w, int h);
    uint8_t* Y() { return bytes.data(); }
    uint8_t* U() { return bytes.data() + size_t(width) * size_t(height); }
    uint8_t* V() { return U() + size_t(width / 2) * size_t(height / 2); }
    const uint8_t* Y() const { return bytes.data(); }
    const uint8_t* U() const { return bytes.data() + size_t(width) * size_t(height); }
    const uint8_t* V() const { return U() + size_t(width / 2) * size_t(height / 2); }
    Rgb PixelAt(int x, int y) const;
};

// Where the camera looks. Pan and tilt are in picture pixels from the home
// position; zoom 1 shows the scene at its own size; blur is a box radius in
// pixels; brightness multiplies the scene's colours.
struct ViewState {
    double pan = 0;
    double tilt = 0;
    double zoom = 1;
    int blur = 0;
    double brightness = 1;
};

// Draws pictures of one size. Not thread-safe: one per session.
class TestPattern {
  public:
    TestPattern(int width, int height);

    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Draws frame `frameNumber` of `channel` as the camera at `view` sees it.
    void Render(int channel, uint64_t frameNumber, const ViewState& view, YuvPicture& out);

  private:
    void DrawScene(int channel, uint64_t frameNumber, const ViewState& view);
    void Blur(int radius);
    void Brighten(double factor);
    void DrawFrameCounter(uint64_t frameNumber);
    void DrawCorners(int channel);
    void ToYuv(YuvPicture& out) const;
    void FillRect(int x, int y, int w, int h, Rgb colour);

    int m_width;
    int m_height;
    std::vector<uint8_t> m_rgb;          // width * height * 3, top row first
    std::vector<uint8_t> m_scratch;      // the blur's intermediate picture
    std::vector<uint32_t> m_columnSums;  // the blur's running sums, one per byte of a row
};

}  // namespace kavrel::sim
