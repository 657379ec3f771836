// The real main window, offscreen, against kavrel-sim on a free loopback
// port: from Play to decoded pictures with the channel's corner colours, in
// both dialects, and what the session does when the server misbehaves.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>

#include "app/CameraWall.h"
#include "skin/CSkinButton.h"
#include "tests/app/SessionFixture.h"
#include "tests/app/SimulatorPictures.h"
#include "tests/support/SimulatorProcess.h"
#include "tools/sim/TestPattern.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// The tiles of the 2x2 wall that G opens.
constexpr int kQuadTiles = 4;

using sim::Corner;
using namespace std::chrono_literals;
using Lines = test::SimulatorProcess::Lines;
using test::CornerShows;
using test::CornersOfChannel;
using test::OnlySnapshot;

constexpr const char* kStatistics = "CH=1,FPS=25,Size=352x288,Rate=512kb";
class SessionSimulatorTest : public test::SessionFixture {
  protected:
    // Starts the simulator with `args` and builds the window pointed at it.
    void Start(std::vector<std::string> args = {}, int channel = 0) {
        ASSERT_TRUE(m_sim.Start(args)) << m_sim.Log();
        MakeSessionWindow(m_sim.Port(), channel);
        // The checks sample the picture's corners, which keep-aspect's bars
        // (the default) would cover: stretched, as a user can choose.
        if (m_window->KeepAspect())
            QTest::keyClick(m_window.get(), Qt::Key_A);
        QObject::connect(m_window->VideoWindow(), &CVideoAtom::pictureShown,
                         [this] { ++m_picturesShown; });
    }
    // A picture of `channel` that arrives from now on (the last one stays on
    // screen between streams, so one shown before does not count).
    bool WaitForPictureOf(int channel) {
        const int before = m_picturesShown;
        return WaitFor([&] {
            return m_picturesShown > before &&
                   CornersOfChannel(m_window->VideoWindow()->LatestPicture(), channel);
        });
    }
    int m_picturesShown = 0;

    // The viewer acts on this thread: its events run while the log is awaited.
    test::SimulatorProcess m_sim{[] { QCoreApplication::processEvents(); }};
};

// Parameter: the version the simulator announces (5: Current, 3: Legacy).
class SessionDialectTest : public SessionSimulatorTest, public testing::WithParamInterface<int> {
  protected:
    bool Legacy() const { return GetParam() < 5; }
    void Start(std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--version", std::to_string(GetParam())});
        SessionSimulatorTest::Start(args);
    }
    // Play, then wait for the statistics line and the first picture.
    void PlayUntilPicture() {
        m_window->OnCommand(control::kPlay);
        ASSERT_TRUE(WaitForStatus(kStatistics)) << m_sim.Log();
        ASSERT_TRUE(WaitForPictureOf(0));
    }
};

TEST_P(SessionDialectTest, PlayLogsInAndShowsTheChannelsPictures) {
    Start();
    PlayUntilPicture();
    std::vector<QString> expected = {Text(u"connect_begin"), Text(u"login_server")};
    if (Legacy()) {
        // The server announced the other dialect: the viewer comes back in it.
        expected.insert(expected.end(),
                        {Text(u"connect_break"), Text(u"connect_begin"), Text(u"login_server")});
    }
    // The login answer, then the stream format (which raises it once more).
    expected.insert(expected.end(), {Text(u"login_succeed"), Text(u"login_succeed"), kStatistics});
    EXPECT_EQ(std::vector<QString>(
                  m_statuses.begin(),
                  m_statuses.begin() + ptrdiff_t(std::min(m_statuses.size(), expected.size()))),
              expected);
    EXPECT_EQ(m_window->variant(), Legacy() ? ProtocolVariant::Legacy : ProtocolVariant::Current);
    EXPECT_TRUE(m_window->PlayFaceActive());
    EXPECT_TRUE(
        m_sim.WaitForLog(Legacy() ? "channel 0, legacy layout" : "channel 0, current layout"));

    m_window->OnCommand(control::kPlay);
    EXPECT_FALSE(m_window->PlayFaceActive());
    EXPECT_EQ(m_statuses.back(), Text(u"connect_break"));
    // The last picture stays on screen: no black flash between streams.
    EXPECT_TRUE(CornersOfChannel(m_window->VideoWindow()->LatestPicture(), 0));
    EXPECT_TRUE(m_sim.WaitForLog("closed:"));
}

TEST_P(SessionDialectTest, ChannelChangeShowsTheNewChannel) {
    Start();
    PlayUntilPicture();
    const int loginsBefore = m_sim.CountLog("login accepted");
    m_window->OnCommand(control::kFirstChannel + 1);
    ASSERT_TRUE(WaitForPictureOf(1)) << m_sim.Log();
    EXPECT_TRUE(WaitForStatus("CH=2,FPS=25,Size=352x288,Rate=512kb"));
    if (Legacy()) {
        // Same connection: a channel switch request, no new login.
        EXPECT_EQ(StatusCount(Text(u"change_channel") + " 2"), 1);
        EXPECT_TRUE(m_sim.WaitForLog("channel switch 0 -> 1"));
        EXPECT_EQ(m_sim.CountLog("login accepted"), loginsBefore);
    } else {
        EXPECT_TRUE(m_sim.WaitForLog("channel 1 of 4"));
        EXPECT_TRUE(m_sim.WaitForLog("login accepted", loginsBefore + 1, Lines::Exactly));
    }
    EXPECT_EQ(m_window->currentChannel(), 1);
}

INSTANTIATE_TEST_SUITE_P(BothDialects, SessionDialectTest, testing::Values(5, 3),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param < 5 ? std::string("Legacy") : std::string("Current");
                         });

TEST_F(SessionSimulatorTest, IdleLineGoesWithPlayAndStaysGoneOnceAPictureWasShown) {
    Start();
    const CVideoAtom* video = m_window->VideoWindow();
    EXPECT_TRUE(video->ShowsIdleText());
    m_window->OnCommand(control::kPlay);
    EXPECT_FALSE(video->ShowsIdleText());
    ASSERT_TRUE(WaitForPictureOf(0)) << m_sim.Log();
    // Stopped, the last picture stays on screen: no line over it.
    m_window->OnCommand(control::kPlay);
    ASSERT_FALSE(m_window->PlayFaceActive());
    EXPECT_FALSE(video->IdleText().isEmpty());
    EXPECT_FALSE(video->ShowsIdleText());
}

TEST_F(SessionSimulatorTest, RefusedLoginShowsLoginFailAndTheIdleFace) {
    Start({"--password", "other"});
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForStatus(Text(u"login_fail")));
    EXPECT_FALSE(m_window->PlayFaceActive());
    // The connection stays open, as the server leaves it.
    EXPECT_TRUE(m_window->HasSource());
    EXPECT_EQ(m_sim.CountLog("closed:"), 0);
}

TEST_F(SessionSimulatorTest, ServerThatNeverAnswersTimesOutAndIsTriedAgainUntilStop) {
    Start({"--fault", "no-login-answer"});
    m_window->Timers().SetInterval(SessionTimers::kLoginTimeout, 300ms);
    ReconnectPolicy fast;
    fast.steps = {100ms};
    m_window->Session().SetReconnectPolicy(fast);
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForStatus(Text(u"connect_timeout")));
    EXPECT_TRUE(m_window->PlayFaceActive());
    EXPECT_TRUE(m_sim.WaitForLog("closed:"));
    // The retry logs in again, and times out again.
    EXPECT_TRUE(m_sim.WaitForLog("login: user", 2));
    ASSERT_TRUE(WaitForStatus(Text(u"connect_timeout"), 2));

    // Stop ends it for good: no time-out or retry left to start it again.
    m_window->OnCommand(control::kPlay);
    EXPECT_FALSE(m_window->PlayFaceActive());
    EXPECT_FALSE(m_window->HasSource());
    EXPECT_FALSE(m_window->Timers().IsArmed(SessionTimers::kLoginTimeout));
    EXPECT_FALSE(m_window->Session().RetryPending());
}

TEST_F(SessionSimulatorTest, WatchdogRestartsAStalledSession) {
    Start({"--fault", "stall", "--fault-frames", "10"});
    m_window->Timers().SetInterval(SessionTimers::kVideoWatchdog, 500ms);
    m_window->OnCommand(control::kPlay);
    // The watchdog runs on this thread: wait with the event loop running.
    ASSERT_TRUE(WaitFor([&] { return m_sim.CountLog("login accepted") >= 2; })) << m_sim.Log();
    ASSERT_TRUE(WaitForStatus(kStatistics, 2));
    EXPECT_GE(StatusCount(Text(u"connect_break")), 1);
    EXPECT_TRUE(m_window->PlayFaceActive());
}

TEST_F(SessionSimulatorTest, ServerThatGoesAwayIsPlayingAgainSoonAfterItComesBack) {
    Start();
    ReconnectPolicy fast;
    fast.steps = {100ms, 200ms, 400ms};
    m_window->Session().SetReconnectPolicy(fast);
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForPictureOf(0));
    const uint16_t port = m_sim.Port();
    const size_t gone = m_statuses.size();
    EXPECT_EQ(m_sim.Stop(), 0);

    // Noticed at once (not by the watchdog); every retry fails while the
    // server is away, each with its count-down.
    m_window->Timers().SetInterval(SessionTimers::kVideoWatchdog, std::chrono::hours(1));
    ASSERT_TRUE(WaitForStatus("Reconnecting in 1 s (attempt 3)")) << m_sim.Log();
    const std::vector<QString> shown = StatusesFrom(gone);
    EXPECT_EQ(shown.front(), Text(u"connect_break"));
    EXPECT_NE(std::find(shown.begin(), shown.end(), "Reconnecting in 1 s (attempt 1)"),
              shown.end());
    EXPECT_GE(std::count(shown.begin(), shown.end(), Text(u"connect_failed")), 2);
    EXPECT_TRUE(m_window->PlayFaceActive());

    // Back on the same port (the old one's connections wait in the kernel,
    // which keeps the port from being handed to anyone else meanwhile).
    test::SimulatorProcess back{[] { QCoreApplication::processEvents(); }};
    ASSERT_TRUE(back.Start({}, 30s, port)) << back.Log();
    ASSERT_TRUE(back.WaitForLog("first video frame"));
    ASSERT_TRUE(WaitForPictureOf(0));
    EXPECT_TRUE(m_window->PlayFaceActive());
    EXPECT_EQ(m_statuses.back(), kStatistics);

    // Pictures for long enough (here: any) start the schedule afresh.
    fast.stableViewing = 0ms;
    m_window->Session().SetReconnectPolicy(fast);
    const size_t goneAgain = m_statuses.size();
    EXPECT_EQ(back.Stop(), 0);
    ASSERT_TRUE(WaitForStatus("Reconnecting in 1 s (attempt 1)", 2));
    EXPECT_EQ(StatusesFrom(goneAgain).front(), Text(u"connect_break"));
}

TEST_F(SessionSimulatorTest, ServerThatClosesRightAfterTheLoginAnswerIsTriedAgain) {
    Start({"--fault", "close", "--fault-frames", "0"});
    ReconnectPolicy fast;
    fast.steps = {100ms};
    m_window->Session().SetReconnectPolicy(fast);
    // Only the end of the connection can tell: the watchdog stays out of it.
    m_window->Timers().SetInterval(SessionTimers::kVideoWatchdog, std::chrono::hours(1));
    m_window->OnCommand(control::kPlay);
    EXPECT_TRUE(m_sim.WaitForLog("login accepted", 3)) << m_sim.Log();
    EXPECT_GE(StatusCount(Text(u"connect_break")), 2);
    EXPECT_TRUE(m_window->PlayFaceActive());
}

TEST_F(SessionSimulatorTest, WatchdogNoticesALoginThatNeverBringsAPicture) {
    // The connection stays open and silent after the login answer.
    Start({"--fault", "stall", "--fault-frames", "0"});
    ReconnectPolicy fast;
    fast.steps = {100ms};
    m_window->Session().SetReconnectPolicy(fast);
    m_window->Timers().SetInterval(SessionTimers::kVideoWatchdog, 300ms);
    m_window->OnCommand(control::kPlay);
    EXPECT_TRUE(m_sim.WaitForLog("login accepted", 2)) << m_sim.Log();
    EXPECT_FALSE(m_window->videoReceived());
    EXPECT_TRUE(m_window->PlayFaceActive());
}

TEST_F(SessionSimulatorTest, ServersChannelCountHidesTheButtonsItLacks) {
    Start({"--channels", "2"});
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitFor([&] { return m_window->channelCount() == 2; }));
    for (int index = 0; index < control::kChannelButtons; ++index)
        EXPECT_EQ(m_window->ChannelButton(index)->isHidden(), index >= 2) << index;
}

TEST_F(SessionSimulatorTest, CaptureWritesTheDecodedPictureAsBmpInTheDocumentsFolder) {
    Start();
    m_window->Timers().SetInterval(SessionTimers::kPtzStop, 100ms);
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForPictureOf(0));
    m_window->OnCommand(control::kCapture);
    ASSERT_TRUE(WaitForStatus(Text(u"capture_succeed")));
    ASSERT_TRUE(WaitForStatus("CH=1,FPS=25,Size=352*288,Rate=512kb"));

    const QByteArray bmp = OnlySnapshot(m_documents);
    ASSERT_EQ(bmp.size(), 54 + 3 * 352 * 288);
    EXPECT_TRUE(bmp.startsWith("BM"));
    const auto* bytes = reinterpret_cast<const uint8_t*>(bmp.constData());
    EXPECT_EQ(wire::ReadU32(bytes + 18), 352u);
    EXPECT_EQ(wire::ReadU32(bytes + 22), 288u);
    for (Corner corner : {Corner::TopLeft, Corner::BottomRight}) {
        const sim::Point at = sim::CornerSampleAt(352, 288, corner);
        const uint8_t* pixel = bytes + 54 + size_t(287 - at.y) * 352 * 3 + size_t(at.x) * 3;
        EXPECT_TRUE(sim::ColourNear({pixel[2], pixel[1], pixel[0]}, sim::CornerColour(0, corner)))
            << int(corner);
    }
}

TEST_F(SessionSimulatorTest, CaptureThatCannotBeWrittenSaysSo) {
    Start();
    m_window->VideoWindow()->Pipeline().Snapshots().SetFolder(
        m_documents.filePath("missing").toStdString());
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForPictureOf(0));
    m_window->OnCommand(control::kCapture);
    ASSERT_TRUE(WaitForStatus(Text(u"capture_failed")));
    EXPECT_EQ(StatusCount(Text(u"capture_succeed")), 0);
}

// Every control's rectangle and visibility, to compare before and after.
std::vector<std::pair<QRect, bool>> Layout(const COrvaneDlg& window) {
    std::vector<std::pair<QRect, bool>> state;
    for (const QObject* child : window.children()) {
        if (const auto* widget = qobject_cast<const QWidget*>(child))
            state.emplace_back(widget->geometry(), widget->isHidden());
    }
    return state;
}

TEST_F(SessionSimulatorTest, FullScreenShowsTheTurnedPictureAndGivesBackEveryRectangle) {
    Start({"--channels", "8"});
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForPictureOf(0));
    m_window->OnCommand(control::kSwitch);  // the second channel page
    // On the portrait monitor (the tests' second), as the handheld's screen.
    const QList<QScreen*> monitors = QGuiApplication::screens();
    const auto portrait = std::find_if(monitors.begin(), monitors.end(), [](QScreen* monitor) {
        return monitor->geometry().height() > monitor->geometry().width();
    });
    ASSERT_NE(portrait, monitors.end());
    m_window->show();
    m_window->move((*portrait)->geometry().topLeft());
    ASSERT_TRUE(WaitFor([&] { return m_window->screen() == *portrait; }));
    const auto before = Layout(*m_window);

    m_window->OnCommand(control::kFullScreen);
    ASSERT_TRUE(m_window->IsFullScreen());
    // The decode thread now draws the picture a quarter turn round, over
    // the whole monitor: the picture's top left at the top right.
    const QSize monitor = (*portrait)->geometry().size();
    ASSERT_TRUE(WaitFor([&] {
        const QImage picture = m_window->VideoWindow()->LatestPicture();
        if (picture.size() != monitor)
            return false;
        return CornerShows(picture, Corner::TopRight, sim::CornerColour(0, Corner::TopLeft));
    }));

    m_window->OnCommand(control::kFullScreen);
    EXPECT_FALSE(m_window->IsFullScreen());
    EXPECT_EQ(Layout(*m_window), before);
    EXPECT_FALSE(m_window->ChannelButton(4)->isHidden());
    EXPECT_TRUE(m_window->ChannelButton(0)->isHidden());
    EXPECT_TRUE(WaitForPictureOf(0));
}

// The quad view: the tile `index` shows channel `channel` (the picture held
// by a new tile is its own stream's).
bool TileShows(const COrvaneDlg& window, int index, int channel) {
    const CVideoAtom* tile = window.Wall()->Tile(index);
    return tile && CornersOfChannel(tile->LatestPicture(), channel);
}

bool TilesShowPage(const COrvaneDlg& window, int first) {
    for (int index = 0; index < kQuadTiles; ++index) {
        if (!TileShows(window, index, first + index))
            return false;
    }
    return true;
}

std::string LoginOn(int channel, int channels) {
    return "channel " + std::to_string(channel) + " of " + std::to_string(channels);
}

TEST_F(SessionSimulatorTest, QuadViewShowsThePageTurnsPagesAndOpensATileInSingleView) {
    Start({"--channels", "8"});
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    const QRect videoPlace = m_window->VideoWindowRect();

    // The menu offers it, with its key.
    std::unique_ptr<QMenu> menu(m_window->MakeVideoMenu());
    const QList<QAction*> actions = menu->actions();
    const auto entry = std::find_if(actions.begin(), actions.end(), [&](QAction* action) {
        return action->text() == Text(u"cmd_quad_view") + "\tG";
    });
    ASSERT_NE(entry, actions.end());
    EXPECT_FALSE((*entry)->isChecked());

    QTest::keyClick(m_window.get(), Qt::Key_G);
    ASSERT_TRUE(m_window->IsWallView());
    EXPECT_FALSE(m_window->VideoWindow()->isVisible());
    EXPECT_EQ(m_window->Wall()->geometry(), videoPlace);
    // Channels 1 to 4 in button order, each converted at its tile's size.
    const auto atTileSize = [&] {
        for (int index = 0; index < kQuadTiles; ++index) {
            const CVideoAtom* tile = m_window->Wall()->Tile(index);
            if (tile->LatestPicture().size() != tile->size() * tile->devicePixelRatioF())
                return false;
        }
        return true;
    };
    ASSERT_TRUE(WaitFor([&] { return TilesShowPage(*m_window, 0) && atTileSize(); }))
        << m_sim.Log();
    for (int index = 0; index < kQuadTiles; ++index) {
        EXPECT_LE(m_window->Wall()->Tile(index)->width() * 2, videoPlace.width()) << index;
        EXPECT_TRUE(m_sim.WaitForLog(LoginOn(index, 8), 1, Lines::Exactly));
    }
    // Above and left of one another, in button order.
    EXPECT_EQ(m_window->Wall()->Tile(1)->x(), m_window->Wall()->Tile(3)->x());
    EXPECT_GT(m_window->Wall()->Tile(1)->x(), m_window->Wall()->Tile(0)->x());
    EXPECT_GT(m_window->Wall()->Tile(2)->y(), m_window->Wall()->Tile(0)->y());

    // PgDn: the next page's four channels, on new connections.
    QTest::keyClick(m_window.get(), Qt::Key_PageDown);
    EXPECT_EQ(m_window->ChannelPage(), 4);
    ASSERT_TRUE(WaitFor([&] { return TilesShowPage(*m_window, 4); })) << m_sim.Log();
    for (int channel = 4; channel < 8; ++channel)
        EXPECT_TRUE(m_sim.WaitForLog(LoginOn(channel, 8), 1, Lines::Exactly));
    // The first page's connections have ended.
    EXPECT_TRUE(m_sim.WaitForLog("closed:", 4));

    // A double-click on the bottom left tile opens channel 7 in single view.
    QTest::mouseDClick(m_window->Wall()->Tile(2), Qt::LeftButton);
    EXPECT_FALSE(m_window->IsWallView());
    EXPECT_TRUE(m_window->VideoWindow()->isVisible());
    EXPECT_EQ(m_window->currentChannel(), 6);
    ASSERT_TRUE(WaitForPictureOf(6)) << m_sim.Log();
    EXPECT_TRUE(m_sim.WaitForLog(LoginOn(6, 8), 2, Lines::Exactly));
    // The tiles' four connections have ended: only the single view's is left.
    EXPECT_TRUE(m_sim.WaitForLog("closed:", 8));

    // G returns to the page's quad view, with channel 7's tile selected.
    QTest::keyClick(m_window.get(), Qt::Key_G);
    ASSERT_TRUE(m_window->IsWallView());
    EXPECT_EQ(m_window->Wall()->FirstChannel(), 4);
    EXPECT_EQ(m_window->Wall()->Selected(), 2);
    ASSERT_TRUE(WaitFor([&] { return TilesShowPage(*m_window, 4); })) << m_sim.Log();
    EXPECT_TRUE(m_sim.WaitForLog("closed:", 9));
}

TEST_F(SessionSimulatorTest, QuadTileThatLosesItsConnectionReconnectsAloneWhileTheOthersPlay) {
    // Channel 2's viewers are closed after every 25 frames; the others never.
    Start({"--fault", "close", "--fault-frames", "25", "--fault-channel", "1"});
    m_window->ToggleWallView();
    ASSERT_TRUE(m_window->IsWallView());
    CameraWall& quad = *m_window->Wall();
    ReconnectPolicy fast;
    fast.steps = {200ms};
    std::array<int, kQuadTiles> countdowns{};
    for (int index = 0; index < kQuadTiles; ++index) {
        quad.Session(index)->SetReconnectPolicy(fast);
        QObject::connect(quad.Session(index), &ViewingSession::statusShown,
                         [&countdowns, index](const QString& text) {
                             if (text.startsWith("Reconnecting in"))
                                 ++countdowns[size_t(index)];
                         });
    }
    ASSERT_TRUE(WaitFor([&] { return TilesShowPage(*m_window, 0); })) << m_sim.Log();

    // Closed, counted down, logged in again and playing again, twice.
    ASSERT_TRUE(m_sim.WaitForLog(LoginOn(1, 4), 3)) << m_sim.Log();
    ASSERT_TRUE(m_sim.WaitForLog("closing after 25 frames (fault close)", 2));
    ASSERT_TRUE(WaitFor([&] { return countdowns[1] >= 2; }));
    ASSERT_TRUE(WaitFor([&] { return quad.Session(1)->VideoReceived(); }));
    EXPECT_TRUE(TileShows(*m_window, 1, 1));
    EXPECT_TRUE(quad.Session(1)->Watching());

    // The other three kept their one connection and their pictures.
    for (int index : {0, 2, 3}) {
        EXPECT_EQ(countdowns[size_t(index)], 0) << index;
        EXPECT_TRUE(m_sim.WaitForLog(LoginOn(index, 4), 1, Lines::Exactly)) << index;
        EXPECT_TRUE(quad.Session(index)->VideoReceived()) << index;
        EXPECT_TRUE(TileShows(*m_window, index, index)) << index;
    }
    // The status line speaks of the selected tile (the first) alone.
    EXPECT_EQ(quad.Selected(), 0);
    EXPECT_EQ(std::count_if(m_statuses.begin(), m_statuses.end(),
                            [](const QString& text) { return text.startsWith("Reconnecting in"); }),
              0);
}

TEST_F(SessionSimulatorTest, QuadPtzAndCaptureActOnTheSelectedTileAndFullScreenShowsAllFour) {
    Start();
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->ToggleWallView();
    CameraWall& quad = *m_window->Wall();
    ASSERT_TRUE(WaitFor([&] { return TilesShowPage(*m_window, 0); })) << m_sim.Log();

    // A click selects the bottom left tile (channel 3).
    QTest::mouseClick(quad.Tile(2), Qt::LeftButton);
    EXPECT_EQ(quad.Selected(), 2);
    EXPECT_EQ(&m_window->ActiveSession(), quad.Session(2));
    EXPECT_EQ(m_statuses.back(), "CH=3,FPS=25,Size=352*288,Rate=512kb");

    // PTZ: on channel 3's connection only (each connection streams its own
    // channel; a command for another would be logged as ignored).
    quad.Session(2)->Timers().SetInterval(SessionTimers::kPtzStop, 100ms);
    m_window->OnCommand(control::kPtzUp);
    EXPECT_EQ(m_statuses.back(), Text(u"ptz_up"));
    ASSERT_TRUE(m_sim.WaitForLog("ptz: channel 2, command", 3)) << m_sim.Log();
    EXPECT_EQ(m_sim.CountLog("ptz: channel"), m_sim.CountLog("ptz: channel 2, command"));
    EXPECT_EQ(m_sim.CountLog("not the channel streamed"), 0);

    // Capture: the selected tile's picture, at its decoded size.
    m_window->OnCommand(control::kCapture);
    ASSERT_TRUE(WaitForStatus(Text(u"capture_succeed")));
    const QByteArray bmp = OnlySnapshot(m_documents);
    ASSERT_EQ(bmp.size(), 54 + 3 * 352 * 288);
    const auto* bytes = reinterpret_cast<const uint8_t*>(bmp.constData());
    for (Corner corner : {Corner::TopLeft, Corner::BottomRight}) {
        const sim::Point at = sim::CornerSampleAt(352, 288, corner);
        const uint8_t* pixel = bytes + 54 + size_t(287 - at.y) * 352 * 3 + size_t(at.x) * 3;
        EXPECT_TRUE(sim::ColourNear({pixel[2], pixel[1], pixel[0]}, sim::CornerColour(2, corner)))
            << int(corner);
    }

    // Full screen: the four tiles over the whole monitor, each converted at
    // its new size.
    m_window->OnCommand(control::kFullScreen);
    ASSERT_TRUE(m_window->IsFullScreen());
    const QSize monitor = m_window->screen()->geometry().size();
    ASSERT_TRUE(WaitFor([&] {
        const CVideoAtom* tile = quad.Tile(3);
        return quad.size() == monitor &&
               tile->LatestPicture().size() == tile->size() * tile->devicePixelRatioF() &&
               TilesShowPage(*m_window, 0);
    }));
    EXPECT_GE(quad.Tile(3)->width() * 2 + 1, monitor.width());
    m_window->OnCommand(control::kFullScreen);
    EXPECT_FALSE(m_window->IsFullScreen());
    EXPECT_TRUE(m_window->IsWallView());
}

// Not a check: prints the time from a channel button press to the first
// picture of the new channel (current dialect, which reconnects).
TEST_F(SessionSimulatorTest, MeasureChannelSwitchToFirstPicture) {
    Start({"--channels", "2"});
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForPictureOf(0));
    CVideoAtom* video = m_window->VideoWindow();
    std::vector<double> milliseconds;
    for (int run = 0; run < 9; ++run) {
        const int channel = (run + 1) % 2;
        QEventLoop loop;
        QElapsedTimer clock;
        qint64 elapsed = -1;
        const QMetaObject::Connection shown =
            QObject::connect(video, &CVideoAtom::pictureShown, &loop, [&] {
                if (elapsed < 0 && CornersOfChannel(video->LatestPicture(), channel)) {
                    elapsed = clock.nsecsElapsed();
                    loop.quit();
                }
            });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        clock.start();
        m_window->OnCommand(control::kFirstChannel + channel);
        if (elapsed < 0)
            loop.exec();
        QObject::disconnect(shown);
        ASSERT_GE(elapsed, 0) << "no picture of channel " << channel + 1;
        milliseconds.push_back(double(elapsed) / 1e6);
    }
    std::vector<double> sorted = milliseconds;
    std::sort(sorted.begin(), sorted.end());
    std::printf(
        "channel button to first picture of the new channel (current dialect, %zu runs): "
        "median %.1f ms, min %.1f ms, max %.1f ms\n",
        sorted.size(), sorted[sorted.size() / 2], sorted.front(), sorted.back());
    RecordProperty("median_ms", std::to_string(sorted[sorted.size() / 2]));
}

}  // namespace
}  // namespace kavrel
