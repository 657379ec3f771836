#include "tools/sim/TestPattern.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kavrel::sim {
namespace {

// Built from the levels 0, 85, 170 and 255; none is red, green, blue or black.
constexpr std::array<Rgb, kChannelColourCount> kChannelColours = {{
    {255, 255, 0},   {0, 255, 255}, {255, 0, 255},   {255, 255, 255}, {255, 170, 0},
    {170, 0, 255},   {0, 170, 85},  {255, 85, 170},  {85, 170, 255},  {170, 255, 0},
    {0, 85, 170},    {170, 85, 0},  {85, 0, 170},    {255, 170, 170}, {170, 255, 170},
    {170, 170, 255}, {85, 85, 85},  {170, 170, 170}, {0, 170, 170},   {170, 0, 170},
    {170, 170, 0},   {85, 255, 85}, {255, 85, 85},   {85, 85, 255},   {0, 85, 0},
    {85, 0, 0},      {0, 0, 85},    {255, 255, 170}, {170, 255, 255}, {255, 170, 255},
    {85, 170, 0},    {0, 170, 255},
}};

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kWhite{235, 235, 235};
constexpr Rgb kBall{255, 220, 0};

// 5 x 7 glyphs, one row per byte, bit 4 the leftmost column.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows;
};
constexpr std::array<Glyph, 13> kGlyphs = {{
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
}};
constexpr int kGlyphColumns = 6;  // 5 drawn and one blank between glyphs
constexpr int kGlyphRows = 7;

// True when font pixel (column, row) of `text` is set; columns count from the
// text's left edge in steps of one font pixel.
bool TextPixel(const std::string& text, int column, int row) {
    if (column < 0 || row < 0 || row >= kGlyphRows)
        return false;
    const size_t index = size_t(column / kGlyphColumns);
    const int inGlyph = column % kGlyphColumns;
    if (index >= text.size() || inGlyph >= 5)
        return false;
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.c == text[index])
            return (glyph.rows[size_t(row)] >> (4 - inGlyph)) & 1;
    }
    return false;
}

int TextColumns(const std::string& text) {
    return int(text.size()) * kGlyphColumns - 1;
}

uint8_t Clamp255(int v) {
    return uint8_t(std::clamp(v, 0, 255));
}

// std::floor is a library call without SSE4.1; this is the per-pixel hot path.
long FloorToLong(double v) {
    const long i = long(v);
    return i - long(v < double(i));
}

// The luma part of RgbToYuv alone.
uint8_t Luma(const uint8_t* rgb) {
    return uint8_t(((66 * rgb[0] + 129 * rgb[1] + 25 * rgb[2] + 128) >> 8) + 16);
}

Rgb Muted(Rgb c, int lift) {
    return {uint8_t(c.r * 35 / 100 + lift), uint8_t(c.g * 35 / 100 + lift),
            uint8_t(c.b * 35 / 100 + lift)};
}

// Division of a window's sum by its size, as a multiplication (the blur's
// inner loops run it once per byte). With the factor rounded up the result is
// the exact floor of the mean while 255 * window^2 < 2^24 (windows up to 256).
struct WindowMean {
    explicit WindowMean(int window)
        : factor(((uint64_t(1) << 24) + uint64_t(window) - 1) / uint64_t(window)) {}
    uint8_t operator()(uint32_t sum) const { return uint8_t((sum * factor) >> 24); }
    uint64_t factor;
};

// Box blur of `count` samples `stride` bytes apart, edges repeated.
void BlurLine(const uint8_t* src, uint8_t* dst, int count, size_t stride, int radius) {
    const auto at = [&](int i) {
        return uint32_t(src[size_t(std::clamp(i, 0, count - 1)) * stride]);
    };
    const WindowMean mean(2 * radius + 1);
    uint32_t sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += at(i);
    for (int i = 0; i < count; ++i) {
        dst[size_t(i) * stride] = mean(sum);
        sum += at(i + radius + 1) - at(i - radius);
    }
}

}  // namespace

Rgb ChannelColour(int channel) {
    const int i = ((channel % kChannelColourCount) + kChannelColourCount) % kChannelColourCount;
    return kChannelColours[size_t(i)];
}

Rgb CornerColour(int channel, Corner corner) {
    switch (corner) {
        case Corner::TopLeft:
            return kRed;
        case Corner::TopRight:
            return kGreen;
        case Corner::BottomLeft:
            return kBlue;
        case Corner::BottomRight:
            return ChannelColour(channel);
    }
    return {};
}

int CornerSquareSize(int width, int height) {
    return std::max(8, std::min(width, height) / 6);
}

Point CornerSampleAt(int width, int height, Corner corner) {
    const int s = CornerSquareSize(width, height);
    const bool right = corner == Corner::TopRight || corner == Corner::BottomRight;
    const bool bottom = corner == Corner::BottomLeft || corner == Corner::BottomRight;
    return {(right ? width - s : 0) + s / 2, (bottom ? height - s : 0) + s / 2};
}

bool ColourNear(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

Yuv RgbToYuv(Rgb c) {
    const int r = c.r, g = c.g, b = c.b;
    return {Clamp255(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16),
            Clamp255(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128),
            Clamp255(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128)};
}

Rgb YuvToRgb(Yuv c) {
    const int luma = 76309 * (c.y - 16);
    const int u = c.u - 128, v = c.v - 128;
    return {Clamp255((luma + 104597 * v) >> 16), Clamp255((luma - 53279 * v - 25675 * u) >> 16),
            Clamp255((luma + 132201 * u) >> 16)};
}

Rgb PixelOfYuv420(const uint8_t* yPlane, int yStride, const uint8_t* uPlane, int uStride,
                  const uint8_t* vPlane, int vStride, int x, int y) {
    return YuvToRgb({yPlane[y * yStride + x], uPlane[(y / 2) * uStride + x / 2],
                     vPlane[(y / 2) * vStride + x / 2]});
}

void YuvPicture::Resize(int w, int h) {
    width = w;
    height = h;
    bytes.assign(size_t(w) * size_t(h) + 2 * size_t(w / 2) * size_t(h / 2), 0);
}

Rgb YuvPicture::PixelAt(int x, int y) const {
    return PixelOfYuv420(Y(), width, U(), width / 2, V(), width / 2, x, y);
}

TestPattern::TestPattern(int width, int height)
    : m_width(width), m_height(height), m_rgb(size_t(width) * size_t(height) * 3) {}

void TestPattern::Render(int channel, uint64_t frameNumber, const ViewState& view,
                         YuvPicture& out) {
    DrawScene(channel, frameNumber, view);
    if (view.blur > 0)
        Blur(view.blur);
    if (view.brightness != 1.0)
        Brighten(view.brightness);
    DrawFrameCounter(frameNumber);
    DrawCorners(channel);
    ToYuv(out);
}

void TestPattern::DrawScene(int channel, uint64_t frameNumber, const ViewState& view) {
    const Rgb dark = Muted(ChannelColour(channel), 30);
    const Rgb light = Muted(ChannelColour(channel), 70);
    const double inverseZoom = 1.0 / std::max(view.zoom, 0.01);
    const double tile = std::max(8, m_height / 8);

    // The scene's origin is the picture's centre at the home position.
    const std::string text = "CH" + std::to_string(channel + 1);
    const double scale = std::min(m_height * 0.3 / kGlyphRows, m_width * 0.8 / TextColumns(text));
    const int textColumns = TextColumns(text);
    const double textLeft = -textColumns * scale / 2;
    std::vector<uint8_t> textBits(size_t(textColumns), 0);  // the current row of the text
    const double textTop = -kGlyphRows * scale / 2;
    const double textRight = -textLeft;
    const double textBottom = -textTop;

    // The ball crosses 80 % of the width and back, a fiftieth of the width per frame.
    const double travel = m_width * 0.8;
    const double speed = std::max(1.0, m_width / 50.0);
    const double phase = std::fmod(double(frameNumber) * speed, 2 * travel);
    const double ballX = -travel / 2 + (phase < travel ? phase : 2 * travel - phase);
    const double ballY = m_height * 0.32;
    const double radius = std::max(3.0, m_height / 14.0);

    const double invTile = 1.0 / tile;
    const double firstX = (0.5 - m_width / 2.0) * inverseZoom + view.pan;
    for (int y = 0; y < m_height; ++y) {
        const double wy = (y + 0.5 - m_height / 2.0) * inverseZoom + view.tilt;
        const long tileY = FloorToLong(wy * invTile);
        const bool textRow = wy >= textTop && wy < textBottom;
        if (textRow) {
            const int row = int((wy - textTop) / scale);
            for (int column = 0; column < textColumns; ++column) {
                textBits[size_t(column)] = TextPixel(text, column, row);
            }
        }
        const double dy = wy - ballY;
        const bool ballRow = dy * dy <= radius * radius;
        uint8_t* p = m_rgb.data() + size_t(y) * size_t(m_width) * 3;
        double wx = firstX;
        for (int x = 0; x < m_width; ++x, wx += inverseZoom, p += 3) {
            Rgb c = ((FloorToLong(wx * invTile) + tileY) & 1) ? light : dark;
            if (textRow && wx >= textLeft && wx < textRight &&
                textBits[std::min(size_t((wx - textLeft) / scale), textBits.size() - 1)]) {
                c = kWhite;
            }
            if (ballRow) {
                const double dx = wx - ballX;
                if (dx * dx + dy * dy <= radius * radius)
                    c = kBall;
            }
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
        }
    }
}

void TestPattern::Blur(int radius) {
    radius = std::min(radius, std::min(m_width, m_height) / 2);
    if (radius <= 0)
        return;
    m_scratch.resize(m_rgb.size());
    uint8_t* scratch = m_scratch.data();
    const size_t rowBytes = size_t(m_width) * 3;
    for (int y = 0; y < m_height; ++y) {
        for (int c = 0; c < 3; ++c) {
            const size_t start = size_t(y) * rowBytes + size_t(c);
            BlurLine(m_rgb.data() + start, scratch + start, m_width, 3, radius);
        }
    }
    // Vertical pass row by row, with one running sum per byte of a row, so
    // memory is walked in order.
    m_columnSums.assign(rowBytes, 0);
    const auto row = [&](int y) {
        return scratch + size_t(std::clamp(y, 0, m_height - 1)) * rowBytes;
    };
    for (int y = -radius; y <= radius; ++y) {
        const uint8_t* r = row(y);
        for (size_t i = 0; i < rowBytes; ++i)
            m_columnSums[i] += r[i];
    }
    const WindowMean mean(2 * radius + 1);
    for (int y = 0; y < m_height; ++y) {
        uint8_t* out = m_rgb.data() + size_t(y) * rowBytes;
        const uint8_t* entering = row(y + radius + 1);
        const uint8_t* leaving = row(y - radius);
        for (size_t i = 0; i < rowBytes; ++i) {
            out[i] = mean(m_columnSums[i]);
            m_columnSums[i] += uint32_t(entering[i]) - uint32_t(leaving[i]);
        }
    }
}

void TestPattern::Brighten(double factor) {
    const int scaled = int(std::lround(factor * 256));
    for (uint8_t& v : m_rgb)
        v = Clamp255((v * scaled) >> 8);
}

void TestPattern::FillRect(int x, int y, int w, int h, Rgb colour) {
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, m_width), y1 = std::min(y + h, m_height);
    for (int row = y0; row < y1; ++row) {
        uint8_t* p = m_rgb.data() + (size_t(row) * size_t(m_width) + size_t(x0)) * 3;
        for (int col = x0; col < x1; ++col, p += 3) {
            p[0] = colour.r;
            p[1] = colour.g;
            p[2] = colour.b;
        }
    }
}

void TestPattern::DrawFrameCounter(uint64_t frameNumber) {
    std::string digits = std::to_string(frameNumber);
    if (digits.size() < 6)
        digits.insert(0, 6 - digits.size(), '0');
    const int scale = std::max(1, m_height / 80);
    const int columns = TextColumns(digits);
    const int boxWidth = (columns + 2) * scale;
    const int boxHeight = (kGlyphRows + 2) * scale;
    const int boxX = (m_width - boxWidth) / 2;
    const int boxY = m_height - boxHeight - std::max(2, m_height / 40);
    FillRect(boxX, boxY, boxWidth, boxHeight, {0, 0, 0});
    for (int row = 0; row < kGlyphRows; ++row) {
        for (int column = 0; column < columns; ++column) {
            if (TextPixel(digits, column, row)) {
                FillRect(boxX + (column + 1) * scale, boxY + (row + 1) * scale, scale, scale,
                         kWhite);
            }
        }
    }
}

void TestPattern::DrawCorners(int channel) {
    const int s = CornerSquareSize(m_width, m_height);
    FillRect(0, 0, s, s, CornerColour(channel, Corner::TopLeft));
    FillRect(m_width - s, 0, s, s, CornerColour(channel, Corner::TopRight));
    FillRect(0, m_height - s, s, s, CornerColour(channel, Corner::BottomLeft));
    FillRect(m_width - s, m_height - s, s, s, CornerColour(channel, Corner::BottomRight));
}

void TestPattern::ToYuv(YuvPicture& out) const {
    if (out.width != m_width || out.height != m_height)
        out.Resize(m_width, m_height);
    const size_t width = size_t(m_width);
    for (int y = 0; y < m_height; y += 2) {
        const uint8_t* top = m_rgb.data() + size_t(y) * width * 3;
        const uint8_t* bottom = top + width * 3;
        uint8_t* lumaTop = out.Y() + size_t(y) * width;
        uint8_t* lumaBottom = lumaTop + width;
        uint8_t* u = out.U() + size_t(y / 2) * (width / 2);
        uint8_t* v = out.V() + size_t(y / 2) * (width / 2);
        for (size_t x = 0; x < width; x += 2, top += 6, bottom += 6) {
            lumaTop[x] = Luma(top);
            lumaTop[x + 1] = Luma(top + 3);
            lumaBottom[x] = Luma(bottom);
            lumaBottom[x + 1] = Luma(bottom + 3);
            // Chroma of the block's mean colour.
            const int r = (top[0] + top[3] + bottom[0] + bottom[3] + 2) >> 2;
            const int g = (top[1] + top[4] + bottom[1] + bottom[4] + 2) >> 2;
            const int b = (top[2] + top[5] + bottom[2] + bottom[5] + 2) >> 2;
            u[x / 2] = uint8_t(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
            v[x / 2] = uint8_t(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
        }
    }
}

}  // namespace kavrel::sim
