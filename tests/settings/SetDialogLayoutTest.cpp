// The settings dialog's geometry from its client size.

#include "settings/ui/SetDialogLayout.h"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

LayoutRect Rect(int left, int top, int right, int bottom) {
    return LayoutRect{left, top, right, bottom};
}

// 240 x 320 is where single precision shows: exact arithmetic would give a
// margin of 10 and a label width of 80, the handheld gave 9 and 79.
TEST(SetDialogLayoutTest, QuarterVgaGivesTheHandheldsRectangles) {
    const SetDialogLayout layout = ComputeSetDialogLayout(240, 320);
    EXPECT_EQ(layout.rowHeight, 20);
    EXPECT_EQ(layout.rowGap, 10);
    EXPECT_EQ(layout.buttonHeight, 25);
    EXPECT_EQ(layout.margin, 9);
    EXPECT_EQ(layout.labelWidth, 79);
    EXPECT_EQ(layout.closeWidth, 19);
    EXPECT_EQ(layout.buttonWidth, 106);

    EXPECT_EQ(layout.title, Rect(0, 0, 221, 20));
    EXPECT_EQ(layout.close, Rect(221, 0, 240, 20));
    const int rows[6] = {30, 60, 90, 120, 150, 180};
    for (size_t k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(layout.rowTop[k], rows[k]);
        EXPECT_EQ(layout.labels[k], Rect(9, rows[k], 88, rows[k] + 20));
        EXPECT_EQ(layout.inputs[k], Rect(88, rows[k], 231, rows[k] + 20));
        EXPECT_EQ(layout.openedLists[k], Rect(88, rows[k], 88 + 143, rows[k] + 100));
    }
    EXPECT_EQ(layout.ok, Rect(9, 210, 115, 235));
    EXPECT_EQ(layout.add, Rect(124, 210, 230, 235));
    EXPECT_EQ(layout.remove, Rect(9, 245, 115, 270));
}

TEST(SetDialogLayoutTest, ProgramScreenLengths) {
    const SetDialogLayout layout = ComputeSetDialogLayout(480, 640);
    EXPECT_EQ(layout.rowHeight, 40);
    EXPECT_EQ(layout.rowGap, 20);
    EXPECT_EQ(layout.buttonHeight, 50);
    EXPECT_EQ(layout.margin, 19);
    EXPECT_EQ(layout.labelWidth, 159);
    EXPECT_EQ(layout.closeWidth, 39);
    EXPECT_EQ(layout.buttonWidth, 211);
    EXPECT_EQ(layout.rowTop[0], 50);
    EXPECT_EQ(layout.rowTop[5], 50 + 5 * 60);
    EXPECT_EQ(layout.okRowTop, 410);
    EXPECT_EQ(layout.deleteRowTop, 480);
    EXPECT_EQ(layout.add, Rect(249, 410, 460, 460));
    EXPECT_EQ(layout.openedLists[0], Rect(178, 50, 461, 250));
}

// Sizes the program never uses still give a layout, never a crash or an
// overflow: the lengths scale down to nothing and saturate at the top.
TEST(SetDialogLayoutTest, DegenerateSizesStayDefined) {
    const SetDialogLayout empty = ComputeSetDialogLayout(0, 0);
    EXPECT_EQ(empty.rowHeight, 0);
    EXPECT_EQ(empty.buttonWidth, 0);
    EXPECT_EQ(empty.rowTop[0], 10);
    EXPECT_EQ(empty.close, Rect(0, 0, 0, 0));

    const SetDialogLayout huge = ComputeSetDialogLayout(1 << 30, 1 << 30);
    EXPECT_GT(huge.rowHeight, 0);
    EXPECT_GT(huge.labelWidth, 0);
}

// Up to the handheld's size the dialog covers the window; above it, the
// handheld's shape scaled as the texts are, centred over the window.
TEST(SetDialogLayoutTest, DialogCoversAHandheldWindowAndIsADialogOnADesktop) {
    struct Case {
        QRect window;
        QRect dialog;
    } cases[] = {
        {QRect(37, 21, 480, 640), QRect(37, 21, 480, 640)},
        {QRect(0, 0, 240, 320), QRect(0, 0, 240, 320)},
        {QRect(5, 5, 320, 240), QRect(5, 5, 320, 240)},         // small landscape
        {QRect(100, 50, 1600, 900), QRect(562, 50, 675, 900)},  // scale 900 / 640
        {QRect(0, 0, 1920, 1080), QRect(555, 0, 810, 1080)},
        {QRect(0, 0, 481, 640), QRect(0, 0, 480, 640)},
        {QRect(0, 0, 1280, 600), QRect(415, 0, 450, 600)},     // never beyond the window
        {QRect(0, 0, 1000, 3000), QRect(0, 833, 1000, 1333)},  // a tall one: by width
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window.width());
        const QRect placed = PlaceSetDialog(c.window);
        EXPECT_EQ(placed, c.dialog);
        EXPECT_TRUE(c.window.contains(placed));
    }
}

}  // namespace
}  // namespace kavrel
