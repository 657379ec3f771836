#include "settings/ui/SetDialogLayout.h"

#include <algorithm>

// This file is compiled with floating-point contraction off (see
// settings/ui/CMakeLists.txt): each product must be rounded to single
// precision on its own, as on the handheld; a fused multiply-add would move
// some edges by a pixel.

namespace kavrel {
namespace {

// (size x factor) x 0.01, both products in single precision, truncated
// toward zero like the main window's layout.
int Percent(int size, float factor) {
    const float product = static_cast<float>(size) * factor;
    return TruncateLayoutValue(product * 0.01f);
}

// The handheld's screen, for which the dialog's form was drawn.
constexpr int kHandheldWidth = 480;
constexpr int kHandheldHeight = 640;

}  // namespace

SetDialogLayout ComputeSetDialogLayout(int width, int height) {
    SetDialogLayout layout;
    const int r = layout.rowHeight = Percent(height, 6.25f);
    const int g = layout.rowGap = Percent(height, 3.125f);
    const int bh = layout.buttonHeight = Percent(height, 7.8125f);
    const int m = layout.margin = Percent(width, 4.1666665f);
    const int L = layout.labelWidth = Percent(width, 33.333332f);
    const int c = layout.closeWidth = Percent(width, 8.333333f);
    const int bw = layout.buttonWidth = (width - 3 * m) / 2;

    layout.rowTop[0] = r + 10;
    for (size_t k = 1; k < layout.rowTop.size(); ++k)
        layout.rowTop[k] = layout.rowTop[k - 1] + r + g;
    const int y7 = layout.okRowTop = layout.rowTop[5] + r + g;
    const int y8 = layout.deleteRowTop = y7 + bh + g;

    layout.title = LayoutRect{0, 0, width - c, r};
    layout.close = LayoutRect{width - c, 0, width, r};
    for (size_t k = 0; k < layout.rowTop.size(); ++k) {
        const int y = layout.rowTop[k];
        layout.labels[k] = LayoutRect{m, y, m + L, y + r};
        layout.inputs[k] = LayoutRect{m + L, y, width - m, y + r};
        layout.openedLists[k] = LayoutRect{m + L, y, (m + L) + (width - 2 * m - L), y + 5 * r};
    }
    layout.ok = LayoutRect{m, y7, m + bw, y7 + bh};
    layout.add = LayoutRect{2 * m + bw, y7, 2 * (m + bw), y7 + bh};
    layout.remove = LayoutRect{m, y8, m + bw, y8 + bh};
    layout.find = LayoutRect{2 * m + bw, y8, 2 * (m + bw), y8 + bh};
    return layout;
}

QRect PlaceSetDialog(const QRect& screen) {
    if (screen.width() <= kHandheldWidth && screen.height() <= kHandheldHeight)
        return screen;
    const double scale = std::min(double(screen.width()) / kHandheldWidth,
                                  double(screen.height()) / kHandheldHeight);
    // Truncated, so the dialog never overhangs the window it belongs to.
    const int width = std::max(1, int(kHandheldWidth * scale));
    const int height = std::max(1, int(kHandheldHeight * scale));
    return QRect(screen.left() + (screen.width() - width) / 2,
                 screen.top() + (screen.height() - height) / 2, width, height);
}

}  // namespace kavrel
