// The skin's pictures are drawn for the device's pixels and kept, and its font
// is a sans-serif that grows with the window.

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QWidget>

#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "skin/SkinBitmap.h"

namespace kavrel {
namespace {

QImage RenderAt(QWidget& widget, qreal ratio) {
    QImage image(widget.size() * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::magenta);
    widget.render(&image);
    return image;
}

TEST(SkinPictureTest, ControlsShowTheArtworkAtTheDevicesOwnPixels) {
    QWidget screen;
    screen.resize(240, 320);
    auto* button = new CSkinButton(bitmap::kZoomIn, 2, &screen);
    button->setGeometry(10, 10, 60, 60);
    auto* label = new CSkinStatic(bitmap::kTitleBackground, &screen);
    label->setGeometry(10, 80, 200, 20);

    const QImage sharp = SkinPicture(bitmap::kZoomIn, QSize(60, 60), 2);
    ASSERT_EQ(sharp.size(), QSize(120, 120));
    // Finer than the one-ratio picture doubled: detail at device resolution.
    EXPECT_NE(sharp, SkinPicture(bitmap::kZoomIn, QSize(60, 60), 1).scaled(120, 120));
    EXPECT_EQ(RenderAt(*button, 2), sharp);
    EXPECT_EQ(RenderAt(*button, 1), SkinPicture(bitmap::kZoomIn, QSize(60, 60), 1));
    EXPECT_EQ(RenderAt(*label, 2), SkinPicture(bitmap::kTitleBackground, QSize(200, 20), 2));
}

TEST(SkinPictureTest, PicturesHaveTheDevicePixelSizeAndAreKept) {
    for (qreal ratio : {1.0, 1.25, 1.5, 2.0}) {
        const QImage picture = SkinPicture(bitmap::kPlay, QSize(55, 41), ratio);
        EXPECT_EQ(picture.size(), QSize(qRound(55 * ratio), qRound(41 * ratio))) << ratio;
        EXPECT_EQ(picture.devicePixelRatio(), ratio);
        EXPECT_EQ(SkinPicture(bitmap::kPlay, QSize(55, 41), ratio).cacheKey(), picture.cacheKey());
    }
    EXPECT_EQ(LoadSkinBitmap(bitmap::kPlay).cacheKey(), LoadSkinBitmap(bitmap::kPlay).cacheKey());
    EXPECT_TRUE(SkinPicture(999, QSize(55, 41), 1).isNull());
    EXPECT_TRUE(SkinPicture(bitmap::kPlay, QSize(0, 41), 1).isNull());
}

TEST(SkinPictureTest, AtItsOwnSizeThePictureIsTheBuiltInBitmap) {
    for (int id :
         {bitmap::kTitleBackground, bitmap::kSet, bitmap::kUp, bitmap::ChannelBitmapId(17)}) {
        const QImage bitmap = LoadSkinBitmap(id);
        EXPECT_EQ(SkinPicture(id, bitmap.size(), 1), bitmap.convertToFormat(QImage::Format_RGB32))
            << id;
    }
}

TEST(SkinPictureTest, TheCacheDropsItsOldestPictures) {
    const qint64 first = SkinPicture(bitmap::kUp, QSize(1, 3), 1).cacheKey();
    for (int width = 2; width <= 300; ++width)
        SkinPicture(bitmap::kUp, QSize(width, 3), 1);
    EXPECT_NE(SkinPicture(bitmap::kUp, QSize(1, 3), 1).cacheKey(), first);
}

TEST(SkinFontTest, SansSerifAtTenPointsGrowingWithTheWindow) {
    const QFont font = SkinFont(QSize(480, 640));
    EXPECT_EQ(font.styleHint(), QFont::SansSerif);
    if (QFontDatabase::families().contains(QStringLiteral("Liberation Sans"))) {
        EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("Liberation Sans"));
    }
    EXPECT_EQ(font.pointSizeF(), 10);
    EXPECT_EQ(SkinFont(QSize(240, 320)).pointSizeF(), 10);
    EXPECT_EQ(SkinFont(QSize(1920, 960)).pointSizeF(), 15);  // the height allows only 1.5

    QWidget window;
    window.resize(960, 1280);
    QWidget child(&window);
    EXPECT_EQ(SkinFont(child).pointSizeF(), 20);
}

}  // namespace
}  // namespace kavrel
