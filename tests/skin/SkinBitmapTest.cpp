// Every bitmap the program uses is built in, at its size, as a 24-bit
// uncompressed BMP.

#include <gtest/gtest.h>

#include <QFile>
#include <QSize>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "skin/BitmapIds.h"
#include "skin/SkinBitmap.h"

namespace kavrel {
namespace {

struct Expected {
    int id;
    QSize size;
};

std::vector<Expected> AllBitmaps() {
    std::vector<Expected> all = {{129, {33, 20}},  {131, {23, 22}},
                                 {170, {152, 99}}, {167, {128, 128}},
                                 {169, {80, 80}},  {128, {64, 64}}};  // the application icon
    for (int id = 134; id <= 139; ++id)
        all.push_back({id, {80, 80}});
    for (int id = 140; id <= 157; ++id)
        all.push_back({id, {54, 54}});
    for (int id = 159; id <= 165; ++id)
        all.push_back({id, {54, 54}});
    all.push_back({8, {54, 54}});
    for (int id = 317; id <= 332; ++id)
        all.push_back({id, {54, 54}});
    return all;
}

uint32_t ReadU32(const QByteArray& bytes, int offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | uint8_t(bytes[offset + i]);
    return value;
}

uint16_t ReadU16(const QByteArray& bytes, int offset) {
    return uint16_t(uint8_t(bytes[offset]) | (uint8_t(bytes[offset + 1]) << 8));
}

// The file header of resource `id`, checked field by field.
void ExpectUncompressed24Bit(int id, QSize size) {
    QFile file(QStringLiteral(":/bitmaps/%1.bmp").arg(id));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << id;
    const QByteArray bytes = file.readAll();
    ASSERT_GE(bytes.size(), 54) << id;
    EXPECT_EQ(bytes.left(2), QByteArray("BM")) << id;
    EXPECT_EQ(ReadU32(bytes, 2), uint32_t(bytes.size())) << id;
    EXPECT_EQ(ReadU32(bytes, 14), 40u) << id << ": BITMAPINFOHEADER";
    EXPECT_EQ(ReadU32(bytes, 18), uint32_t(size.width())) << id;
    EXPECT_EQ(ReadU32(bytes, 22), uint32_t(size.height())) << id;
    EXPECT_EQ(ReadU16(bytes, 28), 24) << id << ": bits per pixel";
    EXPECT_EQ(ReadU32(bytes, 30), 0u) << id << ": BI_RGB";
    const uint32_t stride = (uint32_t(size.width()) * 3 + 3) & ~3u;
    EXPECT_EQ(uint32_t(bytes.size()) - ReadU32(bytes, 10), stride * uint32_t(size.height())) << id;
}

TEST(SkinBitmapTest, EveryBitmapAndTheIconLoadAtTheirSizeAs24BitUncompressed) {
    const std::vector<Expected> all = AllBitmaps();
    EXPECT_EQ(all.size(), 54u);
    for (const Expected& expected : all) {
        const QImage image = LoadSkinBitmap(expected.id);
        ASSERT_FALSE(image.isNull()) << expected.id;
        EXPECT_EQ(image.size(), expected.size) << expected.id;
        ExpectUncompressed24Bit(expected.id, expected.size);
    }
}

TEST(SkinBitmapTest, EveryChannelHasItsOwnBitmap) {
    std::vector<int> seen;
    for (int channel = 1; channel <= bitmap::kChannelCount; ++channel) {
        const int id = bitmap::ChannelBitmapId(channel);
        EXPECT_FALSE(LoadSkinBitmap(id).isNull()) << "channel " << channel;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), id), 0) << "channel " << channel;
        seen.push_back(id);
    }
    EXPECT_EQ(bitmap::ChannelBitmapId(8), 8);
    EXPECT_EQ(bitmap::ChannelBitmapId(16), 140);
    EXPECT_EQ(bitmap::ChannelBitmapId(0), 0);
    EXPECT_EQ(bitmap::ChannelBitmapId(33), 0);
}

TEST(SkinBitmapTest, UnknownIdsGiveNoPicture) {
    for (int id : {0, -1, 1, 158, 999, 100000}) {
        EXPECT_TRUE(LoadSkinBitmap(id).isNull()) << id;
    }
}

}  // namespace
}  // namespace kavrel
