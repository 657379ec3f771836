// A main window on every monitor, on the test's two offscreen monitors (a
// landscape one, then a portrait one): --screen, a later start's --screen
// opening a second window in the running program, a second window's close
// and the exit question from it, and the windows coming back at the next start.

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <future>

#include "app/MainWindows.h"
#include "app/SettingsWriter.h"
#include "settings/HistoryStore.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/TestPorts.h"

namespace kavrel {
namespace {

constexpr int kDeadlineMs = 10000;

class MainWindowsTest : public test::MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        ASSERT_EQ(QGuiApplication::screens().size(), 2) << "the test's two monitors";
        // A server that refuses: a channel asked for is tried and never plays.
        WriteConfig(QStringLiteral("\n[server]\nserver_address=127.0.0.1\nserver_port=%1\n")
                        .arg(m_refusing.Port())
                        .toUtf8());
        m_two.view.layout = WallLayout::Grid2;
        m_two.view.tiles.resize(4);
        m_two.view.fullScreen = true;
        ASSERT_TRUE(SaveNamedView(2, m_two));
    }
    void TearDown() override {
        m_windows.reset();
        MainWindowFixture::TearDown();
    }
    MainWindows& Start(const CommandLine& options = {}) {
        m_windows = std::make_unique<MainWindows>(m_labels);
        m_windows->Open(options);
        m_windows->Main()->show();  // as its modal run would
        return *m_windows;
    }
    static QScreen* Monitor(int index) { return QGuiApplication::screens()[index]; }
    COrvaneDlg& Second() { return *m_windows->Windows().at(1); }

    test::RefusingPort m_refusing;
    NamedView m_two;
    std::unique_ptr<MainWindows> m_windows;
};

TEST_F(MainWindowsTest, ScreenPutsTheWindowAndItsFullScreenOnThatMonitor) {
    // Monitor 3 is not there: the first.
    for (const auto& [number, index] : {std::pair{2, 1}, std::pair{3, 0}}) {
        CommandLine options;
        options.screen = number;
        options.kiosk = true;
        COrvaneDlg& window = *Start(options).Main();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.IsFullScreen(); }, kDeadlineMs));
        EXPECT_EQ(window.screen(), Monitor(index)) << number;
        EXPECT_EQ(window.geometry(), Monitor(index)->geometry()) << number;
    }
}

TEST_F(MainWindowsTest, ALaterStartsScreenOpensASecondWindowThereWhichClosesAlone) {
    COrvaneDlg& main = *Start().Main();
    m_windows->OnForwarded({"--view", "2", "--screen", "2"});
    ASSERT_EQ(m_windows->Windows().size(), 2u);
    COrvaneDlg& second = Second();
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.IsFullScreen(); }, kDeadlineMs));
    EXPECT_EQ(second.geometry(), Monitor(1)->geometry());
    EXPECT_EQ(second.CurrentWallView(), m_two.view);
    EXPECT_EQ(main.screen(), Monitor(0));
    EXPECT_FALSE(main.IsWallView() || main.IsFullScreen());

    // Monitor 2 has its window: that one takes the options.
    m_windows->OnForwarded({"--screen", "2", "--channel", "3"});
    ASSERT_EQ(m_windows->Windows().size(), 2u);
    EXPECT_FALSE(second.IsWallView());
    EXPECT_EQ(second.currentChannel(), 2);
    EXPECT_EQ(main.currentChannel(), 0);

    // Its close button closes it alone, without the question.
    second.ToggleTour();
    second.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_windows->Windows().size() == 1; }, kDeadlineMs));
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(main.isVisible());

    // The exit question's Yes in another window ends the program's run. That
    // window, opened anew, does not take the closed one's tour.
    m_windows->OnForwarded({"--screen", "2"});
    ASSERT_EQ(m_windows->Windows().size(), 2u);
    main.FlushSettingsWrites();
    EXPECT_FALSE(LoadTourOn(2));
    QSignalSpy finished(&main, &QDialog::finished);
    m_answer = QMessageBox::Yes;
    Second().OnCommand(control::kExit);
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(MainWindowsTest, TheWindowsComeBackAtTheNextStartOnTheFirstMonitorWhenTheirsIsGone) {
    Start();
    m_windows->OnForwarded({"--view", "2", "--screen", "2"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return Second().IsFullScreen(); }, kDeadlineMs));
    m_windows.reset();  // the program leaves: every write is done

    Start();
    ASSERT_EQ(m_windows->Windows().size(), 2u);
    EXPECT_EQ(Second().screen(), Monitor(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Second().IsFullScreen(); }, kDeadlineMs));
    EXPECT_EQ(Second().CurrentWallView(), m_two.view);
    EXPECT_EQ(m_windows->Main()->screen(), Monitor(0));
    m_windows.reset();

    ASSERT_TRUE(WriteRegistryString(u"window_monitor2", u"unplugged"));
    Start();
    ASSERT_EQ(m_windows->Windows().size(), 2u);
    EXPECT_EQ(Second().screen(), Monitor(0));
}

TEST_F(MainWindowsTest, ATourPausesForItsOwnWindowOnlyAndSavedViewsAreEveryWindows) {
    COrvaneDlg& main = *Start().Main();
    m_windows->OnForwarded({"--screen", "2"});
    main.ToggleTour();
    ASSERT_EQ(main.Tour()->CurrentState(), WallTour::State::Running);
    QTest::keyClick(&Second(), Qt::Key_Z);
    EXPECT_EQ(main.Tour()->CurrentState(), WallTour::State::Running);
    QTest::keyClick(&main, Qt::Key_Z);
    EXPECT_EQ(main.Tour()->CurrentState(), WallTour::State::Paused);
    main.SaveView(5);
    EXPECT_TRUE(Second().RecallView(5));
}

// The windows share one writer: a window closed while its write runs hears
// nothing of it, one still open does.
TEST(SettingsWriterTest, AnOutcomeGoesOnlyToAContextThatIsStillThere) {
    SettingsWriter writer;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto gone = std::make_unique<QObject>();
    QObject kept;
    int heardByGone = 0;
    int heardByKept = 0;
    writer.Post(
        [released] {
            released.wait();
            return true;
        },
        gone.get(), [&](bool) { ++heardByGone; });
    writer.Post([] { return true; }, &kept, [&](bool) { ++heardByKept; });
    gone.reset();
    release.set_value();
    writer.Flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return heardByKept == 1; }, kDeadlineMs));
    EXPECT_EQ(heardByGone, 0);
}

}  // namespace
}  // namespace kavrel
