// Recording from the real main window, offscreen, against kavrel-sim: R and
// Shift+R, what the files hold (read by ffprobe and ffmpeg), and the cases
// where the recording must stop with a clear text while the picture goes on.

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fstream>

#include "app/COrvaneApp.h"
#include "app/CameraWall.h"
#include "app/OffScreenRecordings.h"
#include "app/SessionRecording.h"
#include "settings/HistoryStore.h"
#include "settings/ViewPreferences.h"
#include "tests/app/SessionFixture.h"
#include "tests/record/ClipProbe.h"
#include "tests/support/SimulatorProcess.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// The tiles of the 2x2 wall that G opens.
constexpr int kQuadTiles = 4;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

class RecordSimulatorTest : public test::SessionFixture {
  protected:
    void SetUp() override {
        SessionFixture::SetUp();
        ASSERT_TRUE(test::ClipToolsPresent());
    }
    // Sessions closed by a test leave their files to threads of their own;
    // the temporary folder must outlive them.
    void TearDown() override {
        m_window.reset();
        EXPECT_TRUE(SessionRecording::WaitForClosingFiles(std::chrono::seconds(60)));
        SessionFixture::TearDown();
    }
    // Starts the simulator with `args`, the window on it, clips into a
    // temporary folder; Play until the first picture.
    void PlayUntilPicture(std::vector<std::string> args) {
        ASSERT_TRUE(m_sim.Start(args)) << m_sim.Log();
        MakeSessionWindow(m_sim.Port());
        m_window->show();
        QObject::connect(m_window->VideoWindow(), &CVideoAtom::pictureShown,
                         [this] { ++m_picturesShown; });
        Recording().SetFolder(Folder());
        m_window->OnCommand(control::kPlay);
        ASSERT_TRUE(WaitFor([&] { return m_picturesShown > 0; })) << m_sim.Log();
    }
    SessionRecording& Recording() { return m_window->Session().Recording(); }
    fs::path Folder() const { return fs::path(m_clips.path().toStdString()) / "Videos"; }
    void PressR(Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(m_window.get(), Qt::Key_R, modifiers);
    }
    // The status line has shown a text made from `key` with its "%s" filled in.
    bool WaitForStatusOf(std::u16string_view key, int count = 1) {
        const QString head = Text(key).section(QStringLiteral("%s"), 0, 0);
        return WaitFor([&] {
            return std::count_if(m_statuses.begin(), m_statuses.end(), [&](const QString& text) {
                       return text.startsWith(head);
                   }) >= count;
        });
    }
    // Lets `span` of the stream pass (the recording's length, not a wait for an event).
    static void Let(Clock::duration span) {
        const auto until = Clock::now() + span;
        WaitFor([&] { return Clock::now() >= until; }, 60s);
    }
    // Waits until `count` more pictures have been shown.
    bool PicturesGoOn(int count) {
        const int from = m_picturesShown;
        return WaitFor([&] { return m_picturesShown >= from + count; });
    }
    // Waits until tile `index` has shown `count` more pictures.
    bool PicturesOnTile(int index, int count) {
        int shown = 0;
        const QMetaObject::Connection counting = QObject::connect(
            m_window->Wall()->Tile(index), &CVideoAtom::pictureShown, [&shown] { ++shown; });
        const bool enough = WaitFor([&] { return shown >= count; });
        QObject::disconnect(counting);
        return enough;
    }
    QWidget* Badge(QWidget* video) const { return video->findChild<QWidget*>("recordBadge"); }

    QTemporaryDir m_clips;
    int m_picturesShown = 0;
    test::SimulatorProcess m_sim{[] { QCoreApplication::processEvents(); }};
};

TEST_F(RecordSimulatorTest, RecordingStartsAtTheKeptKeyFrameAndLastsAsLongAsRecorded) {
    // Key frames 10 s apart: R a second after one starts the clip at once,
    // with that key frame, not 9 s later.
    PlayUntilPicture({"--gop", "250"});
    // Another child of the video window is not taken for its badge.
    const QWidget other(m_window->VideoWindow());
    Let(1s);
    const auto pressed = Clock::now();
    PressR();
    ASSERT_TRUE(WaitForStatusOf(u"record_started")) << m_sim.Log();
    EXPECT_TRUE(Recording().Active());
    const int64_t keptAtPress = Recording().FramesHandedOver();
    QWidget* badge = Badge(m_window->VideoWindow());
    ASSERT_NE(badge, nullptr);
    EXPECT_TRUE(badge->isVisible());
    EXPECT_NE(badge, &other);
    // The right-click menu's entry names the key and shows the state.
    const std::unique_ptr<QMenu> menu(m_window->MakeVideoMenu());
    const auto actions = menu->actions();
    const auto entry = std::find_if(actions.begin(), actions.end(), [&](QAction* action) {
        return action->text() == Text(u"cmd_record") + "\tR";
    });
    ASSERT_NE(entry, actions.end());
    EXPECT_TRUE((*entry)->isChecked());

    Let(3s);
    const auto stopped = Clock::now();
    PressR();
    EXPECT_FALSE(Recording().Active());
    ASSERT_TRUE(WaitForStatusOf(u"record_saved"));
    EXPECT_FALSE(badge->isVisible());

    ASSERT_EQ(Recording().Clips().size(), 1u);
    const record::ClipSummary clip = Recording().Clips()[0];
    EXPECT_EQ(test::ClipsIn(Folder()), std::vector<fs::path>{clip.file});
    EXPECT_EQ(m_statuses.back(),
              Text(u"record_saved").replace("%s", QString::fromStdString(clip.file.filename())));
    EXPECT_EQ(test::ClipFirstPacketFlags(clip.file).substr(0, 1), "K");
    // The kept key frame came before R: the clip holds the wall-clock time
    // from its arrival to the stop.
    EXPECT_LT(clip.first, pressed - 900ms);
    const double recorded = Seconds(stopped - clip.first);
    EXPECT_NEAR(test::ClipDuration(clip.file), recorded, 0.2);
    // Every frame received from that key frame on.
    EXPECT_EQ(test::ClipPackets(clip.file), clip.frames);
    EXPECT_EQ(clip.frames, Recording().FramesHandedOver());
    // And those that came while it recorded (how many depends on how busy
    // the machine let the simulator be).
    EXPECT_GT(clip.frames, keptAtPress);
    // The frames as received, and little more.
    const auto size = int64_t(fs::file_size(clip.file));
    EXPECT_GE(size, clip.frameBytes);
    EXPECT_LE(size, clip.frameBytes + 2048 + clip.frames * 24);
    EXPECT_EQ(test::ClipStream(clip.file), "h264,352,288");
    EXPECT_EQ(test::ClipDecodeErrors(clip.file), "");
}

TEST_F(RecordSimulatorTest, SizeChangeStartsASecondFile) {
    PlayUntilPicture({"--fault", "resize", "--fault-frames", "30", "--gop", "10"});
    PressR();
    ASSERT_TRUE(WaitFor([&] { return Recording().Clips().size() >= 1; })) << m_sim.Log();
    PressR();
    ASSERT_TRUE(WaitFor([&] { return Recording().Clips().size() >= 2; }));
    const auto& clips = Recording().Clips();
    EXPECT_NE(test::ClipStream(clips[0].file), test::ClipStream(clips[1].file));
    for (const record::ClipSummary& clip : clips)
        EXPECT_EQ(test::ClipDecodeErrors(clip.file), "") << clip.file;
}

TEST_F(RecordSimulatorTest, ReconnectionClosesTheFileAndRecordsOnInANewOne) {
    PlayUntilPicture({"--fault", "close", "--fault-frames", "40"});
    ReconnectPolicy fast;
    fast.steps = {100ms};
    m_window->Session().SetReconnectPolicy(fast);
    PressR();
    ASSERT_TRUE(WaitForStatusOf(u"record_started"));
    // The server closes the connection; the session comes back and records on.
    ASSERT_TRUE(WaitForStatusOf(u"record_saved")) << m_sim.Log();
    ASSERT_TRUE(WaitForStatusOf(u"record_started", 2)) << m_sim.Log();
    EXPECT_TRUE(Recording().Active());
    m_window->OnCommand(control::kPlay);  // Stop ends the recording with its file
    EXPECT_FALSE(Recording().Active());
    ASSERT_TRUE(WaitFor([&] { return Recording().Clips().size() == 2; }));
    for (const record::ClipSummary& clip : Recording().Clips()) {
        EXPECT_EQ(test::ClipFirstPacketFlags(clip.file).substr(0, 1), "K");
        EXPECT_EQ(test::ClipDecodeErrors(clip.file), "") << clip.file;
    }
}

TEST_F(RecordSimulatorTest, UnwritableFolderStopsTheRecordingAndThePictureGoesOn) {
    PlayUntilPicture({"--gop", "10"});
    const fs::path blocker = fs::path(m_clips.path().toStdString()) / "a-file";
    std::ofstream(blocker) << "not a folder";
    Recording().SetFolder(blocker / "Videos");
    PressR();
    ASSERT_TRUE(WaitForStatusOf(u"record_folder_failed"));
    EXPECT_FALSE(Recording().Active());
    EXPECT_TRUE(PicturesGoOn(10));
    EXPECT_TRUE(m_window->PlayFaceActive());
}

TEST_F(RecordSimulatorTest, FullDiskStopsTheRecordingKeepsTheClipAndThePictureGoesOn) {
    PlayUntilPicture({"--gop", "10"});
    fs::path file;
    {
        test::FileSizeLimit full(96 * 1024);
        PressR();
        ASSERT_TRUE(WaitForStatusOf(u"record_disk_full")) << m_sim.Log();
        EXPECT_FALSE(Recording().Active());
        EXPECT_TRUE(PicturesGoOn(10));
        file = Recording().LastClip().file;
    }
    const int packets = test::ClipPackets(file);
    EXPECT_GE(packets, 10);
    EXPECT_EQ(packets % 10, 0) << packets;
    EXPECT_EQ(test::ClipDecodeErrors(file), "");
}

TEST_F(RecordSimulatorTest, ShiftRRecordsEveryTileAndChannelChangeEndsTheSingleViewsRecording) {
    PlayUntilPicture({"--gop", "10"});
    PressR();
    ASSERT_TRUE(WaitForStatusOf(u"record_started"));
    m_window->OnCommand(control::kFirstChannel + 1);
    EXPECT_FALSE(Recording().Active());
    ASSERT_TRUE(WaitForStatusOf(u"record_saved"));

    QTest::keyClick(m_window.get(), Qt::Key_G);
    CameraWall* quad = m_window->Wall();
    ASSERT_TRUE(WaitFor([&] {
        for (int index = 0; index < kQuadTiles; ++index) {
            if (!quad->Session(index)->VideoReceived())
                return false;
        }
        return true;
    })) << m_sim.Log();
    for (int index = 0; index < kQuadTiles; ++index)
        quad->Session(index)->Recording().SetFolder(Folder());
    PressR(Qt::ShiftModifier);
    for (int index = 0; index < kQuadTiles; ++index) {
        EXPECT_TRUE(quad->Session(index)->Recording().Active()) << index;
        QWidget* badge = Badge(quad->Tile(index));
        ASSERT_NE(badge, nullptr) << index;
        EXPECT_TRUE(badge->isVisible()) << index;
    }
    // Each tile's file is made at its first key frame.
    ASSERT_TRUE(WaitFor([&] { return test::ClipsIn(Folder()).size() == 5; }));
    PressR(Qt::ShiftModifier);
    for (int index = 0; index < kQuadTiles; ++index)
        EXPECT_FALSE(quad->Session(index)->Recording().Active()) << index;
    // Leaving the quad view closes the tiles without waiting for the disk;
    // every file is complete once their closing is done.
    QTest::keyClick(m_window.get(), Qt::Key_G);
    ASSERT_TRUE(SessionRecording::WaitForClosingFiles(std::chrono::seconds(60)));
    const auto clips = test::ClipsIn(Folder());
    ASSERT_EQ(clips.size(), 5u);
    for (const fs::path& clip : clips)
        EXPECT_EQ(test::ClipDecodeErrors(clip), "") << clip;
}

TEST_F(RecordSimulatorTest, ARecordingCameraKeepsRecordingOffScreenUntilItsStopIsChosen) {
    PlayUntilPicture({"--gop", "10", "--channels", "8"});
    ViewingSession* camera = &m_window->Session();
    PressR();
    ASSERT_TRUE(WaitForStatusOf(u"record_started"));
    // G: the wall's tile of the same camera takes its session, recording on.
    QTest::keyClick(m_window.get(), Qt::Key_G);
    CameraWall& wall = *m_window->Wall();
    ASSERT_EQ(wall.Session(0), camera);
    EXPECT_TRUE(camera->Recording().Active());
    EXPECT_EQ(camera->Video(), wall.Tile(0));
    ASSERT_TRUE(PicturesOnTile(0, 5)) << m_sim.Log();

    // A page turn takes the camera off the screen, not its recording: its
    // connection stays, frames still reach the file, and the window says so.
    QTest::keyClick(m_window.get(), Qt::Key_PageDown);
    ASSERT_EQ(wall.ChannelOf(0), 4);
    OffScreenRecordings& offScreen = *m_window->OffScreen();
    ASSERT_EQ(offScreen.Count(), 1);
    EXPECT_EQ(offScreen.Session(0), camera);
    EXPECT_TRUE(camera->Recording().Active());
    EXPECT_EQ(camera->Video(), nullptr);
    const int64_t handed = camera->Recording().FramesHandedOver();
    EXPECT_TRUE(WaitFor([&] { return camera->Recording().FramesHandedOver() >= handed + 10; }));
    auto* mark = static_cast<QLabel*>(m_window->OffScreenMark());
    EXPECT_TRUE(mark->isVisible());
    EXPECT_EQ(mark->text(), Text(u"offscreen_mark").replace("%d", "1"));

    // Back on screen it is the same session, still recording, in its tile.
    QTest::keyClick(m_window.get(), Qt::Key_PageUp);
    EXPECT_EQ(wall.Session(0), camera);
    EXPECT_EQ(camera->Video(), wall.Tile(0));
    EXPECT_TRUE(camera->Recording().Active());
    EXPECT_EQ(offScreen.Count(), 0);
    EXPECT_FALSE(mark->isVisible());
    ASSERT_TRUE(PicturesOnTile(0, 5));

    // Off screen again; the menu's entry ends it, and the status line names the file.
    QTest::keyClick(m_window.get(), Qt::Key_PageDown);
    std::unique_ptr<QMenu> menu(m_window->MakeVideoMenu(0));
    QMenu* list = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->menu() && action->text() == Text(u"offscreen_recordings"))
            list = action->menu();
    }
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->actions().size(), 1);
    list->actions().front()->trigger();
    EXPECT_EQ(offScreen.Count(), 0);
    ASSERT_TRUE(WaitForStatusOf(u"record_saved"));
    EXPECT_TRUE(WaitFor([&] { return !mark->isVisible(); }));
    const auto clips = test::ClipsIn(Folder());
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(test::ClipDecodeErrors(clips.front()), "");
}

TEST_F(RecordSimulatorTest, ASignalToEndFinishesTheClipsAndKeepsTheView) {
    PlayUntilPicture({"--gop", "10"});
    QTest::keyClick(m_window.get(), Qt::Key_G);
    CameraWall& wall = *m_window->Wall();
    ASSERT_TRUE(WaitFor([&] { return wall.Session(1)->VideoReceived(); })) << m_sim.Log();
    wall.Select(1);
    SessionRecording& recording = wall.Session(1)->Recording();
    recording.SetFolder(Folder());
    PressR();
    ASSERT_TRUE(WaitForStatusOf(u"record_started"));
    ASSERT_TRUE(WaitFor([&] { return recording.FramesHandedOver() >= 10; }));
    const WallView shown = m_window->CurrentWallView();

    // As `systemctl stop` sends it, while the window's modal run goes on.
    QTimer::singleShot(0, [] { std::raise(SIGTERM); });
    COrvaneApp::RunWindow(std::move(m_window), std::chrono::seconds(60));
    const auto clips = test::ClipsIn(Folder());
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(test::ClipDecodeErrors(clips.front()), "");
    EXPECT_GE(test::ClipPackets(clips.front()), 10);
    EXPECT_EQ(LoadCurrentWallView(), std::optional<WallView>(shown));
}

TEST_F(RecordSimulatorTest, FileLengthComesFromTheSettingsStore) {
    const struct {
        const char16_t* stored;
        int minutes;
    } cases[] = {{u"5", 5}, {u" 1440 ", 1440}, {u"0", 30}, {u"1441", 30}, {u"ten", 30}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteRegistryStrings({{u"clip_minutes", c.stored}}));
        EXPECT_EQ(LoadViewPreferences().clipMinutes, c.minutes)
            << QString::fromStdU16String(c.stored).toStdString();
    }
}

}  // namespace
}  // namespace kavrel
