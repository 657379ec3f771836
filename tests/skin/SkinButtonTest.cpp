// Drawing of CSkinButton: the bitmap area, the black text strip, the text
// placements, unknown bitmaps, and the absence of state looks.

#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>
#include <QWidget>
#include <memory>

#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "tests/skin/SkinTestImages.h"

namespace kavrel {
namespace {

using test::All;
using test::BoundingBox;
using test::IsBlack;

// Bitmap 129 is a light panel: every pixel of it, stretched, is bright.
constexpr int kLightBitmap = bitmap::kTitleBackground;
constexpr int kUnknownBitmap = 999;

bool IsBright(QRgb p) {
    return qMin(qMin(qRed(p), qGreen(p)), qBlue(p)) >= 100;
}
bool IsNotBlack(QRgb p) {
    return !IsBlack(p);
}
// White text antialiased onto black gives greys only.
bool IsBlackOrGrey(QRgb p) {
    return qRed(p) == qGreen(p) && qGreen(p) == qBlue(p);
}

// A button inside a top-level window that stands for the screen.
struct ButtonOnScreen {
    ButtonOnScreen(int bitmapId, int placement, const QString& text, QSize size,
                   int screenHeight = 320) {
        screen.resize(240, screenHeight);
        button = new CSkinButton(bitmapId, placement, &screen);
        button->setGeometry(QRect(QPoint(10, 10), size));
        button->setText(text);
    }

    QImage Render() const {
        QImage image(button->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        button->render(&image);
        return image;
    }

    QWidget screen;
    CSkinButton* button = nullptr;  // owned by screen
};

TEST(SkinButtonTest, WithoutTextTheBitmapFillsTheWholeButtonForEveryPlacement) {
    for (int placement : {0, 1, 2, 3, 7}) {
        const QImage image = ButtonOnScreen(kLightBitmap, placement, "", QSize(60, 60)).Render();
        EXPECT_TRUE(All(image, image.rect(), IsBright)) << "placement " << placement;
    }
}

TEST(SkinButtonTest, TextInTheBottomStripShortensTheBitmapByNineteenPixelsAtHeight320) {
    const QImage image = ButtonOnScreen(kLightBitmap, 2, "Ab", QSize(60, 60)).Render();
    const int strip = 320 * 6 / 100;
    ASSERT_EQ(strip, 19);
    const QRect bitmapArea(0, 0, 60, 60 - strip);
    const QRect stripArea(0, 60 - strip, 60, strip);
    EXPECT_TRUE(All(image, bitmapArea, IsBright));
    EXPECT_TRUE(All(image, stripArea, IsBlackOrGrey));
    const QRect text = BoundingBox(image, stripArea, IsNotBlack);
    ASSERT_FALSE(text.isEmpty());
    // Centred: the margins left and right of the text differ by a pixel at most.
    EXPECT_LE(std::abs(text.left() - (59 - text.right())), 1) << text.left() << " " << text.right();
}

TEST(SkinButtonTest, StripFollowsTheTopLevelWindowsHeightNotTheButtons) {
    const QImage image = ButtonOnScreen(kLightBitmap, 2, "Ab", QSize(80, 80), 640).Render();
    const int strip = 640 * 6 / 100;  // 38
    EXPECT_TRUE(All(image, QRect(0, 0, 80, 80 - strip), IsBright));
    EXPECT_TRUE(All(image, QRect(0, 80 - strip, 80, strip), IsBlackOrGrey));
}

TEST(SkinButtonTest, LeftAndRightPlacementsHugTheirEdges) {
    const QRect stripArea(0, 41, 60, 19);
    const QImage left = ButtonOnScreen(kLightBitmap, 0, "Ab", QSize(60, 60)).Render();
    const QRect leftText = BoundingBox(left, stripArea, IsNotBlack);
    ASSERT_FALSE(leftText.isEmpty());
    EXPECT_LE(leftText.left(), 2);
    EXPECT_LT(leftText.right(), 40);

    const QImage right = ButtonOnScreen(kLightBitmap, 1, "Ab", QSize(60, 60)).Render();
    const QRect rightText = BoundingBox(right, stripArea, IsNotBlack);
    ASSERT_FALSE(rightText.isEmpty());
    EXPECT_GE(rightText.right(), 57);
    EXPECT_GT(rightText.left(), 20);
}

TEST(SkinButtonTest, CentredTextKeepsTheBitmapOverTheWholeButton) {
    const QImage plain = ButtonOnScreen(kLightBitmap, 3, "", QSize(60, 60)).Render();
    const QImage withText = ButtonOnScreen(kLightBitmap, 3, "Ab", QSize(60, 60)).Render();
    // No black strip: the bottom rows still show the bitmap.
    EXPECT_TRUE(All(withText, QRect(0, 50, 60, 10), IsBright));
    EXPECT_NE(plain, withText);  // the text is drawn over the bitmap
}

TEST(SkinButtonTest, UnknownPlacementLeavesTheStripButDrawsNoText) {
    const QImage image = ButtonOnScreen(kLightBitmap, 7, "Ab", QSize(60, 60)).Render();
    EXPECT_TRUE(All(image, QRect(0, 0, 60, 41), IsBright));
    EXPECT_TRUE(All(image, QRect(0, 41, 60, 19), IsBlack));
}

TEST(SkinButtonTest, UnknownBitmapLeavesTheButtonBlackWithoutText) {
    for (const QString& text : {QString(), QString("Ab")}) {
        const QImage image = ButtonOnScreen(kUnknownBitmap, 2, text, QSize(60, 60)).Render();
        EXPECT_TRUE(All(image, image.rect(), IsBlack)) << text.toStdString();
    }
}

TEST(SkinButtonTest, ButtonLowerThanTheStripShowsOnlyItsText) {
    const QImage image = ButtonOnScreen(kLightBitmap, 2, "Ab", QSize(60, 15)).Render();
    EXPECT_TRUE(All(image, image.rect(), IsBlackOrGrey));
}

TEST(SkinButtonTest, PressedAndDisabledButtonsLookTheSame) {
    ButtonOnScreen subject(kLightBitmap, 2, "Ab", QSize(60, 60));
    const QImage normal = subject.Render();
    subject.button->setDown(true);
    EXPECT_EQ(subject.Render(), normal);
    subject.button->setDown(false);
    subject.button->setEnabled(false);
    EXPECT_EQ(subject.Render(), normal);
}

// Counts its paints, to see SetBitmap schedule one.
class CountingButton : public CSkinButton {
  public:
    using CSkinButton::CSkinButton;
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        CSkinButton::paintEvent(event);
    }
};

TEST(SkinButtonTest, SetBitmapRepaintsAVisibleButtonWithTheNewPicture) {
    QWidget screen;
    screen.resize(240, 320);
    auto* button = new CountingButton(bitmap::kPlay, 2, &screen);
    button->setGeometry(10, 10, 60, 60);
    screen.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&screen));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->paints > 0; }, 5000));

    button->paints = 0;
    button->SetBitmap(bitmap::kPlayActive);
    EXPECT_EQ(button->bitmapId(), bitmap::kPlayActive);
    EXPECT_TRUE(QTest::qWaitFor([&] { return button->paints > 0; }, 5000));

    ButtonOnScreen fresh(bitmap::kPlayActive, 2, "", QSize(60, 60));
    QImage shown(button->size(), QImage::Format_RGB32);
    button->render(&shown);
    EXPECT_EQ(shown, fresh.Render());
    // Pressing it afterwards shows no pressed look.
    button->setDown(true);
    QImage pressed(button->size(), QImage::Format_RGB32);
    button->render(&pressed);
    EXPECT_EQ(pressed, shown);
}

}  // namespace
}  // namespace kavrel
