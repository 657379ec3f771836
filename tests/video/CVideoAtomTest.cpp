// The video window offscreen: pictures reach the user-interface thread as
// "latest wins", are converted at the size shown and painted 1:1 (the screen
// the full conversion stretched would give), black before the first picture,
// kept between streams, turned in full screen; taps and snapshot outcomes
// arrive as signals.

#include "video/CVideoAtom.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "tests/support/H264TestEncoder.h"
#include "tests/video/RecordingSink.h"
#include "tests/video/VideoTestSupport.h"
#include "video/PictureTransform.h"
#include "video/SampledConversion.h"

namespace kavrel {
namespace {

using test::Feed;
using test::YuvPicture;

constexpr int kWidth = 176;
constexpr int kHeight = 144;

test::TestStream MakeStream(int count) {
    return test::MakeLosslessStream(kWidth, kHeight, count, 1, 100);
}

// The reference 16-bit picture, widened to the window's 32-bit form by Qt
// itself (the screen a 16-bit picture gives).
QImage ExpectedImage(const YuvPicture& picture) {
    const std::vector<uint16_t> screen = test::ReferenceScreen(picture);
    QImage image(picture.width, picture.height, QImage::Format_RGB16);
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(image.scanLine(y), screen.data() + size_t(y) * picture.width,
                    size_t(picture.width) * 2);
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

bool AllBlack(const QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) != 0)
                return false;
        }
    }
    return true;
}

// The grabbed window area must show `picture` pixel for pixel (a 1:1 stretch).
void ExpectShows(const QImage& grabbed, const QPoint& origin, const QImage& picture) {
    const QImage expected = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            ASSERT_EQ(grabbed.pixel(origin.x() + x, origin.y() + y) & 0xFFFFFF,
                      expected.pixel(x, y) & 0xFFFFFF)
                << x << "," << y;
        }
    }
}

class CVideoAtomTest : public testing::Test {
  protected:
    void SetUp() override {
        m_owner.resize(400, 400);
        m_atom = new CVideoAtom(&m_owner);
        // The 1-pixel border on each side leaves a client area of the picture's size.
        m_atom->setGeometry(10, 10, kWidth + 2, kHeight + 2);
        m_owner.show();
    }

    QImage Grab() { return m_atom->grab().toImage(); }

    QWidget m_owner;
    CVideoAtom* m_atom = nullptr;  // owned by m_owner
};

TEST_F(CVideoAtomTest, IdentityOfTheWindow) {
    EXPECT_EQ(m_atom->objectName(), "236");
    EXPECT_EQ(m_atom->windowTitle(), "Video");
    EXPECT_TRUE(m_atom->isVisible());
    EXPECT_EQ(m_atom->contentsRect(), QRect(1, 1, kWidth, kHeight));
    EXPECT_FALSE(m_atom->IsFullScreen());
}

TEST_F(CVideoAtomTest, BlackBeforeTheFirstPictureThenThePictureWhichStaysAfterStop) {
    EXPECT_TRUE(AllBlack(Grab(), m_atom->rect()));
    EXPECT_TRUE(m_atom->LatestPicture().isNull());

    const auto stream = MakeStream(1);
    QSignalSpy shown(m_atom, &CVideoAtom::pictureShown);
    m_atom->StartDecoding(VideoFormat{kWidth, kHeight});
    Feed(*m_atom, stream.frames);
    ASSERT_TRUE(shown.wait(30000));

    const QImage latest = m_atom->LatestPicture();
    EXPECT_EQ(latest.format(), QImage::Format_RGB32);
    EXPECT_EQ(latest, ExpectedImage(stream.pictures[0]));
    ExpectShows(Grab(), QPoint(1, 1), latest);
    // A repaint shows the same picture again.
    m_atom->repaint();
    ExpectShows(Grab(), QPoint(1, 1), latest);

    // No black flash between streams: the picture stays until the next one.
    m_atom->StopDecoding();
    EXPECT_EQ(m_atom->LatestPicture(), latest);
    ExpectShows(Grab(), QPoint(1, 1), latest);
}

TEST_F(CVideoAtomTest, PaintedPixelsAreTheFullConversionStretchedAtEverySizeAndTurn) {
    const auto stream = MakeStream(1);
    QSignalSpy shown(m_atom, &CVideoAtom::pictureShown);
    m_atom->StartDecoding(VideoFormat{kWidth, kHeight});
    Feed(*m_atom, stream.frames);
    ASSERT_TRUE(shown.wait(30000));
    const std::vector<uint16_t> upright = test::ReferenceScreen(stream.pictures[0]);
    std::vector<uint16_t> turned(upright.size());
    RotateClockwise(upright.data(), turned.data(), kWidth, kHeight);

    struct Case {
        QSize area;
        bool turned;
        bool keepAspect;
    } cases[] = {
        {{2 * kWidth, 2 * kHeight}, false, false},
        {{177, 145}, false, false},
        {{301, 97}, false, false},  // wider, and flatter, than the picture
        {{61, 47}, false, false},   // smaller than the picture
        {{300, 100}, false, true},
        {{kHeight, kWidth}, true, false},
        {{333, 211}, true, false},
        {{50, 390}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.area.width()) + "x" + std::to_string(c.area.height()) +
                     (c.turned ? " turned" : "") + (c.keepAspect ? " aspect" : ""));
        m_atom->SetFullScreen(c.turned, true);
        m_atom->SetKeepAspect(c.keepAspect);
        // Full screen has no border: the area is the whole window.
        const int border = c.turned ? 0 : 2;
        m_atom->resize(c.area.width() + border, c.area.height() + border);
        const PictureSize target = TargetSize(m_atom->Pipeline().View(), kWidth, kHeight);
        // The held picture is converted again for the new view.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return m_atom->LatestPicture().size() == QSize(target.width, target.height); }));
        const QImage grabbed = Grab();
        const QRect area = m_atom->PictureArea();
        const QPoint origin = area.topLeft() + QPoint((area.width() - target.width) / 2,
                                                      (area.height() - target.height) / 2);
        const std::vector<uint16_t>& source = c.turned ? turned : upright;
        const PictureSize size = ShownSize(kWidth, kHeight, c.turned);
        QImage expected(target.width, target.height, QImage::Format_RGB16);
        for (int y = 0; y < target.height; ++y) {
            const int row = SampleIndex(y, size.height, target.height);
            auto* line = reinterpret_cast<uint16_t*>(expected.scanLine(y));
            for (int x = 0; x < target.width; ++x)
                line[x] = source[size_t(row) * size_t(size.width) +
                                 size_t(SampleIndex(x, size.width, target.width))];
        }
        ExpectShows(grabbed, origin, expected);
        if (c.keepAspect) {  // the bars are black
            EXPECT_TRUE(AllBlack(grabbed, QRect(area.topLeft(), QSize(1, 1))));
        }
    }
}

TEST_F(CVideoAtomTest, FullScreenShowsTheTurnedPictureOverTheWholeWindow) {
    const auto stream = MakeStream(1);
    QSignalSpy shown(m_atom, &CVideoAtom::pictureShown);
    m_atom->SetFullScreen(true);
    EXPECT_TRUE(m_atom->IsFullScreen());
    EXPECT_TRUE(m_atom->Pipeline().IsFullScreen());
    m_atom->setGeometry(0, 0, kHeight, kWidth);  // the turned picture's size, no border
    m_atom->StartDecoding(VideoFormat{kWidth, kHeight});
    Feed(*m_atom, stream.frames);
    ASSERT_TRUE(shown.wait(30000));

    const QImage latest = m_atom->LatestPicture();
    ASSERT_EQ(latest.size(), QSize(kHeight, kWidth));
    // Leaving turns the held picture upright at once, before any redraw.
    m_atom->SetFullScreen(false);
    EXPECT_EQ(m_atom->LatestPicture().size(), QSize(kWidth, kHeight));
    m_atom->SetFullScreen(true);
    const QImage upright = ExpectedImage(stream.pictures[0]);
    // Top-left of the picture at the top-right corner; bottom-left at the top-left.
    EXPECT_EQ(latest.pixel(kHeight - 1, 0), upright.pixel(0, 0));
    EXPECT_EQ(latest.pixel(0, 0), upright.pixel(0, kHeight - 1));
    ExpectShows(Grab(), QPoint(0, 0), latest);

    m_atom->SetFullScreen(false);
    EXPECT_FALSE(m_atom->Pipeline().IsFullScreen());
}

TEST_F(CVideoAtomTest, WindowSurfaceShowsEachNewPictureAndItsBarsWhenOnlyThePictureIsRepainted) {
    // Between pictures of one view only the picture's rectangle is repainted:
    // the surface itself (not a fresh rendering of the widget) must show
    // every new picture in full, the border and the black bars untouched.
    const auto stream = MakeStream(3);
    m_atom->SetKeepAspect(true);
    m_atom->resize(301, 102);  // a picture of 122 x 100 between bars
    QSignalSpy shown(m_atom, &CVideoAtom::pictureShown);
    m_atom->StartDecoding(VideoFormat{kWidth, kHeight});
    const QRect inOwner(m_atom->mapTo(&m_owner, QPoint(0, 0)), m_atom->size());
    for (size_t i = 0; i < stream.frames.size(); ++i) {
        SCOPED_TRACE("picture " + std::to_string(i));
        Feed(*m_atom, stream.frames, i, i + 1);
        ASSERT_TRUE(shown.wait(30000));
        const QImage latest = m_atom->LatestPicture();
        ASSERT_EQ(latest.size(), QSize(122, 100));
        const QRect area = m_atom->PictureArea();
        const QRect picture(area.x() + (area.width() - 122) / 2, area.y(), 122, 100);
        QImage surface;
        // Painted at the next turn of the event loop.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            surface = m_owner.screen()->grabWindow(m_owner.winId()).toImage().copy(inOwner);
            return surface.copy(picture) == latest.convertToFormat(surface.format());
        })) << "the surface never showed the whole picture";
        EXPECT_TRUE(AllBlack(surface, QRect(area.topLeft(), picture.bottomLeft() - QPoint(1, 0))));
        EXPECT_TRUE(
            AllBlack(surface, QRect(picture.topRight() + QPoint(1, 0), area.bottomRight())));
        EXPECT_TRUE(AllBlack(surface, QRect(0, 0, 301, 1)));  // the border
    }
}

TEST_F(CVideoAtomTest, LatestPictureWinsWithoutAQueueOfPictures) {
    const auto stream = MakeStream(5);
    QSignalSpy shown(m_atom, &CVideoAtom::pictureShown);
    m_atom->StartDecoding(VideoFormat{kWidth, kHeight});
    Feed(*m_atom, stream.frames);
    // All five are delivered while the user-interface thread is not looking.
    ASSERT_TRUE(test::WaitUntil([&] { return m_atom->Pipeline().Counters().picturesDrawn == 5; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.count(), 1);
    EXPECT_EQ(m_atom->LatestPicture(), ExpectedImage(stream.pictures[4]));
}

TEST_F(CVideoAtomTest, TapIsReportedAndConsumed) {
    QSignalSpy tapped(m_atom, &CVideoAtom::tapped);
    int ownerPresses = 0;
    struct PressCounter : QObject {
        int* count;
        explicit PressCounter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::MouseButtonPress)
                ++*count;
            return false;
        }
    } counter(&ownerPresses);
    m_owner.installEventFilter(&counter);
    QTest::mouseClick(m_atom, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(tapped.count(), 1);
    EXPECT_EQ(ownerPresses, 0);  // not passed on to the owner
}

TEST_F(CVideoAtomTest, SnapshotOutcomeArrivesOnTheUserInterfaceThread) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    m_atom->Pipeline().Snapshots().SetFolder(folder.path().toStdString());
    const auto stream = MakeStream(1);
    QSignalSpy written(m_atom, &CVideoAtom::snapshotWritten);
    m_atom->RequestSnapshot();
    m_atom->StartDecoding(VideoFormat{kWidth, kHeight});
    Feed(*m_atom, stream.frames);
    ASSERT_TRUE(written.wait(30000));
    EXPECT_TRUE(written[0][0].toBool());
    const QString path = written[0][1].toString();
    EXPECT_TRUE(path.startsWith(folder.path()));
    QImage file(path);
    ASSERT_FALSE(file.isNull());
    EXPECT_EQ(file.size(), QSize(kWidth, kHeight));
}

TEST(CVideoAtomLifetimeTest, DestroyingWhileDecodingStopsFirst) {
    const auto stream = MakeStream(3);
    for (int round = 0; round < 3; ++round) {
        auto atom = std::make_unique<CVideoAtom>(nullptr);
        atom->StartDecoding(VideoFormat{kWidth, kHeight});
        Feed(*atom, stream.frames);
        if (round > 0) {
            ASSERT_TRUE(
                test::WaitUntil([&] { return atom->Pipeline().Counters().picturesDrawn >= 1; }));
        }
        atom.reset();  // posted pictures for the destroyed window are dropped
        QCoreApplication::processEvents();
    }
}

// A window whose decoding fell behind says so in its corner, in the owner's
// words, and no longer once it stops.
TEST_F(CVideoAtomTest, KeyFramesOnlyIsMarkedInTheCornerUntilStopped) {
    std::vector<YuvPicture> pictures;
    for (int i = 0; i < 60; ++i)
        pictures.push_back(test::MakeScenePicture(kWidth, kHeight, i));
    test::EncoderOptions options;
    options.qp = -1;
    options.gopSize = 10;
    const auto frames = test::EncodeSequence(options, pictures);
    ASSERT_EQ(frames.size(), 60u);

    SkipOptions skip;
    skip.firstHold = std::chrono::seconds(60);  // stays until the stop
    m_atom->Pipeline().SetSkipOptions(skip);
    m_atom->Pipeline().SetDecodeOverload(std::chrono::milliseconds(20));
    m_atom->SetKeyFramesOnlyText(QStringLiteral("KEYS"));
    m_atom->StartDecoding(VideoFormat{kWidth, kHeight});
    Feed(*m_atom, frames);  // all at once: far more than it decodes in time
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_atom->ShowsKeyFramesOnly(); }, 30000));

    auto textInCorner = [&] {
        const QImage grabbed = Grab();
        for (int y = grabbed.height() - 40; y < grabbed.height() - 1; ++y) {
            for (int x = 1; x < 80; ++x) {
                const QRgb pixel = grabbed.pixel(x, y);
                // Under the box the picture is darkened well below this.
                if (qRed(pixel) > 200 && qBlue(pixel) < 80)
                    return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(textInCorner());
    m_atom->StopDecoding();
    EXPECT_FALSE(m_atom->ShowsKeyFramesOnly());
    EXPECT_FALSE(textInCorner());
}

}  // namespace
}  // namespace kavrel
