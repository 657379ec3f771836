#include "skin/MainLayout.h"

#include <algorithm>
#include <limits>

#include "skin/ControlIds.h"

// This file is compiled with floating-point contraction off (see
// skin/CMakeLists.txt): a fused multiply-add would round differently from the
// handheld's separate single-precision products and sums.

namespace kavrel {
int TruncateLayoutValue(float value) {
    constexpr float kLimit = 2147483520.0f;  // largest float below 2^31
    if (value >= kLimit)
        return std::numeric_limits<int>::max();
    if (value <= -kLimit)
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

namespace {
int Trunc(float value) {
    return TruncateLayoutValue(value);
}
}  // namespace

LayoutRect MainLayout::ButtonById(int id) const {
    if (id == control::kTitleExit)
        return titleExit;
    if (id >= control::kPlay && id <= control::kExit)
        return commands[size_t(id - control::kPlay)];
    if (id >= control::kFirstPtz && id <= control::kLastPtz)
        return ptz[size_t(id - control::kFirstPtz)];
    return LayoutRect{};
}

MainLayout ComputeMainLayout(int width, int height) {
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);

    const float t = (h * 6.25f) * 0.01f;       // title bar height
    const float x = (w * 8.333333f) * 0.01f;   // title exit button width
    const float s = (w * 16.666666f) * 0.01f;  // command button side
    const float p = (w * 12.5f) * 0.01f;       // camera and channel button side
    const float g = (w - p * 7.0f) * 0.1f;     // gap
    const float r = p * 2.0f + g * 2.0f;       // the two button rows with their gaps
    const float y = (h - s) - r;               // top of the upper row

    // Left edges of the seven columns; a double gap after columns 1 and 4.
    std::array<float, 7> column{};
    column[0] = g;
    column[1] = (g + p) + g;
    column[2] = (g * 2.0f + p) + column[1];
    column[3] = (g + p) + column[2];
    column[4] = (g + p) + column[3];
    column[5] = (g * 2.0f + p) + column[4];
    column[6] = (g + p) + column[5];

    auto upper = [&](int c) {
        const float left = column[size_t(c)];
        return LayoutRect{Trunc(left), Trunc(y), Trunc(p + left), Trunc(y + p)};
    };
    auto lower = [&](int c) {
        const float left = column[size_t(c)];
        return LayoutRect{Trunc(left), Trunc(((h - s) - p) - g), Trunc(p + left),
                          Trunc((h - s) - g)};
    };

    MainLayout layout;
    layout.titleLabel = LayoutRect{0, 0, width - Trunc(x), Trunc(t)};
    layout.titleExit = LayoutRect{width - Trunc(x), 0, width, Trunc(t)};

    float commandLeft = 0.0f;
    for (size_t k = 0; k < layout.commands.size(); ++k) {
        if (k == 1) {
            commandLeft = s;
        } else if (k == 2) {
            commandLeft = s + s;
        } else if (k > 2) {
            commandLeft = commandLeft + s;
        }
        layout.commands[k] =
            LayoutRect{Trunc(commandLeft), Trunc(h - s), Trunc(commandLeft + s), height};
    }

    auto setPtz = [&](int id, LayoutRect rect) {
        layout.ptz[size_t(id - control::kFirstPtz)] = rect;
    };
    setPtz(control::kPtzUp, upper(0));
    setPtz(control::kPtzDown, lower(0));
    setPtz(control::kPtzLeft, upper(1));
    setPtz(control::kPtzRight, lower(1));
    setPtz(control::kPtzZoomIn, upper(2));
    setPtz(control::kPtzZoomOut, lower(2));
    setPtz(control::kPtzFocusAdd, upper(3));
    setPtz(control::kPtzFocusSub, lower(3));
    setPtz(control::kPtzIrisAdd, upper(4));
    setPtz(control::kPtzIrisSub, lower(4));

    layout.channelPlaces = {upper(5), upper(6), lower(5), lower(6)};

    layout.statusLine = LayoutRect{0, Trunc((y - t) - g), width, Trunc(y - g)};

    // The video fills the space between title bar and status line, but is
    // never taller than wide; a free band then remains above the status line.
    const float available = ((((h - r) - g) - s) - t) - t;
    const float videoHeight = available > w ? w : available;
    layout.video = LayoutRect{0, Trunc(t), width, Trunc(videoHeight + t)};
    return layout;
}

MainLayout ComputeDesktopLayout(int width, int height) {
    // Side b of the camera and channel buttons, from the height (the column's
    // rows take at most 8.8 b with their gaps) and from the width (the column,
    // 5.75 b, at most 30 % of it). Integer arithmetic: nothing here needs the
    // handheld's rounding.
    const int b = std::max(0, std::min(height * 10 / 88, width * 30 / 575));
    const int g = std::max(1, b / 8);    // gap
    const int t = b * 13 / 20;           // title and status rows
    const int column = 5 * b + 6 * g;    // the control column's width
    const int s = (column - 4 * g) / 3;  // command button side
    const int x0 = width - column;       // the column's left edge
    auto cell = [&](int left, int top, int side) {
        return LayoutRect{left, top, left + side, top + side};
    };
    auto at = [&](int c) { return x0 + g + c * (b + g); };

    MainLayout layout;
    layout.video = LayoutRect{0, 0, std::max(0, x0), height};
    layout.titleExit = LayoutRect{x0 + column - g - t, g, x0 + column - g, g + t};
    layout.titleLabel = LayoutRect{x0 + g, g, layout.titleExit.left - g, g + t};
    layout.statusLine = LayoutRect{x0 + g, 2 * g + t, x0 + column - g, 2 * g + 2 * t};

    const int upper = 3 * g + 2 * t;
    const int lower = upper + b + g;
    auto setPtz = [&](int id, int c, int top) {
        layout.ptz[size_t(id - control::kFirstPtz)] = cell(at(c), top, b);
    };
    setPtz(control::kPtzUp, 0, upper);
    setPtz(control::kPtzDown, 0, lower);
    setPtz(control::kPtzLeft, 1, upper);
    setPtz(control::kPtzRight, 1, lower);
    setPtz(control::kPtzZoomIn, 2, upper);
    setPtz(control::kPtzZoomOut, 2, lower);
    setPtz(control::kPtzFocusAdd, 3, upper);
    setPtz(control::kPtzFocusSub, 3, lower);
    setPtz(control::kPtzIrisAdd, 4, upper);
    setPtz(control::kPtzIrisSub, 4, lower);

    const int channels = lower + b + g;
    for (size_t k = 0; k < layout.channelPlaces.size(); ++k)
        layout.channelPlaces[k] = cell(at(int(k)), channels, b);

    // The commands stand on the bottom edge; what the height leaves over lies
    // between them and the channel row.
    const int secondRow = height - g - s;
    const int firstRow = secondRow - g - s;
    for (size_t k = 0; k < layout.commands.size(); ++k) {
        const int left = x0 + g + int(k % 3) * (s + g);
        layout.commands[k] = cell(left, k < 3 ? firstRow : secondRow, s);
    }
    return layout;
}

bool UsesDesktopArrangement(int width, int height) {
    return width > height;
}

MainLayout ComputeWindowLayout(int width, int height) {
    return UsesDesktopArrangement(width, height) ? ComputeDesktopLayout(width, height)
                                                 : ComputeMainLayout(width, height);
}

}  // namespace kavrel
