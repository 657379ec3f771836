#pragma once
// Geometry of the settings dialog, computed from its client size.
//
// A title bar (title label and close button), six rows of a right-aligned
// label and an input control (history, address, port, user name, password,
// channel), then OK and add side by side and delete below OK. Six lengths are
// single-precision products of the client size, truncated toward zero, so the
// rectangles match the handheld's to the pixel. Pure: no widgets involved.

#include <QRect>
#include <array>

#include "skin/MainLayout.h"

namespace kavrel {

struct SetDialogLayout {
    // The six lengths and the button width.
    int rowHeight = 0;     // r: H x 6.25 %
    int rowGap = 0;        // g: H x 3.125 %
    int buttonHeight = 0;  // bh: H x 7.8125 %
    int margin = 0;        // m: W x 25/6 %
    int labelWidth = 0;    // L: W x 100/3 %
    int closeWidth = 0;    // c: W x 25/3 %
    int buttonWidth = 0;   // bw: (W - 3m) / 2

    std::array<int, 6> rowTop{};  // y1 ... y6
    int okRowTop = 0;             // y7: OK and add
    int deleteRowTop = 0;         // y8: delete

    LayoutRect title;                  // 202
    LayoutRect close;                  // 201
    std::array<LayoutRect, 6> labels;  // 300 ... 305
    // Input of row k (0-based) as first created: m + L, yk, W - m, yk + r.
    // The password box (row 5) keeps it.
    std::array<LayoutRect, 6> inputs;
    // A list of row k moved to its opened size: m + L, yk, width W - 2m - L,
    // height 5r (the height includes the opened list).
    std::array<LayoutRect, 6> openedLists;
    LayoutRect ok;      // 244
    LayoutRect add;     // 245
    LayoutRect remove;  // 246
    LayoutRect find;    // 247: "Find cameras", right of delete (under add)
};

// The layout for a client area of `width` x `height` whose top left is (0, 0).
// Any size gives a result; tiny sizes give small or empty rectangles.
SetDialogLayout ComputeSetDialogLayout(int width, int height);

// Where the dialog opens over the program's screen `screen` (the main
// window's client area, in global coordinates). A screen of the handheld's
// 480 x 640 or smaller is covered, as the design has it. On a larger one a
// full-window form would spread a handful of fields over a desktop, so the
// dialog keeps the handheld's shape, scaled by min(width / 480, height / 640)
// as the main window scales its texts (never beyond the screen), centred.
QRect PlaceSetDialog(const QRect& screen);

}  // namespace kavrel
