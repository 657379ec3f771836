// A camera that was told to move is always told to stop: a held key ends in
// exactly one stop on the connection (and channel) that took the press, on
// every path that ends the hold; and the quad view's staggered starts never
// outlive the wish that made them.

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <thread>

#include "app/CameraWall.h"
#include "settings/ui/CSetDialog.h"
#include "settings/ui/SetDialogHook.h"
#include "skin/CSkinButton.h"
#include "tests/app/LoopbackServer.h"
#include "tests/app/SessionFixture.h"

namespace kavrel {
namespace {

// The tiles of the 2x2 wall that G opens.
constexpr int kQuadTiles = 4;

using namespace std::chrono_literals;
using test::LoopbackServer;
using Bytes = std::vector<uint8_t>;

Bytes PtzPacket(uint8_t sequence, uint8_t channelByte, uint8_t code) {
    return {0, 0, 0, 16, sequence, 0, 0, 0, 51, 0, 8, 0, 1, 0, 0, 0, channelByte, code, 0, 0};
}

// The channel a connection logged in on (Current dialect: the mask at packet
// offset 80); -1 before its login.
int LoginChannel(const LoopbackServer& server, int index) {
    const std::vector<Bytes> packets = server.Packets(index);
    if (packets.empty() || packets[0].size() != 88)
        return -1;
    uint32_t mask = 0;
    std::memcpy(&mask, packets[0].data() + 80, sizeof mask);
    for (int channel = 0; channel < 32; ++channel) {
        if (mask == (1u << channel))
            return channel;
    }
    return -1;
}

int ConnectionOf(const LoopbackServer& server, int channel) {
    for (int index = 0; index < server.Connections(); ++index) {
        if (LoginChannel(server, index) == channel)
            return index;
    }
    return -1;
}

class CameraStopTest : public test::SessionFixture {
  protected:
    // Play in the single view until the login has gone out on connection 0.
    void PlayConnected() {
        MakeSessionWindow(m_server.Port());
        m_window->OnCommand(control::kPlay);
        ASSERT_TRUE(WaitFor([&] { return m_server.Packets(0).size() == 1; }));
    }
    void Press(Qt::Key key, bool autoRepeat = false) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
        QCoreApplication::sendEvent(m_window.get(), &press);
    }
    void Release(Qt::Key key, bool autoRepeat = false) {
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(), autoRepeat);
        QCoreApplication::sendEvent(m_window.get(), &release);
    }
    // Connection `index` received exactly the login and then `expected`.
    ::testing::AssertionResult Received(int index, const std::vector<Bytes>& expected) {
        if (!WaitFor([&] { return m_server.Packets(index).size() >= expected.size() + 1; }, 10s))
            return ::testing::AssertionFailure()
                   << "connection " << index << " got " << m_server.Packets(index).size() - 1
                   << " packets after its login, wanted " << expected.size();
        const std::vector<Bytes> packets = m_server.Packets(index);
        const std::vector<Bytes> after(packets.begin() + 1, packets.end());
        if (after != expected)
            return ::testing::AssertionFailure()
                   << "connection " << index << " got other packets than wanted";
        return ::testing::AssertionSuccess();
    }
    // Runs the event loop until every timer due within `span` has fired
    // (timers due earlier fire first).
    static void RunFor(std::chrono::milliseconds span) {
        bool passed = false;
        QTimer::singleShot(span, [&] { passed = true; });
        ASSERT_TRUE(WaitFor([&] { return passed; }));
    }

    LoopbackServer m_server;
};

TEST_F(CameraStopTest, EveryWayOfLeavingAHeldKeySendsOneStopOnItsConnection) {
    // What ends the hold, run with the Right key down.
    struct Case {
        const char* name;
        std::function<void(COrvaneDlg&)> end;
    };
    const Case cases[] = {
        {"focus out",
         [](COrvaneDlg& window) {
             QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
             QCoreApplication::sendEvent(&window, &out);
         }},
        {"window deactivated",
         [](COrvaneDlg& window) {
             QEvent deactivate(QEvent::WindowDeactivate);
             QCoreApplication::sendEvent(&window, &deactivate);
         }},
        {"settings dialog",
         [](COrvaneDlg& window) {
             // The stop has gone before the dialog takes the keyboard.
             bool movingAtOpen = true;
             const ScopedSetDialogHook hook(
                 [&](CSetDialog&) { movingAtOpen = window.Session().Moving(); });
             window.OnCommand(control::kSet);
             EXPECT_FALSE(movingAtOpen);
         }},
    };
    PlayConnected();
    uint8_t sequence = 1;
    std::vector<Bytes> expected;
    for (const Case& c : cases) {
        Press(Qt::Key_Right);
        c.end(*m_window);
        EXPECT_EQ(m_window->HeldPtz(), 0) << c.name;
        // The key's release, if it comes at all, changes nothing; a click
        // afterwards gets its automatic stop again (the hold is over).
        Release(Qt::Key_Right);
        m_window->Timers().SetInterval(SessionTimers::kPtzStop, 50ms);
        m_window->OnCommand(control::kPtzUp);
        for (uint8_t code : {wire::kPtzStop, wire::kPtzRight, wire::kPtzStop, wire::kPtzStop,
                             wire::kPtzUp, wire::kPtzStop})
            expected.push_back(PtzPacket(sequence++, 1, code));
        EXPECT_TRUE(Received(0, expected)) << c.name;
    }
}

TEST_F(CameraStopTest, ChannelKeyAndStopSendTheStopBeforeTheConnectionEnds) {
    PlayConnected();
    Press(Qt::Key_Left);
    Press(Qt::Key_2);  // a new connection for channel 2
    EXPECT_TRUE(Received(0, {PtzPacket(1, 1, wire::kPtzStop), PtzPacket(2, 1, wire::kPtzLeft),
                             PtzPacket(3, 1, wire::kPtzStop)}));
    ASSERT_TRUE(WaitFor([&] { return LoginChannel(m_server, 1) == 1; }));
    // Stop (Space) with a key held, and with a click's automatic stop pending.
    Press(Qt::Key_Down);
    Press(Qt::Key_Space);
    EXPECT_FALSE(m_window->PlayFaceActive());
    EXPECT_TRUE(Received(1, {PtzPacket(1, 2, wire::kPtzStop), PtzPacket(2, 2, wire::kPtzDown),
                             PtzPacket(3, 2, wire::kPtzStop)}));
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitFor([&] { return m_server.Packets(2).size() == 1; }));
    m_window->OnCommand(control::kPtzZoomIn);
    m_window->OnCommand(control::kPlay);
    EXPECT_TRUE(Received(2, {PtzPacket(1, 2, wire::kPtzStop), PtzPacket(2, 2, wire::kPtzZoomIn),
                             PtzPacket(3, 2, wire::kPtzStop)}));
}

TEST_F(CameraStopTest, AutoRepeatSeenAsReleaseAndPressPairsIsOneHold) {
    PlayConnected();
    // What a busy X11 client reads while Right is held: the repeats' release
    // and press pairs, not marked as repeats, then the real release.
    Press(Qt::Key_Right);
    for (int repeat = 0; repeat < 15; ++repeat) {
        Release(Qt::Key_Right);
        Press(Qt::Key_Right);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(m_window->HeldPtz(), control::kPtzRight);
    Release(Qt::Key_Right);
    EXPECT_TRUE(Received(0, {PtzPacket(1, 1, wire::kPtzStop), PtzPacket(2, 1, wire::kPtzRight),
                             PtzPacket(3, 1, wire::kPtzStop)}));
    EXPECT_EQ(m_window->HeldPtz(), 0);
    // Nothing more followed the one stop: the next click's stop is packet 4.
    m_window->OnCommand(control::kPtzLeft);
    ASSERT_TRUE(WaitFor([&] { return m_server.Packets(0).size() >= 6; }));
    EXPECT_EQ(m_server.Packets(0)[4], PtzPacket(4, 1, wire::kPtzStop));
}

TEST_F(CameraStopTest, CameraButtonMovesWhileHeldAndAShortClickKeepsThePulse) {
    PlayConnected();
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->Timers().SetInterval(SessionTimers::kPtzStop, 100ms);
    CSkinButton* left = m_window->Button(control::kPtzLeft);
    CSkinButton* right = m_window->Button(control::kPtzRight);

    // Held past the pulse: the stop waits for the release.
    QTest::mousePress(left, Qt::LeftButton);
    RunFor(300ms);
    EXPECT_TRUE(m_window->Session().Moving());
    QTest::mouseRelease(left, Qt::LeftButton);
    EXPECT_FALSE(m_window->Session().Moving());
    // A short click: its stop comes when the pulse ends, not at the release.
    QTest::mousePress(left, Qt::LeftButton);
    QTest::mouseRelease(left, Qt::LeftButton);
    EXPECT_TRUE(m_window->Session().Moving());
    EXPECT_TRUE(m_window->Timers().IsArmed(SessionTimers::kPtzStop));
    ASSERT_TRUE(WaitFor([&] { return !m_window->Session().Moving(); }));
    // The pointer leaving a held button releases it; its later release does nothing.
    QTest::mousePress(right, Qt::LeftButton);
    RunFor(300ms);
    QMouseEvent away(QEvent::MouseMove, QPointF(-20, -20), right->mapToGlobal(QPointF(-20, -20)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(right, &away);
    EXPECT_FALSE(m_window->Session().Moving());
    QTest::mouseRelease(right, Qt::LeftButton);
    EXPECT_TRUE(Received(0, {PtzPacket(1, 1, wire::kPtzStop), PtzPacket(2, 1, wire::kPtzLeft),
                             PtzPacket(3, 1, wire::kPtzStop), PtzPacket(4, 1, wire::kPtzStop),
                             PtzPacket(5, 1, wire::kPtzLeft), PtzPacket(6, 1, wire::kPtzStop),
                             PtzPacket(7, 1, wire::kPtzStop), PtzPacket(8, 1, wire::kPtzRight),
                             PtzPacket(9, 1, wire::kPtzStop)}));
}

TEST_F(CameraStopTest, AHoldThatOutlivesItsConnectionIsStoppedAfterTheNextLoginAndAtItsRelease) {
    PlayConnected();
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    ReconnectPolicy fast;
    fast.steps = {50ms};
    m_window->Session().SetReconnectPolicy(fast);
    const auto stop = [](uint8_t sequence) { return PtzPacket(sequence, 1, wire::kPtzStop); };

    // A camera key held while the server closes the connection.
    Press(Qt::Key_Right);
    ASSERT_TRUE(Received(0, {stop(1), PtzPacket(2, 1, wire::kPtzRight)}));
    m_server.CloseConnection(0);
    EXPECT_TRUE(Received(1, {stop(1)}));  // right behind the new login
    EXPECT_EQ(m_window->HeldPtz(), control::kPtzRight);
    Release(Qt::Key_Right);
    EXPECT_TRUE(Received(1, {stop(1), stop(2)}));

    // A camera button held down the same way.
    CSkinButton* left = m_window->Button(control::kPtzLeft);
    QTest::mousePress(left, Qt::LeftButton);
    ASSERT_TRUE(Received(1, {stop(1), stop(2), stop(3), PtzPacket(4, 1, wire::kPtzLeft)}));
    m_server.CloseConnection(1);
    EXPECT_TRUE(Received(2, {stop(1)}));
    QTest::mouseRelease(left, Qt::LeftButton);
    EXPECT_TRUE(Received(2, {stop(1), stop(2)}));
}

TEST_F(CameraStopTest, QuadHoldStopsOnItsTileWhenTheSelectionPageOrViewChanges) {
    MakeSessionWindow(m_server.Port());
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->ToggleWallView();
    CameraWall& quad = *m_window->Wall();
    const auto loggedIn = [&](int first) {
        for (int channel = first; channel < first + kQuadTiles; ++channel) {
            if (ConnectionOf(m_server, channel) < 0)
                return false;
        }
        return true;
    };
    ASSERT_TRUE(WaitFor([&] { return loggedIn(0); }));

    // Held on tile 1 (channel 1); a click selects tile 2: the stop goes to channel 1.
    QTest::mouseClick(quad.Tile(1), Qt::LeftButton);
    Press(Qt::Key_Up);
    QTest::mouseClick(quad.Tile(2), Qt::LeftButton);
    EXPECT_EQ(quad.Selected(), 2);
    EXPECT_TRUE(Received(ConnectionOf(m_server, 1),
                         {PtzPacket(1, 2, wire::kPtzStop), PtzPacket(2, 2, wire::kPtzUp),
                          PtzPacket(3, 2, wire::kPtzStop)}));
    Release(Qt::Key_Up);

    // Held on tile 2 (channel 2); PgDn turns the page and keeps tile 2 selected.
    Press(Qt::Key_Left);
    QTest::keyClick(m_window.get(), Qt::Key_PageDown);
    EXPECT_TRUE(Received(ConnectionOf(m_server, 2),
                         {PtzPacket(1, 3, wire::kPtzStop), PtzPacket(2, 3, wire::kPtzLeft),
                          PtzPacket(3, 3, wire::kPtzStop)}));
    Release(Qt::Key_Left);
    EXPECT_EQ(quad.FirstChannel(), 4);
    EXPECT_EQ(quad.Selected(), 2);
    ASSERT_TRUE(WaitFor([&] { return loggedIn(4); }));
    // The tile the user chose acts: channel 7's connection, not channel 5's.
    Press(Qt::Key_Right);
    QTest::keyClick(m_window.get(), Qt::Key_G);  // back to the single view
    EXPECT_FALSE(m_window->IsWallView());
    EXPECT_TRUE(Received(ConnectionOf(m_server, 6),
                         {PtzPacket(1, 7, wire::kPtzStop), PtzPacket(2, 7, wire::kPtzRight),
                          PtzPacket(3, 7, wire::kPtzStop)}));
    for (int channel : {0, 3, 4, 5, 7})
        EXPECT_TRUE(Received(ConnectionOf(m_server, channel), {})) << channel;
}

TEST_F(CameraStopTest, WallHoldStopsWhenTheLayoutChangesEvenOnATileThatStays) {
    MakeSessionWindow(m_server.Port());
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->ToggleWallView();
    CameraWall& wall = *m_window->Wall();
    ASSERT_TRUE(WaitFor([&] { return ConnectionOf(m_server, 1) >= 0; }));
    const int connection = ConnectionOf(m_server, 1);

    // Held on tile 1 (channel 1); L: the 3x3 keeps that tile and its
    // connection, and the camera stops on it all the same.
    QTest::mouseClick(wall.Tile(1), Qt::LeftButton);
    Press(Qt::Key_Down);
    QTest::keyClick(m_window.get(), Qt::Key_L);
    EXPECT_EQ(wall.Layout(), WallLayout::Grid3);
    EXPECT_EQ(wall.Selected(), 1);
    EXPECT_EQ(ConnectionOf(m_server, 1), connection);
    EXPECT_TRUE(
        Received(connection, {PtzPacket(1, 2, wire::kPtzStop), PtzPacket(2, 2, wire::kPtzDown),
                              PtzPacket(3, 2, wire::kPtzStop)}));
    Release(Qt::Key_Down);
    EXPECT_EQ(m_window->HeldPtz(), 0);
}

TEST_F(CameraStopTest, QuadStartsThatHaveNotRunYetAreCancelled) {
    MakeSessionWindow(m_server.Port());
    const auto nobodyWatches = [&] {
        for (int index = 0; index < kQuadTiles; ++index) {
            if (m_window->Wall()->Session(index)->Watching())
                return false;
        }
        return true;
    };
    // Play then Stop while the later tiles still wait for their turn.
    m_window->ToggleWallView();
    ASSERT_TRUE(WaitFor([&] { return m_window->Wall()->Session(0)->HasSource(); }));
    m_window->OnCommand(control::kPlay);
    EXPECT_FALSE(m_window->PlayFaceActive());
    RunFor(CameraWall::kStagger * kQuadTiles);
    EXPECT_TRUE(nobodyWatches());
    EXPECT_LE(m_server.Connections(), 1);

    // A server with two channels: the third and fourth tiles never log in,
    // however their starts and its answer interleave.
    m_window->OnCommand(control::kPlay);
    std::thread([&] { m_window->Wall()->Session(0)->OnChannelCount(2); }).join();
    RunFor(CameraWall::kStagger * kQuadTiles);
    ASSERT_TRUE(WaitFor([&] { return ConnectionOf(m_server, 1) >= 0; }));
    EXPECT_FALSE(m_window->Wall()->Session(2)->Watching());
    EXPECT_FALSE(m_window->Wall()->Session(3)->Watching());
    EXPECT_LT(ConnectionOf(m_server, 2), 0);
    EXPECT_LT(ConnectionOf(m_server, 3), 0);
}

}  // namespace
}  // namespace kavrel
