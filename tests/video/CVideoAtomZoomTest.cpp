// The video window's digital zoom offscreen: the wheel zooms round the
// pointer and the painted pixels are the full conversion cropped and
// stretched (upright and turned, 2x and 8x); a drag pans and stops at the
// edges; the zoom survives a resize and full screen; clicks and double-clicks
// still mean what they did; "Capture the view" writes the part at the decoded
// resolution.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <cstring>

#include "tests/video/VideoTestSupport.h"
#include "video/CVideoAtom.h"
#include "video/PictureTransform.h"

namespace kavrel {
namespace {

using test::Feed;

constexpr int kWidth = 176;
constexpr int kHeight = 144;

void Wheel(QWidget* widget, const QPointF& at, int notches) {
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

void MoveHeld(QWidget* widget, const QPointF& at) {
    QMouseEvent event(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// A left drag from `from` to `to` in small moves, as a hand makes it.
void Drag(QWidget* widget, QPoint from, QPoint to) {
    QTest::mousePress(widget, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step)
        MoveHeld(widget, QPointF(from) + QPointF(to - from) * (step / 4.0));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, to);
}

// As a window system delivers one: press, release, double-click, release.
void DoubleClick(QWidget* widget, QPoint at) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

class CVideoAtomZoomTest : public testing::Test {
  protected:
    void SetUp() override {
        m_owner.resize(600, 600);
        m_atom = new CVideoAtom(&m_owner);
        m_atom->setGeometry(10, 10, 302, 202);
        m_owner.show();
        m_stream = test::MakeLosslessStream(kWidth, kHeight, 1, 1, 7);
        QSignalSpy shown(m_atom, &CVideoAtom::pictureShown);
        m_atom->StartDecoding(VideoFormat{kWidth, kHeight});
        Feed(*m_atom, m_stream.frames);
        ASSERT_TRUE(shown.wait(30000));
        m_upright = test::ReferenceScreen(m_stream.pictures[0]);
        m_turned.resize(m_upright.size());
        RotateClockwise(m_upright.data(), m_turned.data(), kWidth, kHeight);
    }

    // The window must show the zoom's part of the picture, converted again
    // for it, pixel for pixel as the full conversion cropped and stretched.
    void ExpectZoomedPicture() {
        const PictureView view = m_atom->Pipeline().View();
        ASSERT_EQ(view.part, m_atom->Zoom().Part());
        const PictureSize target = TargetSize(view, kWidth, kHeight);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return m_atom->LatestPicturePart() == view.part &&
                   m_atom->LatestPicture().size() == QSize(target.width, target.height);
        }));
        const std::vector<uint16_t> expected = test::CroppedAndStretched(
            view.turned ? m_turned : m_upright, ShownSize(kWidth, kHeight, view.turned),
            view.turned, view.part, target.width, target.height);
        QImage image(target.width, target.height, QImage::Format_RGB16);
        for (int y = 0; y < target.height; ++y) {
            std::memcpy(image.scanLine(y), expected.data() + size_t(y) * size_t(target.width),
                        size_t(target.width) * 2);
        }
        const QImage wanted = image.convertToFormat(QImage::Format_RGB32);
        const QImage grabbed = m_atom->grab().toImage();
        const QRect area = m_atom->PictureArea();
        const QPoint origin = area.topLeft() + QPoint((area.width() - target.width) / 2,
                                                      (area.height() - target.height) / 2);
        for (int y = 0; y < target.height; ++y) {
            for (int x = 0; x < target.width; ++x) {
                // The badge covers its corner.
                if (x > target.width - 60 && y > target.height - 30)
                    continue;
                ASSERT_EQ(grabbed.pixel(origin.x() + x, origin.y() + y) & 0xFFFFFF,
                          wanted.pixel(x, y) & 0xFFFFFF)
                    << x << "," << y;
            }
        }
    }

    QWidget m_owner;
    CVideoAtom* m_atom = nullptr;  // owned by m_owner
    test::TestStream m_stream;
    std::vector<uint16_t> m_upright, m_turned;
};

TEST_F(CVideoAtomZoomTest, WheelZoomsRoundThePointerAndPaintsThePartAt2xAnd8x) {
    struct Case {
        bool turned;
        QSize area;
        int notches;
        QPointF at;  // fraction of the area
    } cases[] = {
        {false, {300, 200}, 3, {0.5, 0.5}}, {false, {300, 200}, 3, {0.1, 0.9}},
        {false, {257, 311}, 9, {0.0, 0.0}}, {false, {257, 311}, 9, {0.77, 0.31}},
        {true, {200, 300}, 3, {0.9, 0.2}},  {true, {311, 257}, 9, {0.35, 0.65}},
        {true, {311, 257}, 9, {1.0, 1.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.turned ? "turned " : "") + std::to_string(c.notches) +
                     " notches at " + std::to_string(c.at.x()) + "," + std::to_string(c.at.y()));
        m_atom->ResetZoom();
        m_atom->SetFullScreen(c.turned, true);
        const int border = c.turned ? 0 : 2;
        m_atom->resize(c.area.width() + border, c.area.height() + border);
        const QRect area = m_atom->PictureArea();
        const QPointF at(area.x() + c.at.x() * (area.width() - 1),
                         area.y() + c.at.y() * (area.height() - 1));
        const ViewRect whole = m_atom->Zoom().Part();
        Wheel(m_atom, at, c.notches);
        EXPECT_EQ(m_atom->Zoom().Level(), c.notches);
        ExpectZoomedPicture();
        // The picture's point under the pointer stayed under it: the same
        // fraction of the part as it was of the whole picture, along each axis.
        const ViewRect part = m_atom->Zoom().Part();
        const ViewRect seen = c.turned ? part.Turned() : part;
        const ViewRect was = c.turned ? whole.Turned() : whole;
        const double fx = (at.x() - area.x()) / area.width();
        const double fy = (at.y() - area.y()) / area.height();
        EXPECT_NEAR(seen.x + fx * seen.width, was.x + fx * was.width, 2.0);
        EXPECT_NEAR(seen.y + fy * seen.height, was.y + fy * was.height, 2.0);
    }
    // Out again, notch by notch, to the whole picture.
    Wheel(m_atom, QPointF(5, 5), -20);
    EXPECT_TRUE(m_atom->Zoom().Part().IsWhole());
    ExpectZoomedPicture();
}

TEST_F(CVideoAtomZoomTest, DragPansAndStopsAtTheEdgesWithoutTapping) {
    QSignalSpy tapped(m_atom, &CVideoAtom::tapped);
    Wheel(m_atom, QPointF(151, 101), 3);  // 2x in the middle of the 300 x 200 area
    ASSERT_EQ(m_atom->Zoom().Part().x, kViewUnit / 4);
    // Dragging right by a tenth of the width shows what lay to the left.
    Drag(m_atom, QPoint(100, 100), QPoint(130, 100));
    EXPECT_NEAR(m_atom->Zoom().Part().x, kViewUnit / 4 - 0.1 * kViewUnit / 2, 2.0);
    EXPECT_EQ(m_atom->Zoom().Part().y, kViewUnit / 4);
    // Far beyond the edges: the part stops at them.
    Drag(m_atom, QPoint(20, 20), QPoint(290, 190));
    EXPECT_EQ(m_atom->Zoom().Part().x, 0);
    EXPECT_EQ(m_atom->Zoom().Part().y, 0);
    Drag(m_atom, QPoint(290, 190), QPoint(2, 2));
    Drag(m_atom, QPoint(290, 190), QPoint(2, 2));
    EXPECT_EQ(m_atom->Zoom().Part().x + m_atom->Zoom().Part().width, kViewUnit);
    EXPECT_EQ(m_atom->Zoom().Part().y + m_atom->Zoom().Part().height, kViewUnit);
    ExpectZoomedPicture();
    EXPECT_EQ(tapped.count(), 0);  // a drag is no tap

    // Turned, dragging along the screen's width moves along the picture's
    // height: to the left shows the picture's top (the turned picture's right).
    m_atom->SetFullScreen(true, true);
    m_atom->resize(200, 300);
    Drag(m_atom, QPoint(190, 150), QPoint(10, 150));
    EXPECT_LT(m_atom->Zoom().Part().y, kViewUnit / 2);
    Drag(m_atom, QPoint(190, 150), QPoint(10, 150));
    EXPECT_EQ(m_atom->Zoom().Part().y, 0);
    EXPECT_EQ(m_atom->Zoom().Part().x + m_atom->Zoom().Part().width, kViewUnit);
    ExpectZoomedPicture();
}

TEST_F(CVideoAtomZoomTest, ZoomSurvivesAResizeAndFullScreen) {
    Wheel(m_atom, QPointF(60, 150), 6);  // 4x towards the bottom left
    const ViewRect part = m_atom->Zoom().Part();
    ASSERT_FALSE(part.IsWhole());
    ExpectZoomedPicture();
    m_atom->resize(411, 133);
    EXPECT_EQ(m_atom->Zoom().Part(), part);
    ExpectZoomedPicture();
    m_atom->SetKeepAspect(true);
    ExpectZoomedPicture();
    // Full screen on a portrait monitor turns the same part.
    m_atom->SetFullScreen(true, true);
    m_atom->setGeometry(0, 0, 300, 500);
    EXPECT_EQ(m_atom->Zoom().Part(), part);
    ExpectZoomedPicture();
    m_atom->SetFullScreen(false);
    m_atom->SetKeepAspect(false);
    m_atom->setGeometry(10, 10, 302, 202);
    EXPECT_EQ(m_atom->Zoom().Part(), part);
    ExpectZoomedPicture();
    m_atom->ResetZoom();
    EXPECT_TRUE(m_atom->Pipeline().View().part.IsWhole());
    ExpectZoomedPicture();
}

TEST_F(CVideoAtomZoomTest, ClicksAndDoubleClicksStillCountWhenZoomed) {
    QSignalSpy tapped(m_atom, &CVideoAtom::tapped);
    QSignalSpy doubleTapped(m_atom, &CVideoAtom::doubleTapped);
    Wheel(m_atom, QPointF(150, 100), 2);
    // A click: the tap comes at the release, as the pointer did not move.
    QTest::mousePress(m_atom, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_EQ(tapped.count(), 0);
    MoveHeld(m_atom, QPointF(41, 40));  // a tremble is no drag
    QTest::mouseRelease(m_atom, Qt::LeftButton, {}, QPoint(41, 40));
    EXPECT_EQ(tapped.count(), 1);
    const ViewRect part = m_atom->Zoom().Part();
    DoubleClick(m_atom, QPoint(40, 40));
    EXPECT_EQ(doubleTapped.count(), 1);
    EXPECT_EQ(m_atom->Zoom().Part(), part);
    // The right button neither taps nor pans.
    QTest::mouseClick(m_atom, Qt::RightButton, {}, QPoint(40, 40));
    EXPECT_EQ(tapped.count(), 2);  // the double-click's first click only
    EXPECT_EQ(m_atom->Zoom().Part(), part);
}

TEST_F(CVideoAtomZoomTest, HeldPictureIsPlacedForTheNewPartUntilItsSuccessorComes) {
    ExpectZoomedPicture();
    const QImage whole = m_atom->LatestPicture();
    ASSERT_EQ(whole.size(), QSize(300, 200));
    // Stopped, no picture comes for the new part: the one held is shown
    // enlarged where its middle lies, not the whole picture squeezed.
    m_atom->StopDecoding();
    Wheel(m_atom, QPointF(151, 101), 3);  // 2x round the middle
    const QImage grabbed = m_atom->grab().toImage();
    for (int y = 0; y < 200; y += 6) {
        for (int x = 0; x < 240; x += 6) {
            ASSERT_EQ(grabbed.pixel(1 + x, 1 + y), whole.pixel(75 + x / 2, 50 + y / 2))
                << x << "," << y;
        }
    }
}

TEST_F(CVideoAtomZoomTest, CaptureTheViewWritesThePartAtTheDecodedSize) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    m_atom->Pipeline().Snapshots().SetFolder(folder.path().toStdString());
    Wheel(m_atom, QPointF(250, 50), 3);  // 2x, top right
    ExpectZoomedPicture();
    const ViewRect part = m_atom->Zoom().Part();
    QSignalSpy written(m_atom, &CVideoAtom::snapshotWritten);
    m_atom->RequestSnapshot(SnapshotKind::kView);
    m_atom->Pipeline().Redraw();  // a picture to serve it
    ASSERT_TRUE(written.wait(30000));
    ASSERT_TRUE(written[0][0].toBool());
    const QString path = written[0][1].toString();
    EXPECT_TRUE(QFileInfo(path).fileName().startsWith("image_view_")) << path.toStdString();
    // The decoded picture's own pixels under the part (widened to whole
    // 2 x 2 blocks), at its own resolution.
    std::vector<uint8_t> planes(PlanarLayoutFor(kWidth, kHeight).totalBytes);
    const PlanarPicture picture = PackedPicture(planes.data(), kWidth, kHeight);
    const PlanarPicture crop = CropToPart(picture, part);
    const int left = int((crop.y - picture.y) % kWidth);
    const int top = int((crop.y - picture.y) / kWidth);
    EXPECT_LE(crop.width - kWidth / 2, 2);
    EXPECT_LE(crop.height - kHeight / 2, 2);
    const QImage file(path);
    ASSERT_EQ(file.size(), QSize(crop.width, crop.height));
    for (int y = 0; y < file.height(); y += 7) {
        for (int x = 0; x < file.width(); x += 5) {
            const uint16_t value = m_upright[size_t(top + y) * kWidth + size_t(left + x)];
            ASSERT_EQ(file.pixel(x, y) & 0xF8FCF8, WidenRgb565(value) & 0xF8FCF8) << x << "," << y;
        }
    }
    // The whole-picture snapshot stays whole.
    m_atom->RequestSnapshot();
    m_atom->Pipeline().Redraw();
    ASSERT_TRUE(written.wait(30000));
    EXPECT_EQ(QImage(written[1][1].toString()).size(), QSize(kWidth, kHeight));
    EXPECT_TRUE(QFileInfo(written[1][1].toString()).fileName().startsWith("image_2"));
}

}  // namespace
}  // namespace kavrel
