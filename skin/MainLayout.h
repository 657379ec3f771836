#pragma once
// Geometry of the main window, computed once from its client size.
//
// From the top: title bar (label and exit button), video window, status line,
// two rows of square buttons (camera control in columns 0-4, channels in
// columns 5-6), and six command buttons along the bottom edge. All arithmetic
// is single-precision floating point on the client size, converted to integers
// only at the documented places, so the rectangles match the handheld's
// exactly. Pure: no widgets involved.

#include <QRect>
#include <array>

namespace kavrel {

// A rectangle as (left, top, right, bottom) with right and bottom exclusive.
struct LayoutRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    QRect ToQRect() const { return QRect(left, top, right - left, bottom - top); }
    bool operator==(const LayoutRect&) const = default;
};

struct MainLayout {
    LayoutRect titleLabel;                    // id 202
    LayoutRect titleExit;                     // id 201
    std::array<LayoutRect, 6> commands;       // ids 203 to 208, left to right
    std::array<LayoutRect, 10> ptz;           // ids 209 to 218, index id - 209
    std::array<LayoutRect, 4> channelPlaces;  // places of channels n, n+1, n+2, n+3 of a page
    LayoutRect statusLine;                    // id 235
    LayoutRect video;                         // id 236

    // Rectangle of command or camera button `id` (201 to 218 except 202);
    // an empty rectangle for any other id.
    LayoutRect ButtonById(int id) const;
    // Rectangle of channel button `index` (0-based, channel index + 1): every
    // page lies on the same four places.
    LayoutRect ChannelButton(int index) const { return channelPlaces[((index % 4) + 4) % 4]; }
};

// The layout for a client rectangle of `width` x `height` whose top left is
// (0, 0). Any size gives a result (tiny or landscape sizes give small or
// empty rectangles); nothing is clamped.
MainLayout ComputeMainLayout(int width, int height);

// The arrangement for a window wider than tall (a desktop monitor): the video
// on the left over the full height, the controls in a column on the right
// (title and status line on top, the camera buttons in the handheld's columns,
// the four channel places in a row, the six command buttons in two rows at the
// bottom). Every button is a square of at least 40 pixels once the window is
// about 770 x 350 or larger, and the column never takes more than 30 % of the
// width; at any size no two controls overlap.
MainLayout ComputeDesktopLayout(int width, int height);

// The layout a window of this client size uses: the desktop arrangement when
// it is wider than tall, the handheld's otherwise.
bool UsesDesktopArrangement(int width, int height);
MainLayout ComputeWindowLayout(int width, int height);

// int(x) of the layout formulas: truncation toward zero. Values beyond the int
// range (only from absurd client sizes) saturate instead of being undefined.
// The settings dialog's layout uses it too.
int TruncateLayoutValue(float value);

}  // namespace kavrel
