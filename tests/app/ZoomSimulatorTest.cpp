// The digital zoom in the real main window against kavrel-sim: each quad
// tile keeps its own zoom, a click still selects a zoomed tile and a
// double-click still opens it, Z and the menu go back to the whole picture,
// full screen keeps the zoomed part, and "Capture the view" writes the part
// at the decoded resolution beside the whole-picture snapshot.

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>

#include "app/CameraWall.h"
#include "tests/app/SessionFixture.h"
#include "tests/support/SimulatorProcess.h"
#include "tools/sim/TestPattern.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// The tiles of the 2x2 wall that G opens.
constexpr int kQuadTiles = 4;

using sim::Corner;
using namespace std::chrono_literals;

void Wheel(QWidget* widget, const QPointF& at, int notches) {
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

// As a window system delivers one: press, release, double-click, release.
void DoubleClick(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
    QTest::mouseDClick(widget, Qt::LeftButton);
    QTest::mouseRelease(widget, Qt::LeftButton);
}

QAction* MenuEntry(QMenu& menu, const QString& text) {
    const QList<QAction*> actions = menu.actions();
    const auto entry = std::find_if(actions.begin(), actions.end(),
                                    [&](QAction* action) { return action->text() == text; });
    return entry == actions.end() ? nullptr : *entry;
}

class ZoomSimulatorTest : public test::SessionFixture {
  protected:
    void Start() {
        ASSERT_TRUE(m_sim.Start({})) << m_sim.Log();
        MakeSessionWindow(m_sim.Port(), 0);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }
    // Every tile shows a picture made for its zoom's part.
    bool TilesShowTheirParts() {
        for (int index = 0; index < kQuadTiles; ++index) {
            const CVideoAtom* tile = m_window->Wall()->Tile(index);
            if (!tile || tile->LatestPicture().isNull() ||
                tile->LatestPicturePart() != tile->Zoom().Part())
                return false;
        }
        return true;
    }
    test::SimulatorProcess m_sim{[] { QCoreApplication::processEvents(); }};
};

TEST_F(ZoomSimulatorTest, QuadTilesZoomOnTheirOwnAndClicksStillSelectAndOpenThem) {
    Start();
    // The single view's zoom belongs to its camera: another one starts at 1x.
    Wheel(m_window->VideoWindow(), QPointF(10, 10), 3);
    ASSERT_TRUE(m_window->VideoWindow()->Zoom().IsZoomed());
    m_window->ToggleWallView();
    CameraWall& quad = *m_window->Wall();
    ASSERT_TRUE(WaitFor([&] { return TilesShowTheirParts(); })) << m_sim.Log();

    // The wheel over tiles 1 and 3 zooms those two alone.
    Wheel(quad.Tile(1), QPointF(quad.Tile(1)->rect().center()), 3);
    Wheel(quad.Tile(3), QPointF(quad.Tile(3)->width() - 1, quad.Tile(3)->height() - 1), 3);
    EXPECT_EQ(quad.Tile(0)->Zoom().Level(), 0);
    EXPECT_EQ(quad.Tile(1)->Zoom().Level(), 3);
    EXPECT_EQ(quad.Tile(2)->Zoom().Level(), 0);
    EXPECT_EQ(quad.Tile(3)->Zoom().BadgeText(), "2x");
    ASSERT_TRUE(WaitFor([&] { return TilesShowTheirParts(); }));

    // A click still selects a zoomed tile; Z then resets that tile only.
    QTest::mouseClick(quad.Tile(1), Qt::LeftButton);
    EXPECT_EQ(quad.Selected(), 1);
    QTest::keyClick(m_window.get(), Qt::Key_Z);
    EXPECT_FALSE(quad.Tile(1)->Zoom().IsZoomed());
    EXPECT_TRUE(quad.Tile(3)->Zoom().IsZoomed());

    // "Capture the view" of the selected tile 3: its bottom right quarter at
    // the decoded size, named apart from the whole-picture snapshots.
    QTest::mouseClick(quad.Tile(3), Qt::LeftButton);
    ASSERT_EQ(quad.Selected(), 3);
    std::unique_ptr<QMenu> menu(m_window->MakeVideoMenu());
    QAction* reset = MenuEntry(*menu, Text(u"cmd_reset_zoom") + "\tZ");
    ASSERT_NE(reset, nullptr);
    EXPECT_TRUE(reset->isEnabled());
    QAction* captureView = MenuEntry(*menu, Text(u"cmd_capture_view"));
    ASSERT_NE(captureView, nullptr);
    captureView->trigger();
    ASSERT_TRUE(WaitForStatus(Text(u"capture_succeed")));
    const QStringList files = QDir(m_documents.path()).entryList({"image_view_*.bmp"});
    ASSERT_EQ(files.size(), 1);
    const QImage view(m_documents.filePath(files[0]));
    // A quarter, widened to whole 2 x 2 blocks, reaching the picture's corner.
    EXPECT_LE(std::abs(view.width() - 352 / 2), 2);
    EXPECT_LE(std::abs(view.height() - 288 / 2), 2);
    const sim::Point corner = sim::CornerSampleAt(352, 288, Corner::BottomRight);
    const QRgb pixel =
        view.pixel(corner.x - (352 - view.width()), corner.y - (288 - view.height()));
    EXPECT_TRUE(
        sim::ColourNear({uint8_t(qRed(pixel)), uint8_t(qGreen(pixel)), uint8_t(qBlue(pixel))},
                        sim::CornerColour(3, Corner::BottomRight)));
    reset->trigger();
    EXPECT_FALSE(quad.Tile(3)->Zoom().IsZoomed());

    // A double-click on a zoomed tile still opens its channel alone.
    Wheel(quad.Tile(2), QPointF(10, 10), 9);
    DoubleClick(quad.Tile(2));
    EXPECT_FALSE(m_window->IsWallView());
    EXPECT_EQ(m_window->currentChannel(), 2);
    EXPECT_FALSE(m_window->VideoWindow()->Zoom().IsZoomed());
    Wheel(m_window->VideoWindow(), QPointF(10, 10), 3);
    m_window->OnCommand(control::kFirstChannel + 1);
    EXPECT_FALSE(m_window->VideoWindow()->Zoom().IsZoomed());
}

TEST_F(ZoomSimulatorTest, FullScreenKeepsTheZoomedPartAndADragIsNoTap) {
    Start();
    m_window->OnCommand(control::kPlay);
    CVideoAtom* video = m_window->VideoWindow();
    ASSERT_TRUE(WaitFor([&] { return !video->LatestPicture().isNull(); })) << m_sim.Log();
    Wheel(video, QPointF(20, 20), 6);
    const ViewRect part = video->Zoom().Part();
    ASSERT_EQ(video->Zoom().BadgeText(), "4x");

    // A double-click enters full screen: the same part, converted for it.
    DoubleClick(video);
    ASSERT_TRUE(m_window->IsFullScreen());
    EXPECT_EQ(video->Zoom().Part(), part);
    ASSERT_TRUE(WaitFor([&] {
        const PictureSize target = TargetSize(video->Pipeline().View(), 352, 288);
        return video->LatestPicturePart() == part &&
               video->LatestPicture().size() == QSize(target.width, target.height);
    }));
    // Panning in full screen does not leave it; a click does.
    QTest::mousePress(video, Qt::LeftButton, {}, QPoint(200, 200));
    QMouseEvent move(QEvent::MouseMove, QPointF(100, 120), video->mapToGlobal(QPointF(100, 120)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(video, &move);
    QTest::mouseRelease(video, Qt::LeftButton, {}, QPoint(100, 120));
    EXPECT_TRUE(m_window->IsFullScreen());
    EXPECT_NE(video->Zoom().Part(), part);
    const ViewRect panned = video->Zoom().Part();
    QTest::mouseClick(video, Qt::LeftButton, {}, QPoint(100, 120));
    EXPECT_FALSE(m_window->IsFullScreen());
    EXPECT_EQ(video->Zoom().Part(), panned);
}

}  // namespace
}  // namespace kavrel
