// ONVIF cameras in the real main window, against the simulator's ONVIF device
// (whose streams the project's RTSP test server serves): the main and the sub
// stream in their places, the exact requests the camera keys send, presets, a
// refused login, and discovery from the settings dialog.

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFocusEvent>
#include <QHostAddress>
#include <QTest>
#include <regex>
#include <string>
#include <vector>

#include "app/CameraWall.h"
#include "onvif/OnvifCamera.h"
#include "settings/ui/CSetDialog.h"
#include "settings/ui/SetDialogIds.h"
#include "skin/ControlIds.h"
#include "tests/app/SessionFixture.h"
#include "tests/support/RtspTestServer.h"
#include "tests/support/SimulatorProcess.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

using namespace std::chrono_literals;

class OnvifSessionTest : public test::SessionFixture {
  protected:
    void SetUp() override {
        SessionFixture::SetUp();
        ASSERT_TRUE(m_rtsp.Start()) << m_rtsp.Log();
    }
    void TearDown() override {
        m_window.reset();
        SessionFixture::TearDown();
    }

    // The simulator's ONVIF device (user and password "admin"), streams main
    // (D1) and sub (CIF), a clock an hour ahead of ours.
    void StartDevice() {
        m_logPath = m_documents.filePath(QStringLiteral("onvif.log")).toStdString();
        ASSERT_TRUE(m_sim.Start({"--onvif-port", "0", "--discovery-port", "0", "--onvif-main",
                                 m_rtsp.Url("/h264-d1"), "--onvif-sub", m_rtsp.Url("/h264"),
                                 "--onvif-clock-offset", "3600", "--onvif-log", m_logPath}))
            << m_sim.Log();
        ASSERT_TRUE(m_sim.WaitForLog("onvif device on")) << m_sim.Log();
        const std::regex line(R"(onvif device on [^:]+:(\d+), discovery port (\d+))");
        for (const std::string& text : m_sim.LogLines()) {
            std::smatch match;
            if (std::regex_search(text, match, line)) {
                m_onvifPort = std::stoi(match[1]);
                m_discoveryPort = std::stoi(match[2]);
            }
        }
        ASSERT_GT(m_onvifPort, 0);
    }
    std::u16string Address() const {
        return QStringLiteral("onvif://127.0.0.1:%1").arg(m_onvifPort).toStdU16String();
    }
    void Play(std::u16string password = u"admin") {
        MakeSessionWindow(1);
        m_window->show();
        ReconnectPolicy quick;
        quick.steps = {50ms, 100ms, 200ms};
        m_window->Session().SetReconnectPolicy(quick);
        m_window->Session().SetServer(ServerSettings{Address(), u"", u"admin", password, 0});
        m_window->Session().Start(0);
    }
    bool Playing() {
        return WaitFor([&] { return m_window->Session().VideoReceived(); });
    }
    // The device's request log (PTZ, imaging, presets and refusals).
    std::vector<std::string> Requests() const {
        QFile file(QString::fromStdString(m_logPath));
        std::vector<std::string> lines;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (!line.isEmpty() && !line.startsWith("GetPresets"))
                    lines.push_back(line.toStdString());
            }
        }
        return lines;
    }
    bool RequestsAre(const std::vector<std::string>& expected) {
        return WaitFor([&] { return Requests().size() >= expected.size(); }, 10s) &&
               Requests() == expected;
    }

    test::RtspTestServer m_rtsp;
    test::SimulatorProcess m_sim{[] { QCoreApplication::processEvents(); }};
    std::string m_logPath;
    int m_onvifPort = 0;
    int m_discoveryPort = 0;
};

TEST_F(OnvifSessionTest, TheSingleViewAndTheLargeTilePlayTheMainStreamAndTheOtherTilesTheSub) {
    StartDevice();
    Play();
    ASSERT_TRUE(Playing()) << m_sim.Log();
    EXPECT_EQ(m_window->Session().LastStreamFormat().Width(), 704);
    EXPECT_NE(m_window->Session().StatisticsLine().find("H.264,Main,"), std::string::npos);

    WallView view;
    view.layout = WallLayout::OnePlusFive;
    view.tiles.resize(6);
    for (int index : {0, 1})
        view.tiles[size_t(index)].server = ServerSettings{Address(), u"", u"admin", u"admin", 0};
    m_window->ShowWallView(view);
    CameraWall& wall = *m_window->Wall();
    const auto width = [&](int index) { return wall.Session(index)->LastStreamFormat().Width(); };
    ASSERT_TRUE(WaitFor([&] { return width(0) == 704 && width(1) == 352; }))
        << width(0) << " " << width(1);
    EXPECT_NE(wall.Session(1)->StatisticsLine().find("H.264,Sub,"), std::string::npos);

    // A switch on a running stream: the sub stream's pictures go on until
    // the main stream's first one, and the session never loses its stream.
    int shown = 0;
    QObject::connect(wall.Tile(1), &CVideoAtom::pictureShown, [&] { ++shown; });
    wall.Session(1)->SetStreamSize(StreamSize::kMain);
    ASSERT_TRUE(WaitFor([&] { return width(1) == 704; }));
    EXPECT_TRUE(wall.Session(1)->VideoReceived());
    const int atSwitch = shown;
    EXPECT_TRUE(WaitFor([&] { return shown > atSwitch + 3; }));
    EXPECT_NE(wall.Session(1)->StatisticsLine().find("H.264,Main,"), std::string::npos);
}

TEST_F(OnvifSessionTest, TheCameraKeysSendContinuousMoveAndStopOnEveryPathOfAHold) {
    StartDevice();
    Play();
    ASSERT_TRUE(Playing()) << m_sim.Log();
    ASSERT_TRUE(m_window->Session().CanSteer(wire::kPtzUp));

    // A held key: the move at the press, the stop at the release.
    QTest::keyPress(m_window.get(), Qt::Key_Up);
    ASSERT_TRUE(RequestsAre({"ContinuousMove main pan=0 tilt=0.5 zoom=0"}));
    QTest::keyRelease(m_window.get(), Qt::Key_Up);
    ASSERT_TRUE(RequestsAre(
        {"ContinuousMove main pan=0 tilt=0.5 zoom=0", "Stop main pantilt=true zoom=true"}));

    // A short click: the pulse, then its stop.
    m_window->Session().Ptz(u"ptz_zoom_in", wire::kPtzZoomIn);
    ASSERT_TRUE(RequestsAre(
        {"ContinuousMove main pan=0 tilt=0.5 zoom=0", "Stop main pantilt=true zoom=true",
         "ContinuousMove main pan=0 tilt=0 zoom=0.5", "Stop main pantilt=true zoom=true"}));

    // Focus lost during a hold: the stop at once.
    QTest::keyPress(m_window.get(), Qt::Key_Left);
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(m_window.get(), &out);
    ASSERT_TRUE(RequestsAre(
        {"ContinuousMove main pan=0 tilt=0.5 zoom=0", "Stop main pantilt=true zoom=true",
         "ContinuousMove main pan=0 tilt=0 zoom=0.5", "Stop main pantilt=true zoom=true",
         "ContinuousMove main pan=-0.5 tilt=0 zoom=0", "Stop main pantilt=true zoom=true"}));

    // A reconnection during a hold: the new connection stops the camera
    // first (pan, tilt, zoom and focus: it cannot know which moved).
    const size_t before = Requests().size();
    m_window->Session().PtzHold(u"ptz_right", wire::kPtzRight);
    ASSERT_TRUE(WaitFor([&] { return Requests().size() == before + 1; }));
    ASSERT_TRUE(m_rtsp.GoAway(1s));
    ASSERT_TRUE(WaitFor([&] { return Requests().size() >= before + 3; }, 30s)) << m_sim.Log();
    const std::vector<std::string> all = Requests();
    const std::vector<std::string> after(all.begin() + long(before), all.end());
    EXPECT_EQ(after,
              (std::vector<std::string>{"ContinuousMove main pan=0.5 tilt=0 zoom=0",
                                        "Stop main pantilt=true zoom=true", "FocusStop vs0"}));
}

TEST_F(OnvifSessionTest, PresetsAreStoredAndRecalledByTheCamerasNames) {
    StartDevice();
    Play();
    ASSERT_TRUE(Playing()) << m_sim.Log();
    ASSERT_TRUE(WaitFor([&] { return !m_window->Session().PresetNames().empty(); }));
    EXPECT_EQ(m_window->Session().PresetNames().front(), u"Home");
    // Shift+F2 stores a new preset (the camera has one), F1 goes to "Home".
    QTest::keyClick(m_window.get(), Qt::Key_F2, Qt::ShiftModifier);
    const std::string name = Text(u"preset_name").replace("%d", "2").toStdString();
    ASSERT_TRUE(RequestsAre({"SetPreset main \"" + name + "\""}));
    ASSERT_TRUE(WaitFor([&] { return m_window->Session().PresetNames().size() == 2; }));
    QTest::keyClick(m_window.get(), Qt::Key_F1);
    EXPECT_TRUE(WaitForStatus(Text(u"preset_goto").replace("%s", "Home")));
    EXPECT_TRUE(WaitFor([&] { return Requests().back() == "GotoPreset main 1"; }, 10s));

    // Stopped with a request on the wire, the camera stays in the
    // application's tree (the program's end frees it) until its answer does.
    const auto cameras = [] {
        return QCoreApplication::instance()->findChildren<onvif::Camera*>().size();
    };
    QTest::keyClick(m_window.get(), Qt::Key_F1);
    m_window->Session().Stop();
    EXPECT_EQ(cameras(), 1);
    EXPECT_TRUE(WaitFor([&] { return cameras() == 0; }));
}

TEST_F(OnvifSessionTest, AWrongPasswordIsARefusedLoginAfterOneAttempt) {
    StartDevice();
    Play(u"wrong");
    ASSERT_TRUE(WaitForStatus(Text(u"login_fail")));
    EXPECT_EQ(m_window->Session().StopReason(), u"login_fail");
    // With retries 50 ms apart, none in a second.
    QTest::qWait(1000);
    int refused = 0;
    for (const std::string& line : Requests())
        refused += line.rfind("Refused", 0) == 0;
    EXPECT_EQ(refused, 1);
    for (const QString& status : m_statuses)
        EXPECT_FALSE(status.contains(QStringLiteral("wrong")));
}

TEST_F(OnvifSessionTest, FindCamerasListsTheDeviceAndPickingItFillsTheAddress) {
    StartDevice();
    CSetDialog dialog(LoadSettingsLabels(0));
    dialog.Initialise();
    dialog.SetDiscoveryTarget(QHostAddress::LocalHost, quint16(m_discoveryPort));
    dialog.OnFindCameras();
    ASSERT_TRUE(WaitFor([&] { return !dialog.FoundCameras().empty(); }, 10s));
    EXPECT_EQ(dialog.FoundCameras().front().model, QStringLiteral("Kavrel-Sim"));
    dialog.PickFoundCamera(0);
    auto* address = dialog.findChild<QComboBox*>(QString::number(setdlg::kAddress));
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(address->currentText().toStdU16String(), Address());
}

}  // namespace
}  // namespace kavrel
