// The camera wall in the real main window against two kavrel-sim servers: a
// 3x3 wall whose tiles come from both, put there through the tile menu, shows
// each tile's own channel in its place; one server going away makes only its
// tiles count down while the other's keep playing.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <algorithm>
#include <memory>

#include "app/CameraWall.h"
#include "settings/HistoryEntry.h"
#include "settings/HistoryStore.h"
#include "skin/CSkinStatic.h"
#include "tests/app/SessionFixture.h"
#include "tests/app/SimulatorPictures.h"
#include "tests/support/SimulatorProcess.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

using namespace std::chrono_literals;
using test::CornersOfChannel;

// The entry of `menu` whose text is `text` (nullptr when none).
QAction* Entry(const QMenu& menu, const QString& text) {
    const QList<QAction*> actions = menu.actions();
    const auto found = std::find_if(actions.begin(), actions.end(),
                                    [&](const QAction* action) { return action->text() == text; });
    return found == actions.end() ? nullptr : *found;
}

class WallSimulatorTest : public test::SessionFixture {
  protected:
    void SetUp() override {
        SessionFixture::SetUp();
        // Channels 1 to 9 of the first, 10 to 16 of the second: every tile's
        // picture tells which camera it shows.
        ASSERT_TRUE(m_first.Start({"--channels", "16"})) << m_first.Log();
        ASSERT_TRUE(m_second.Start({"--channels", "16"})) << m_second.Log();
        // The second server is in the history, as the settings dialog keeps it.
        ASSERT_TRUE(SaveHistory(
            {FormatHistoryEntry(u"127.0.0.1", QString::number(m_second.Port()).toStdU16String(),
                                u"admin", u"admin", u"1")}));
        MakeSessionWindow(m_first.Port());
        // The checks sample the corners, which keep-aspect's bars would cover.
        if (m_window->KeepAspect())
            QTest::keyClick(m_window.get(), Qt::Key_A);
        m_window->resize(900, 700);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // Picks channel `channel` (0-based) of the server shown as `server` for
    // tile `index`, through the tile's "Show here" menu.
    void ShowHere(int index, const QString& server, int channel) {
        std::unique_ptr<QMenu> menu(m_window->MakeVideoMenu(index));
        const QAction* here = Entry(*menu, Text(u"show_here"));
        ASSERT_TRUE(here && here->menu());
        const QAction* channels = Entry(*here->menu(), server);
        ASSERT_TRUE(channels && channels->menu()) << server.toStdString();
        QString text = Text(u"cmd_channel");
        text.replace("%d", QString::number(channel + 1));
        QAction* pick = Entry(*channels->menu(), text);
        ASSERT_NE(pick, nullptr);
        pick->trigger();
    }

    QString SecondServer() const { return "127.0.0.1:" + QString::number(m_second.Port()); }

    // G, then L: a 3x3 wall of the first server's channels 1 to 9; then the
    // right column, bottom up, from the second server: channels 10 to 12.
    static constexpr std::array<int, 9> kChannels = {0, 1, 11, 3, 4, 10, 6, 7, 9};
    void ShowTwoServerWall() {
        QTest::keyClick(m_window.get(), Qt::Key_G);
        QTest::keyClick(m_window.get(), Qt::Key_L);
        ASSERT_EQ(m_window->Wall()->Layout(), WallLayout::Grid3);
        ASSERT_EQ(m_window->Wall()->Tiles(), 9);
        for (int index : {8, 5, 2})
            ShowHere(index, SecondServer(), kChannels[size_t(index)]);
    }

    bool AllInPlace() const {
        if (!m_window->IsWallView() || m_window->Wall()->Tiles() != 9)
            return false;
        for (int index = 0; index < 9; ++index) {
            if (!TileShows(index, kChannels[size_t(index)]))
                return false;
        }
        return true;
    }

    // The window made again, as at the next start, with `options`.
    void Restart(const CommandLine& options = {}) {
        m_window.reset();  // saves the view shown, and waits for the write
        MakeSessionWindow(m_first.Port());
        m_window->ApplyStartOptions(options);
        if (m_window->KeepAspect())
            QTest::keyClick(m_window.get(), Qt::Key_A);
        m_window->resize(900, 700);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    bool TileShows(int index, int channel) const {
        const CVideoAtom* tile = m_window->Wall()->Tile(index);
        return tile && CornersOfChannel(tile->LatestPicture(), channel);
    }

    // The viewer acts on this thread: its events run while a log is awaited.
    test::SimulatorProcess m_first{[] { QCoreApplication::processEvents(); }};
    test::SimulatorProcess m_second{[] { QCoreApplication::processEvents(); }};
};

TEST_F(WallSimulatorTest, TilesOfTwoServersPlayInPlaceAndOnlyTheLostServersTilesRetry) {
    ShowTwoServerWall();
    CameraWall& wall = *m_window->Wall();
    const QString second = SecondServer();
    const std::array<int, 9>& channels = kChannels;
    EXPECT_EQ(wall.Selected(), 2);  // the last tile given a camera
    ReconnectPolicy fast;
    fast.steps = {300ms};
    for (int index = 0; index < wall.Tiles(); ++index)
        wall.Session(index)->SetReconnectPolicy(fast);
    ASSERT_TRUE(WaitFor([this] { return AllInPlace(); })) << m_first.Log() << m_second.Log();
    // The second server saw one login per tile of its own.
    EXPECT_TRUE(
        m_second.WaitForLog("login: user 'admin'", 3, test::SimulatorProcess::Lines::Exactly));

    // The view names every tile's camera.
    const WallView view = m_window->CurrentWallView();
    EXPECT_EQ(view.layout, WallLayout::Grid3);
    ASSERT_EQ(view.tiles.size(), 9u);
    EXPECT_EQ(view.tiles[5].server.port, second.mid(10).toStdU16String());
    EXPECT_EQ(view.tiles[5].channel, 10);
    EXPECT_EQ(view.tiles[4].server.port, QString::number(m_first.Port()).toStdU16String());

    // The second server goes: its three tiles count down, the others play on.
    m_second.Stop();
    ASSERT_TRUE(WaitFor([&] {
        for (int index : {2, 5, 8}) {
            if (!wall.Session(index)->RetryPending())
                return false;
        }
        return true;
    }));
    // A picture decoded before the connection ended may still be on its way
    // to its tile: it lands now, before the counting starts.
    QCoreApplication::sendPostedEvents();
    std::array<int, 9> pictures{};
    for (int index = 0; index < wall.Tiles(); ++index) {
        QObject::connect(wall.Tile(index), &CVideoAtom::pictureShown,
                         [&pictures, index] { ++pictures[size_t(index)]; });
    }
    // New pictures on every tile of the first server, none on the others'.
    ASSERT_TRUE(WaitFor([&] {
        for (int index : {0, 1, 3, 4, 6, 7}) {
            if (pictures[size_t(index)] < 10)
                return false;
        }
        return true;
    }));
    for (int index : {0, 1, 3, 4, 6, 7}) {
        EXPECT_TRUE(wall.Session(index)->VideoReceived()) << index;
        EXPECT_FALSE(wall.Session(index)->RetryPending()) << index;
        EXPECT_TRUE(TileShows(index, channels[size_t(index)])) << index;
    }
    // The lost server's tiles still want to watch, and got no picture since.
    for (int index : {2, 5, 8}) {
        EXPECT_TRUE(wall.Session(index)->Watching()) << index;
        EXPECT_EQ(pictures[size_t(index)], 0) << index;
    }
}

TEST_F(WallSimulatorTest, AServerBackWakesItsWaitingTilesAsSoonAsOneOfThemGetsThrough) {
    ShowTwoServerWall();
    CameraWall& wall = *m_window->Wall();
    ASSERT_TRUE(WaitFor([this] { return AllInPlace(); })) << m_first.Log() << m_second.Log();
    // The second server's tiles 5 and 8 would wait an hour; only tile 2
    // tries again soon.
    ReconnectPolicy quick, slow;
    quick.steps = {300ms};
    slow.steps = {1h};
    wall.Session(2)->SetReconnectPolicy(quick);
    for (int index : {5, 8})
        wall.Session(index)->SetReconnectPolicy(slow);

    const uint16_t port = m_second.Port();
    m_second.Stop();
    ASSERT_TRUE(WaitFor(
        [&] { return wall.Session(5)->RetryPending() && wall.Session(8)->RetryPending(); }));
    test::SimulatorProcess back{[] { QCoreApplication::processEvents(); }};
    ASSERT_TRUE(back.Start({"--channels", "16"}, 30s, port)) << back.Log();

    // Long before their hour: the login of tile 2 woke them.
    ASSERT_TRUE(WaitFor([&] {
        return wall.Session(2)->VideoReceived() && wall.Session(5)->VideoReceived() &&
               wall.Session(8)->VideoReceived();
    })) << back.Log();
    EXPECT_TRUE(AllInPlace());
    EXPECT_TRUE(back.WaitForLog("login: user 'admin'", 3, test::SimulatorProcess::Lines::Exactly));
}

TEST_F(WallSimulatorTest, AWallComesBackAfterARestartAndSavedViewsComeBackByKeyTourAndOption) {
    ShowTwoServerWall();
    ASSERT_TRUE(WaitFor([this] { return AllInPlace(); })) << m_first.Log() << m_second.Log();
    const WallView wall = m_window->CurrentWallView();
    QTest::keyClick(m_window.get(), Qt::Key_1, Qt::ControlModifier);  // saved as view 1
    EXPECT_TRUE(WaitForStatus("View 1 saved (Alt+1 shows it)"));

    // The next start shows the wall as it was, every camera in its place.
    Restart();
    ASSERT_TRUE(WaitFor([this] { return AllInPlace(); })) << m_first.Log() << m_second.Log();
    EXPECT_EQ(m_window->CurrentWallView(), wall);

    // The single view saved as view 2; Alt+1 brings the wall back.
    QTest::keyClick(m_window.get(), Qt::Key_G);
    ASSERT_FALSE(m_window->IsWallView());
    QTest::keyClick(m_window.get(), Qt::Key_2, Qt::ControlModifier);
    QTest::keyClick(m_window.get(), Qt::Key_1, Qt::AltModifier);
    ASSERT_TRUE(WaitFor([this] { return AllInPlace(); }));
    EXPECT_EQ(m_window->CurrentWallView(), wall);
    QTest::keyClick(m_window.get(), Qt::Key_3, Qt::AltModifier);  // nothing saved there
    EXPECT_TRUE(m_window->IsWallView());
    EXPECT_TRUE(WaitForStatus("No view saved as 3 (Ctrl+3 saves one)"));

    // T: the tour shows view 2, then view 1, each after a whole interval.
    constexpr auto kInterval = 400ms;
    m_window->Tour()->SetInterval(kInterval);
    QElapsedTimer since;
    since.start();
    QTest::keyClick(m_window.get(), Qt::Key_T);
    const QString touring = Text(u"tour_running").replace("%d", "1");
    EXPECT_TRUE(WaitForStatus(touring));
    const size_t from = m_statuses.size();
    ASSERT_TRUE(WaitFor([this] { return !m_window->IsWallView(); }));
    EXPECT_GE(since.elapsed(), kInterval.count());
    ASSERT_TRUE(WaitFor([this] { return m_window->IsWallView(); }));
    EXPECT_GE(since.elapsed(), 2 * kInterval.count());
    // The cameras' own texts (the single view's connecting, the tiles') stayed
    // off the line, which still says that a tour runs.
    EXPECT_TRUE(StatusesFrom(from).empty());
    EXPECT_EQ(static_cast<QLabel*>(m_window->StatusLine())->text(), touring);
    QTest::keyClick(m_window.get(), Qt::Key_T);
    EXPECT_FALSE(m_window->Tour()->Running());

    // A tour's steps are not saved as the view shown: only that it runs. Left
    // while it shows the single view, the next start shows the wall stored
    // before it, touring on.
    QTest::keyClick(m_window.get(), Qt::Key_T);
    ASSERT_TRUE(WaitFor([this] { return !m_window->IsWallView(); }));
    Restart();
    EXPECT_TRUE(LoadTourOn());
    ASSERT_TRUE(WaitFor([this] { return m_window->Tour()->Running(); }));
    EXPECT_EQ(LoadCurrentWallView(), std::optional<WallView>(wall));
    QTest::keyClick(m_window.get(), Qt::Key_T);
    m_window->FlushSettingsWrites();
    EXPECT_FALSE(LoadTourOn());

    // --view 1 starts on the wall even when the single view was left shown.
    QTest::keyClick(m_window.get(), Qt::Key_G);
    Restart();
    EXPECT_FALSE(m_window->IsWallView());
    CommandLine options;
    options.view = 1;
    Restart(options);
    ASSERT_TRUE(WaitFor([this] { return AllInPlace(); })) << m_first.Log() << m_second.Log();
    EXPECT_EQ(m_window->CurrentWallView(), wall);
}

}  // namespace
}  // namespace kavrel
