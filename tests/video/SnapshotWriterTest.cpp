// Snapshot files: header bytes, names, read back by an independent reader
// (Qt's BMP reader), no replaced files, and failures reported as failures.

#include "video/SnapshotWriter.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QImage>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace kavrel {
namespace {

std::tm Moment(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> RandomRgb(int width, int height, uint32_t seed) {
    std::vector<uint8_t> rgb(3 * size_t(width) * height);
    std::mt19937 random(seed);
    for (uint8_t& byte : rgb)
        byte = uint8_t(random());
    return rgb;
}

class SnapshotWriterTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_writer.SetFolder(Folder());
        m_writer.SetClock([] { return Moment(2012, 11, 5, 9, 30, 7); });
    }
    std::filesystem::path Folder() const { return m_dir.path().toStdString(); }

    // The file's pixels must be the bottom-up picture: QImage's top row is the
    // last row of `rgb`.
    void ExpectReadsBackAs(const std::string& path, int width, int height,
                           const std::vector<uint8_t>& rgb) {
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString(path), "BMP"));
        ASSERT_EQ(image.width(), width);
        ASSERT_EQ(image.height(), height);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = rgb.data() + 3 * size_t(width) * size_t(height - 1 - y);
            for (int x = 0; x < width; ++x) {
                const QRgb pixel = image.pixel(x, y);
                ASSERT_EQ(qBlue(pixel), row[3 * x]) << x << "," << y;
                ASSERT_EQ(qGreen(pixel), row[3 * x + 1]) << x << "," << y;
                ASSERT_EQ(qRed(pixel), row[3 * x + 2]) << x << "," << y;
            }
        }
    }

    QTemporaryDir m_dir;
    SnapshotWriter m_writer;
};

TEST(BmpHeaderTest, HeaderOf352By288) {
    const std::vector<uint8_t> expected = {
        0x42, 0x4D, 0x36, 0xA4, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,
        0x28, 0x00, 0x00, 0x00, 0x60, 0x01, 0x00, 0x00, 0x20, 0x01, 0x00, 0x00, 0x01, 0x00,
        0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA4, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto header = MakeBmpHeader(352, 288);
    EXPECT_EQ(std::vector<uint8_t>(header.begin(), header.end()), expected);
}

TEST(BmpHeaderTest, RowsArePaddedToFourBytes) {
    EXPECT_EQ(BmpRowStride(352), 1056u);
    EXPECT_EQ(BmpRowStride(174), 524u);  // 522 bytes of pixels + 2
    EXPECT_EQ(BmpRowStride(1), 4u);
    const auto header = MakeBmpHeader(174, 2);
    EXPECT_EQ(header[2] | header[3] << 8, 54 + 2 * 524);
    EXPECT_EQ(header[34] | header[35] << 8, 2 * 524);
    EXPECT_TRUE(FitsInBmp(8192, 4352));
    EXPECT_FALSE(FitsInBmp(65535, 65535));
    EXPECT_FALSE(FitsInBmp(0, 10));
}

TEST(SnapshotFileNameTest, LocalTimeFormat) {
    EXPECT_EQ(SnapshotFileName(Moment(2012, 11, 5, 9, 30, 7)), "image_20121105-093007.bmp");
    EXPECT_EQ(SnapshotFileName(Moment(1999, 12, 31, 23, 59, 59), 2), "image_19991231-235959-2.bmp");
    EXPECT_EQ(SnapshotFileName(Moment(2024, 1, 1, 0, 0, 0), 17), "image_20240101-000000-17.bmp");
}

TEST_F(SnapshotWriterTest, WritesTheWholeFileBottomRowFirst) {
    const std::vector<uint8_t> rgb = RandomRgb(352, 288, 3);
    std::string path;
    ASSERT_TRUE(m_writer.WriteSnapshot(352, 288, rgb.data(), &path));
    EXPECT_EQ(path, (Folder() / "image_20121105-093007.bmp").string());
    const std::vector<uint8_t> file = ReadFile(path);
    ASSERT_EQ(file.size(), 304182u);
    const auto header = MakeBmpHeader(352, 288);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    EXPECT_TRUE(std::equal(rgb.begin(), rgb.end(), file.begin() + 54));  // byte for byte
    ExpectReadsBackAs(path, 352, 288, rgb);
}

TEST_F(SnapshotWriterTest, WidthsThatAreNotMultiplesOfFourReadBackCorrectly) {
    for (auto [width, height] : {std::pair{174, 98}, std::pair{175, 3}, std::pair{1, 1}}) {
        QTemporaryDir dir;
        m_writer.SetFolder(dir.path().toStdString());
        const std::vector<uint8_t> rgb = RandomRgb(width, height, uint32_t(width));
        std::string path;
        ASSERT_TRUE(m_writer.WriteSnapshot(width, height, rgb.data(), &path));
        EXPECT_EQ(ReadFile(path).size(), 54 + BmpRowStride(width) * size_t(height));
        ExpectReadsBackAs(path, width, height, rgb);
    }
}

TEST_F(SnapshotWriterTest, AnExistingFileIsNeverReplaced) {
    const std::vector<uint8_t> first = RandomRgb(8, 4, 1);
    const std::vector<uint8_t> second = RandomRgb(8, 4, 2);
    const std::vector<uint8_t> third = RandomRgb(8, 4, 3);
    std::string path1, path2, path3;
    ASSERT_TRUE(m_writer.WriteSnapshot(8, 4, first.data(), &path1));
    ASSERT_TRUE(m_writer.WriteSnapshot(8, 4, second.data(), &path2));
    ASSERT_TRUE(m_writer.WriteSnapshot(8, 4, third.data(), &path3));
    EXPECT_EQ(std::filesystem::path(path1).filename(), "image_20121105-093007.bmp");
    EXPECT_EQ(std::filesystem::path(path2).filename(), "image_20121105-093007-2.bmp");
    EXPECT_EQ(std::filesystem::path(path3).filename(), "image_20121105-093007-3.bmp");
    EXPECT_TRUE(std::equal(first.begin(), first.end(), ReadFile(path1).begin() + 54));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), ReadFile(path2).begin() + 54));
}

TEST_F(SnapshotWriterTest, MissingFolderFailsAndIsNotCreated) {
    m_writer.SetFolder(Folder() / "absent");
    const std::vector<uint8_t> rgb = RandomRgb(4, 2, 1);
    std::string path;
    EXPECT_FALSE(m_writer.WriteSnapshot(4, 2, rgb.data(), &path));
    EXPECT_EQ(path, (Folder() / "absent" / "image_20121105-093007.bmp").string());
    EXPECT_FALSE(std::filesystem::exists(Folder() / "absent"));
}

TEST_F(SnapshotWriterTest, PictureTooLargeForTheFormatFailsWithoutAFile) {
    const uint8_t byte = 0;
    std::string path;
    EXPECT_FALSE(m_writer.WriteSnapshot(65535, 65535, &byte, &path));
    EXPECT_FALSE(m_writer.WriteSnapshot(0, 5, &byte, &path));
    EXPECT_FALSE(m_writer.WriteSnapshot(4, 4, nullptr, &path));
    EXPECT_TRUE(std::filesystem::is_empty(Folder()));
}

TEST_F(SnapshotWriterTest, AFileCutShortIsReportedAndRemoved) {
    // Make the write fail part way: a file-size limit below the file's size.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::vector<uint8_t> rgb = RandomRgb(352, 288, 5);
    std::string path;
    const bool ok = m_writer.WriteSnapshot(352, 288, rgb.data(), &path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(ok);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SnapshotFolderTest, DefaultsToTheDocumentsFolder) {
    SnapshotWriter writer;
    EXPECT_EQ(writer.Folder(), DefaultSnapshotFolder());
    EXPECT_FALSE(writer.Folder().empty());
}

}  // namespace
}  // namespace kavrel
