// kavrel-sim seen through the project's own protocol engine, as the viewer
// sees it: logins in both dialects, server information, stream format, video
// that decodes to the channel's picture, PTZ and the legacy channel switch.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "protocol/CProtocolEngine.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/tools/RecordingListener.h"
#include "tests/tools/TestH264Decoder.h"
#include "tools/sim/TestPattern.h"

namespace kavrel::test {
namespace {

// A simulator that must end cleanly: its exit status after SIGTERM is 0 unless
// it crashed or a sanitizer found something in it.
class Simulator : public SimulatorProcess {
  public:
    ~Simulator() { EXPECT_EQ(Stop(), 0) << Log(); }
};

using Kind = Callback::Kind;

// One viewer connection: an engine and the listener that records its calls.
struct Viewer {
    RecordingListener listener;
    std::unique_ptr<CProtocolEngine> engine = std::make_unique<CProtocolEngine>(&listener);

    ~Viewer() { engine->Disconnect(); }

    bool Login(uint16_t port, int channel, ProtocolVariant variant,
               std::u16string_view password = u"admin") {
        if (!engine->Connect(u"127.0.0.1", port))
            return false;
        engine->SendLogin(u"admin", password, channel, variant);
        return true;
    }
};

std::vector<Callback> VideoOf(const std::vector<Callback>& calls) {
    std::vector<Callback> video;
    for (const Callback& c : calls) {
        if (c.kind == Kind::Video)
            video.push_back(c);
    }
    return video;
}

// Mean luma of the scene's middle (clear of the corner squares and the counter).
double SceneLuma(const sim::YuvPicture& p) {
    double sum = 0;
    int count = 0;
    for (int y = p.height / 5; y < p.height * 3 / 5; ++y) {
        for (int x = p.width / 4; x < p.width * 3 / 4; ++x, ++count)
            sum += p.Y()[y * p.width + x];
    }
    return sum / count;
}

struct DialectCase {
    const char* version;
    ProtocolVariant variant;
};

class SimulatorDialectTest : public ::testing::TestWithParam<DialectCase> {};

TEST_P(SimulatorDialectTest, LoginAcceptedStreamsTheAskedChannel) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--version", GetParam().version, "--channels", "6", "--fps", "50"}))
        << sim.Log();
    Viewer viewer;
    ASSERT_TRUE(viewer.Login(sim.Port(), 2, GetParam().variant));
    ASSERT_TRUE(viewer.listener.WaitForVideo(6)) << sim.Log();

    const std::vector<Callback> calls = viewer.listener.Calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls[0].kind, Kind::Event);
    EXPECT_EQ(calls[0].code, CServerNotify::EVENT_LOGIN_SUCCEEDED);
    ASSERT_EQ(calls[1].kind, Kind::Dvs);
    EXPECT_EQ(calls[1].dvs.ChannelCount(), 6);
    EXPECT_EQ(calls[2].code, CServerNotify::EVENT_LOGIN_SUCCEEDED);  // raised before each format
    ASSERT_EQ(calls[3].kind, Kind::Format);
    EXPECT_EQ(calls[3].format.Width(), 352);
    EXPECT_EQ(calls[3].format.Height(), 288);
    EXPECT_EQ(calls[3].format.FramesPerSecond(), 50);
    EXPECT_EQ(calls[3].format.BitRate(), 512000u);
    ASSERT_EQ(calls[4].kind, Kind::Video);
    EXPECT_TRUE(calls[4].key);

    TestH264Decoder decoder;
    sim::YuvPicture picture;
    for (const Callback& frame : VideoOf(calls)) {
        EXPECT_LT(frame.bytes.size(), 65536u);
        ASSERT_TRUE(decoder.Decode(frame.bytes, picture));
        EXPECT_EQ(picture.width, 352);
        EXPECT_EQ(picture.height, 288);
        EXPECT_TRUE(CornersMatch(picture, 2));
    }
    EXPECT_TRUE(sim.WaitForLog("login accepted"));
}

INSTANTIATE_TEST_SUITE_P(BothDialects, SimulatorDialectTest,
                         ::testing::Values(DialectCase{"5", ProtocolVariant::Current},
                                           DialectCase{"3", ProtocolVariant::Legacy}),
                         [](const auto& info) {
                             return info.param.variant == ProtocolVariant::Current ? "Current"
                                                                                   : "Legacy";
                         });

TEST(SimulatorSessionTest, RefusedLoginsGetOnlyTheRefusal) {
    struct Case {
        std::vector<std::string> args;
        ProtocolVariant variant;
        std::u16string_view password;
        int channel;
        const char* logged;
    } cases[] = {
        {{}, ProtocolVariant::Current, u"wrong", 0, "wrong user or password (result 2)"},
        {{"--version", "3"}, ProtocolVariant::Legacy, u"", 0, "wrong user or password (result 2)"},
        {{}, ProtocolVariant::Current, u"admin", 4, "channel 4 not offered"},
        {{}, ProtocolVariant::Current, u"admin", -1, "channel -1 not offered"},
        {{"--version", "3", "--fault", "refuse-login", "--refuse-code", "7"},
         ProtocolVariant::Legacy,
         u"admin",
         0,
         "result 7 (fault refuse-login)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        Simulator sim;
        ASSERT_TRUE(sim.Start(c.args)) << sim.Log();
        Viewer viewer;
        ASSERT_TRUE(viewer.Login(sim.Port(), c.channel, c.variant, c.password));
        ASSERT_TRUE(viewer.listener.WaitUntil([](const auto& calls) { return !calls.empty(); }));
        viewer.engine->Disconnect();  // lets the rest of the answer packet be dispatched first
        const std::vector<Callback> calls = viewer.listener.Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].code, CServerNotify::EVENT_LOGIN_FAILED);
        EXPECT_TRUE(sim.WaitForLog(c.logged)) << sim.Log();
    }
}

TEST(SimulatorSessionTest, ViewerInTheOtherDialectIsToldToSwitch) {
    struct Case {
        const char* version;
        ProtocolVariant first;
        int event;
    } cases[] = {
        {"3", ProtocolVariant::Current, CServerNotify::EVENT_USE_LEGACY},
        {"7", ProtocolVariant::Legacy, CServerNotify::EVENT_USE_CURRENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        Simulator sim;
        ASSERT_TRUE(sim.Start({"--version", c.version})) << sim.Log();
        {
            Viewer wrong;
            ASSERT_TRUE(wrong.Login(sim.Port(), 0, c.first));
            ASSERT_TRUE(wrong.listener.WaitUntil([](const auto& calls) { return !calls.empty(); }));
            wrong.engine->Disconnect();
            const std::vector<Callback> calls = wrong.listener.Calls();
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].code, c.event);
        }
        // As the viewer does: a new connection in the dialect announced.
        const ProtocolVariant other = c.first == ProtocolVariant::Current
                                          ? ProtocolVariant::Legacy
                                          : ProtocolVariant::Current;
        Viewer right;
        ASSERT_TRUE(right.Login(sim.Port(), 0, other));
        ASSERT_TRUE(right.listener.WaitForVideo(1)) << sim.Log();
        EXPECT_EQ(right.listener.Calls()[0].code, CServerNotify::EVENT_LOGIN_SUCCEEDED);
    }
}

TEST(SimulatorSessionTest, PtzIsLoggedAndIrisDarkensTheSceneButNotTheCorners) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--fps", "50"})) << sim.Log();
    Viewer viewer;
    ASSERT_TRUE(viewer.Login(sim.Port(), 1, ProtocolVariant::Current));
    ASSERT_TRUE(viewer.listener.WaitForVideo(3)) << sim.Log();
    const size_t before = VideoOf(viewer.listener.Calls()).size();

    viewer.engine->SendPtz(1, wire::kPtzIrisSub);
    ASSERT_TRUE(sim.WaitForLog("ptz: channel 1, command iris - (14)")) << sim.Log();
    // 0.03 less brightness per frame: the floor of 0.2 is reached after 27 frames.
    ASSERT_TRUE(viewer.listener.WaitForVideo(int(before) + 40)) << sim.Log();
    viewer.engine->SendPtz(1, wire::kPtzStop);
    ASSERT_TRUE(sim.WaitForLog("ptz: channel 1, command stop (0)")) << sim.Log();

    TestH264Decoder decoder;
    sim::YuvPicture picture;
    double lumaBefore = 0;
    const std::vector<Callback> video = VideoOf(viewer.listener.Calls());
    for (size_t i = 0; i < video.size(); ++i) {
        ASSERT_TRUE(decoder.Decode(video[i].bytes, picture));
        if (i + 1 == before)
            lumaBefore = SceneLuma(picture);
    }
    EXPECT_LT(SceneLuma(picture), lumaBefore * 0.6);
    EXPECT_TRUE(CornersMatch(picture, 1));
}

TEST(SimulatorSessionTest, LegacyChannelSwitchSendsNewFormatThenKeyFrameOfTheNewChannel) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--version", "3", "--fps", "50", "--gop", "200"})) << sim.Log();
    Viewer viewer;
    ASSERT_TRUE(viewer.Login(sim.Port(), 0, ProtocolVariant::Legacy));
    ASSERT_TRUE(viewer.listener.WaitForVideo(3)) << sim.Log();
    viewer.engine->SendChannel(0, 3);
    ASSERT_TRUE(viewer.listener.WaitForVideo(3, 2)) << sim.Log();
    EXPECT_TRUE(sim.WaitForLog("channel switch 0 -> 3"));
    // The legacy PTZ record names the channel counted from 0.
    viewer.engine->SendPtz(3, wire::kPtzLeft);
    EXPECT_TRUE(sim.WaitForLog("ptz: channel 3, command left (11)")) << sim.Log();
    EXPECT_EQ(sim.CountLog("not the channel streamed"), 0) << sim.Log();

    TestH264Decoder decoder;
    sim::YuvPicture picture;
    int formats = 0;
    bool firstAfterSwitch = false;
    for (const Callback& c : viewer.listener.Calls()) {
        if (c.kind == Kind::Format) {
            ++formats;
            firstAfterSwitch = formats == 2;
            EXPECT_EQ(c.format.Width(), 352);
        }
        if (c.kind != Kind::Video)
            continue;
        if (firstAfterSwitch) {
            EXPECT_TRUE(c.key) << "the new channel starts with a key frame";
        }
        firstAfterSwitch = false;
        ASSERT_TRUE(decoder.Decode(c.bytes, picture));
        EXPECT_TRUE(CornersMatch(picture, formats == 2 ? 3 : 0)) << "after format " << formats;
    }
    EXPECT_EQ(formats, 2);
}

TEST(SimulatorSessionTest, SeveralViewersAreServedIndependently) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--fps", "50"})) << sim.Log();
    Viewer first, second;
    ASSERT_TRUE(first.Login(sim.Port(), 0, ProtocolVariant::Current));
    ASSERT_TRUE(second.Login(sim.Port(), 3, ProtocolVariant::Current));
    ASSERT_TRUE(first.listener.WaitForVideo(3)) << sim.Log();
    ASSERT_TRUE(second.listener.WaitForVideo(3)) << sim.Log();
    first.engine->Disconnect();  // one leaving does not disturb the other
    const size_t seen = VideoOf(second.listener.Calls()).size();
    ASSERT_TRUE(second.listener.WaitForVideo(int(seen) + 3)) << sim.Log();

    for (auto [viewer, channel] : {std::pair{&first, 0}, std::pair{&second, 3}}) {
        TestH264Decoder decoder;
        sim::YuvPicture picture;
        ASSERT_TRUE(decoder.Decode(VideoOf(viewer->listener.Calls()).front().bytes, picture));
        EXPECT_TRUE(CornersMatch(picture, channel));
    }
}

TEST(SimulatorSessionTest, SignalEndsTheRunWithASummary) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--fps", "50"})) << sim.Log();
    {
        Viewer viewer;
        ASSERT_TRUE(viewer.Login(sim.Port(), 0, ProtocolVariant::Current));
        ASSERT_TRUE(viewer.listener.WaitForVideo(2)) << sim.Log();
        viewer.engine->SendPtz(0, wire::kPtzLeft);
        viewer.engine->SendPtz(0, wire::kPtzStop);
        ASSERT_TRUE(sim.WaitForLog("command stop")) << sim.Log();
    }
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.CountLog("summary: connections=1 logins=1 refused=0 frames="), 1) << sim.Log();
    EXPECT_EQ(sim.CountLog(" ptz=2 "), 1) << sim.Log();
    EXPECT_EQ(sim.CountLog(" oversize_frames=0 "), 1) << sim.Log();
}

}  // namespace
}  // namespace kavrel::test
