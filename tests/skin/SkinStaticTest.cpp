// Drawing of CSkinStatic: the three backgrounds, the text offset, alignment,
// and unknown bitmaps.

#include <gtest/gtest.h>

#include <QWidget>

#include "skin/BitmapIds.h"
#include "skin/CSkinStatic.h"
#include "tests/skin/SkinTestImages.h"

namespace kavrel {
namespace {

using test::All;
using test::BoundingBox;
using test::IsBlack;

const QRgb kParentColour = qRgb(255, 0, 0);
const QSize kLabelSize(200, 20);

bool IsParent(QRgb p) {
    return p == kParentColour;
}
bool IsNotParent(QRgb p) {
    return p != kParentColour;
}
bool IsDark(QRgb p) {
    return qMin(qMin(qRed(p), qGreen(p)), qBlue(p)) < 100;
}
bool IsBright(QRgb p) {
    return !IsDark(p);
}

// A label on a red parent that stands for the screen; renders the label's
// area of the parent, so that what the label leaves unpainted shows red.
QImage RenderLabel(int bitmapId, const QString& text, Qt::Alignment alignment = Qt::AlignLeft,
                   int screenHeight = 320) {
    QWidget screen;
    screen.resize(240, screenHeight);
    screen.setAutoFillBackground(true);
    QPalette palette = screen.palette();
    palette.setColor(QPalette::Window, QColor(kParentColour));
    screen.setPalette(palette);
    auto* label = new CSkinStatic(bitmapId, &screen);
    label->setGeometry(QRect(QPoint(20, 30), kLabelSize));
    label->setText(text);
    if (alignment != Qt::AlignLeft)
        label->setAlignment(alignment);

    QImage image(kLabelSize, QImage::Format_RGB32);
    image.fill(Qt::green);
    screen.render(&image, QPoint(), QRegion(label->geometry()));
    return image;
}

TEST(SkinStaticTest, TextOffsetIsFiveEighthsOfAPercentOfTheScreenHeight) {
    EXPECT_EQ(CSkinStatic::TextOffset(320), 2);
    EXPECT_EQ(CSkinStatic::TextOffset(640), 4);
    EXPECT_EQ(CSkinStatic::TextOffset(240), 1);
    EXPECT_EQ(CSkinStatic::TextOffset(159), 0);
}

TEST(SkinStaticTest, NoBackgroundShowsTheParentBehindBlackText) {
    const QImage image = RenderLabel(-1, "Kavrel");
    // Black text blended over red leaves only shades of red: nothing else was
    // painted behind it.
    EXPECT_TRUE(All(image, image.rect(), [](QRgb p) { return qGreen(p) == 0 && qBlue(p) == 0; }));
    const QRect text = BoundingBox(image, image.rect(), [](QRgb p) { return qRed(p) < 64; });
    ASSERT_FALSE(text.isEmpty());
    EXPECT_LT(text.right(), 100);
    EXPECT_TRUE(All(image, QRect(100, 0, 100, 20), IsParent));
}

TEST(SkinStaticTest, BitmapZeroFillsBlack) {
    EXPECT_TRUE(All(RenderLabel(0, ""), QRect(QPoint(0, 0), kLabelSize), IsBlack));
    EXPECT_TRUE(All(RenderLabel(0, "Kavrel"), QRect(QPoint(0, 0), kLabelSize), IsBlack));
}

TEST(SkinStaticTest, BitmapIsStretchedUnderBlackText) {
    const QImage empty = RenderLabel(bitmap::kTitleBackground, "");
    EXPECT_TRUE(All(empty, empty.rect(), IsBright));
    const QImage withText = RenderLabel(bitmap::kTitleBackground, " Kavrel 1.0.1");
    const QRect text = BoundingBox(withText, withText.rect(), IsDark);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_LE(text.left(), 12);  // left-aligned by default
}

TEST(SkinStaticTest, UnknownBitmapPaintsNothingAtAll) {
    const QImage image = RenderLabel(999, "Kavrel");
    EXPECT_TRUE(All(image, image.rect(), IsParent));
}

TEST(SkinStaticTest, TextMovesDownWithTheScreenHeight) {
    const QRect at320 = BoundingBox(RenderLabel(-1, "Kavrel", Qt::AlignLeft, 320),
                                    QRect(QPoint(0, 0), kLabelSize), IsNotParent);
    const QRect at640 = BoundingBox(RenderLabel(-1, "Kavrel", Qt::AlignLeft, 640),
                                    QRect(QPoint(0, 0), kLabelSize), IsNotParent);
    ASSERT_FALSE(at320.isEmpty());
    EXPECT_EQ(at640.top() - at320.top(), 2);
    EXPECT_EQ(at640.left(), at320.left());
}

TEST(SkinStaticTest, AlignmentPlacesTheTextLeftCentredOrRight) {
    const QRect all(QPoint(0, 0), kLabelSize);
    const QRect left = BoundingBox(RenderLabel(bitmap::kTitleBackground, "Kavrel"), all, IsDark);
    const QRect centre =
        BoundingBox(RenderLabel(bitmap::kTitleBackground, "Kavrel", Qt::AlignHCenter), all, IsDark);
    const QRect right =
        BoundingBox(RenderLabel(bitmap::kTitleBackground, "Kavrel", Qt::AlignRight), all, IsDark);
    ASSERT_FALSE(left.isEmpty());
    ASSERT_FALSE(centre.isEmpty());
    ASSERT_FALSE(right.isEmpty());
    EXPECT_LE(left.left(), 2);
    EXPECT_GE(right.right(), 196);  // flush right
    EXPECT_GT(right.left(), 100);
    EXPECT_LE(std::abs(centre.left() - (199 - centre.right())), 2);
    EXPECT_EQ(right.width(), left.width());
}

}  // namespace
}  // namespace kavrel
