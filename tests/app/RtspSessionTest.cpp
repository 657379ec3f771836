// RTSP cameras in the real main window, against the project's RTSP test server
// (GStreamer's rtsp-server): the picture as ffmpeg decodes it, a wall of
// streams beside the simulator's channels, a refused login, a server that
// goes away and comes back, Stop during an open nobody answers, recording,
// and a picture over the size limit.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CameraWall.h"
#include "app/CommandLine.h"
#include "app/SessionRecording.h"
#include "skin/CSkinButton.h"
#include "skin/ControlIds.h"
#include "tests/app/SessionFixture.h"
#include "tests/app/SimulatorPictures.h"
#include "tests/record/ClipProbe.h"
#include "tests/support/RtspTestServer.h"
#include "tests/support/SilentPeer.h"
#include "tests/support/SimulatorProcess.h"
#include "video/CVideoAtom.h"
#include "video/ColourTables.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Retries come at once: a retry that should not happen shows within a second.
ReconnectPolicy QuickRetries() {
    ReconnectPolicy quick;
    quick.steps = {50ms, 100ms, 200ms};
    return quick;
}

class RtspSessionTest : public test::SessionFixture {
  protected:
    void SetUp() override {
        SessionFixture::SetUp();
        ASSERT_TRUE(test::ClipToolsPresent());
    }
    void TearDown() override {
        m_window.reset();
        EXPECT_TRUE(SessionRecording::WaitForClosingFiles(std::chrono::seconds(60)));
        SessionFixture::TearDown();
    }
    // The window watching `url` in the single view.
    void Play(const std::string& url, std::u16string user = {}, std::u16string password = {}) {
        if (!m_window) {
            MakeSessionWindow(1);
            m_window->show();
            QObject::connect(m_window->VideoWindow(), &CVideoAtom::pictureShown,
                             [this] { ++m_picturesShown; });
        }
        m_window->Session().SetReconnectPolicy(QuickRetries());
        m_window->Session().SetServer(
            ServerSettings{QString::fromStdString(url).toStdU16String(), u"", user, password, 0});
        m_window->Session().Start(0);
    }
    bool PicturesGoOn(int count) {
        const int from = m_picturesShown;
        return WaitFor([&] { return m_picturesShown >= from + count; });
    }

    int m_picturesShown = 0;
    test::RtspTestServer m_rtsp;
};

// Every picture of `clip` as ffmpeg decodes it (its own libavcodec, planar
// 4:2:0), converted as the viewer converts for a snapshot (bottom-up, blue
// first): one of them must be the snapshot.
std::vector<std::vector<uint8_t>> DecodedPictures(const std::string& clip, int width, int height) {
    // Through popen (a spawn): a fork of this threaded process is not
    // something every sanitizer runtime allows.
    const std::string planar =
        test::RunShell("ffmpeg -v error -i '" + clip + "' -f rawvideo -pix_fmt yuv420p -");
    const size_t frameBytes = size_t(width) * height * 3 / 2;
    ColourTables tables;
    tables.Build();
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t at = 0; at + frameBytes <= planar.size(); at += frameBytes) {
        std::vector<uint8_t> rgb(size_t(width) * height * 3);
        ConvertToRgb(tables, reinterpret_cast<const uint8_t*>(planar.data()) + at, rgb.data(),
                     width, height);
        pictures.push_back(std::move(rgb));
    }
    return pictures;
}

TEST_F(RtspSessionTest, TheSnapshotOfAStreamIsFfmpegsOwnDecodeForH264AndH265) {
    ASSERT_TRUE(m_rtsp.Start()) << m_rtsp.Log();
    constexpr int kWidth = 352, kHeight = 288;
    int captures = 0;
    for (const std::string mount : {"/h264", "/h265"}) {
        SCOPED_TRACE(mount);
        const auto decoded = DecodedPictures(
            test::RtspTestServer::ClipsDir() + mount + "." + mount.substr(1), kWidth, kHeight);
        ASSERT_FALSE(decoded.empty());
        for (const QString& file : QDir(m_documents.path()).entryList(QDir::Files))
            QFile::remove(m_documents.filePath(file));
        Play(m_rtsp.Url(mount));
        ASSERT_TRUE(PicturesGoOn(3)) << m_rtsp.Log();
        m_window->OnCommand(control::kCapture);
        ASSERT_TRUE(WaitForStatus(Text(u"capture_succeed"), ++captures));
        const QByteArray bmp = test::OnlySnapshot(m_documents);
        ASSERT_EQ(size_t(bmp.size()), 54u + kWidth * kHeight * 3);
        const auto* pixels = reinterpret_cast<const uint8_t*>(bmp.constData()) + 54;
        // The nearest of the clip's pictures: the picture captured was one of them.
        int best = 256;
        for (const auto& picture : decoded) {
            int worst = 0;
            for (size_t i = 0; i < picture.size() && worst < best; ++i)
                worst = std::max(worst, std::abs(int(pixels[i]) - int(picture[i])));
            best = std::min(best, worst);
        }
        EXPECT_LE(best, 2);
        m_window->Session().Stop();
    }
}

TEST_F(RtspSessionTest, AWallOfTwoStreamsAndTwoSimulatorChannelsShowsEachTilesOwnPicture) {
    test::SimulatorProcess sim{[] { QCoreApplication::processEvents(); }};
    ASSERT_TRUE(sim.Start({"--channels", "4"})) << sim.Log();
    ASSERT_TRUE(m_rtsp.Start()) << m_rtsp.Log();
    MakeSessionWindow(sim.Port());
    if (m_window->KeepAspect())
        QTest::keyClick(m_window.get(), Qt::Key_A);  // the corners are sampled
    m_window->resize(900, 700);
    m_window->show();
    WallView view;
    view.layout = WallLayout::Grid2;
    const ServerSettings server = m_window->Session().Server();
    const auto stream = [](const std::string& url) {
        TileSource source;
        source.server.address = QString::fromStdString(url).toStdU16String();
        return source;
    };
    view.tiles = {stream(m_rtsp.Url("/h264")), TileSource{server, ProtocolVariant::Current, 1},
                  stream(m_rtsp.Url("/h265-d1")), TileSource{server, ProtocolVariant::Current, 3}};
    m_window->ShowWallView(view);
    CameraWall& wall = *m_window->Wall();
    const auto corners = [&wall](int tile) {
        return test::CornersOfChannel(wall.Tile(tile)->LatestPicture(), tile);
    };
    ASSERT_TRUE(WaitFor([&] {
        return corners(1) && corners(3) && wall.Tile(0)->Pipeline().Codec() == VideoCodec::kH264 &&
               wall.Tile(2)->Pipeline().Codec() == VideoCodec::kH265 &&
               !wall.Tile(0)->LatestPicture().isNull() && !wall.Tile(2)->LatestPicture().isNull();
    })) << m_rtsp.Log();
    // A stream cannot be steered: selecting its tile greys the camera buttons.
    emit wall.tileTapped(0);
    EXPECT_FALSE(wall.SelectedSession().CanSteer());
    EXPECT_TRUE(m_window->Button(control::kPtzLeft)->Greyed());
    emit wall.tileTapped(1);
    EXPECT_FALSE(m_window->Button(control::kPtzLeft)->Greyed());

    // URLs handed over by a later start take the window's place: one plays
    // in the single view.
    m_window->ApplyForwardedOptions(ParseCommandLine({m_rtsp.Url("/h265")}));
    EXPECT_FALSE(m_window->IsWallView());
    EXPECT_TRUE(WaitFor([&] {
        return m_window->VideoWindow()->Pipeline().Codec() == VideoCodec::kH265 &&
               !m_window->VideoWindow()->LatestPicture().isNull();
    })) << m_rtsp.Log();
}

TEST_F(RtspSessionTest, AWrongPasswordIsALoginRefusedAfterOneAttempt) {
    ASSERT_TRUE(m_rtsp.Start({"viewer", "right"})) << m_rtsp.Log();
    Play(m_rtsp.Url("/h264"), u"viewer", u"wrong");
    ASSERT_TRUE(WaitForStatus(Text(u"login_fail"))) << m_rtsp.Log();
    EXPECT_FALSE(m_window->Session().Watching());
    EXPECT_EQ(m_window->Session().StopReason(), std::u16string_view(u"login_fail"));
    ASSERT_TRUE(m_rtsp.WaitForLines("connected", 1));
    // Retries would come within 50 ms: none comes in a second.
    EXPECT_FALSE(m_rtsp.WaitForLines("connected", 2, 1s));
    // The password never shows.
    for (const QString& text : m_statuses)
        EXPECT_FALSE(text.contains("wrong")) << text.toStdString();
    // The right one plays.
    Play(m_rtsp.Url("/h264"), u"viewer", u"right");
    EXPECT_TRUE(PicturesGoOn(3)) << m_rtsp.Log();
}

TEST_F(RtspSessionTest, AServerThatGoesAwayAndComesBackBringsThePictureBackByItself) {
    ASSERT_TRUE(m_rtsp.Start()) << m_rtsp.Log();
    Play(m_rtsp.Url("/h264"));
    ASSERT_TRUE(PicturesGoOn(3)) << m_rtsp.Log();
    const size_t before = m_statuses.size();
    ASSERT_TRUE(m_rtsp.GoAway(10s));
    ASSERT_TRUE(m_rtsp.WaitBack(30s));
    EXPECT_TRUE(PicturesGoOn(10)) << m_rtsp.Log();
    EXPECT_TRUE(m_window->Session().Watching());
    const std::vector<QString> after = StatusesFrom(before);
    EXPECT_NE(std::find(after.begin(), after.end(), Text(u"connect_break")), after.end());

    // A server that keeps the connection but stops sending is a lost
    // connection after the silence, and comes back the same way.
    ASSERT_TRUE(m_rtsp.StopSending());
    ASSERT_TRUE(WaitForStatus(Text(u"connect_break"), 2, 20s));
    ASSERT_TRUE(m_rtsp.ResumeSending());
    EXPECT_TRUE(PicturesGoOn(10)) << m_rtsp.Log();
}

TEST_F(RtspSessionTest, StopDuringAnOpenNobodyAnswersLeavesTheButtonIdleAtOnce) {
    // It takes the first bytes of the request and never answers.
    test::SilentPeer silent(16, {});
    ASSERT_NE(silent.Port(), 0);
    Play("rtsp://127.0.0.1:" + std::to_string(silent.Port()) + "/never");
    ASSERT_TRUE(WaitFor([&] { return silent.Answered(); }));
    QElapsedTimer clock;
    clock.start();
    m_window->OnCommand(control::kPlay);  // Stop
    const qint64 took = clock.elapsed();
    EXPECT_FALSE(m_window->PlayFaceActive());
    EXPECT_FALSE(m_window->Session().HasSource());
    RecordProperty("StopMilliseconds", int(took));
    std::printf("Stop during an unanswered open took %lld ms\n", (long long)took);
}

TEST_F(RtspSessionTest, RecordingAStreamGivesAClipWithEveryFrameNamedWithoutThePassword) {
    ASSERT_TRUE(m_rtsp.Start({"viewer", "secret"})) << m_rtsp.Log();
    QTemporaryDir clips;
    Play(m_rtsp.Url("/h264", "viewer", "secret"));
    const fs::path folder = fs::path(clips.path().toStdString()) / "Videos";
    m_window->Session().Recording().SetFolder(folder);
    ASSERT_TRUE(PicturesGoOn(3)) << m_rtsp.Log();
    QTest::keyClick(m_window.get(), Qt::Key_R);
    ASSERT_TRUE(WaitFor([&] { return m_window->Session().Recording().Active(); }));
    ASSERT_TRUE(PicturesGoOn(50));
    QTest::keyClick(m_window.get(), Qt::Key_R);
    ASSERT_TRUE(SessionRecording::WaitForClosingFiles(std::chrono::seconds(30)));
    const std::vector<fs::path> files = test::ClipsIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().find("secret"), std::string::npos) << files[0];
    EXPECT_EQ(test::ClipStream(files[0]), "h264,352,288");
    EXPECT_GE(test::ClipPackets(files[0]), 40);
    EXPECT_EQ(test::ClipDecodeErrors(files[0]), "");
}

TEST_F(RtspSessionTest, APictureOverTheLimitIsRefusedAsFromAnyCamera) {
    ASSERT_TRUE(m_rtsp.Start()) << m_rtsp.Log();
    Play(m_rtsp.Url("/oversize"));
    EXPECT_TRUE(WaitFor([&] {
        return m_window->VideoWindow()->Pipeline().Trouble() == DecodeTrouble::kTooLarge;
    })) << m_rtsp.Log();
    EXPECT_EQ(m_picturesShown, 0);
}

}  // namespace
}  // namespace kavrel
