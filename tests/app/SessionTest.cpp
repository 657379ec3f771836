// The session controller against a scripted loopback server: the exact bytes
// the viewer sends, what each answer shows, the timers, and that nothing from
// a closed connection lands.

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/SessionRecording.h"
#include "app/StreamStatistics.h"
#include "settings/ui/CSetDialog.h"
#include "settings/ui/SetDialogHook.h"
#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "tests/app/LoopbackServer.h"
#include "tests/app/SessionFixture.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/TestPorts.h"
#include "tests/video/RecordingSink.h"

namespace kavrel {
namespace {

using test::LoopbackServer;
using Bytes = std::vector<uint8_t>;

const StreamFormatInfo kFormat = StreamFormatInfo::Make(352, 288, 25, 512000);

// One packet of the server's records, sequence 0 (the viewer ignores it).
Bytes ServerPacket(std::initializer_list<std::pair<uint16_t, Bytes>> records) {
    wire::PacketBuilder packet(0);
    for (const auto& [type, payload] : records)
        packet.Add(type, payload);
    return packet.Bytes();
}

Bytes Version(uint16_t version) {
    return {uint8_t(version), uint8_t(version >> 8), 0, 0};
}

Bytes LoginAnswer(uint16_t version, uint16_t result) {
    return ServerPacket({{wire::kVersionInfo, Version(version)},
                         {wire::kLoginAnswer, {uint8_t(result), uint8_t(result >> 8), 0, 0}}});
}

Bytes FormatPacket(const StreamFormatInfo& format) {
    return ServerPacket(
        {{wire::kStreamFormatInfo, Bytes(format.bytes.begin(), format.bytes.end())}});
}

// The 20-byte PTZ packet of Part "wire format": sequence, channel byte, code.
Bytes PtzPacket(uint8_t sequence, uint8_t channelByte, uint8_t code) {
    return {0, 0, 0, 16, sequence, 0, 0, 0, 51, 0, 8, 0, 1, 0, 0, 0, channelByte, code, 0, 0};
}

Bytes ChannelPacket(uint8_t sequence, uint8_t left, uint8_t wanted) {
    return {0, 0, 0, 16, sequence, 0, 0, 0, 64, 0, 8, 0, 0, 0, 0, 0, left, wanted, 0, 0};
}

// The decode threads of this process, by the name each gives itself.
int DecodeThreads() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "kavrel-decode")
            ++count;
    }
    return count;
}

class SessionTest : public test::SessionFixture {
  protected:
    // Play against `server` and let it accept the login in `variant` on channel 0.
    void PlayAndLogIn(LoopbackServer& server, ProtocolVariant variant) {
        MakeSessionWindow(server.Port());
        m_window->SetVariant(variant);
        m_window->OnCommand(control::kPlay);
        ASSERT_TRUE(WaitForPackets(server, 0, 1));
        const uint16_t version = variant == ProtocolVariant::Current ? 5 : 3;
        ASSERT_TRUE(server.Send(0, LoginAnswer(version, 1)));
        ASSERT_TRUE(server.Send(0, FormatPacket(kFormat)));
        ASSERT_TRUE(WaitForStatus("CH=1,FPS=25,Size=352x288,Rate=512kb"));
    }
    void PlayAndLogIn(ProtocolVariant variant = ProtocolVariant::Current) {
        PlayAndLogIn(m_server, variant);
    }
    // Waits with the event loop running: the login and every request leave
    // from this thread, after the posted outcome of the connect.
    static bool WaitForPackets(const LoopbackServer& server, int index, size_t count) {
        return WaitFor([&] { return server.Packets(index).size() >= count; });
    }
    // Simulates the receive thread delivering `call`.
    static void OnReceiveThread(const std::function<void()>& call) { std::thread(call).join(); }

    LoopbackServer m_server;
};

TEST(StreamStatisticsLine, FormatsWhatTheServerAnnounced) {
    struct Case {
        int channel;
        StreamFormatInfo format;
        StatisticsSeparator separator;
        const char* line;
    } cases[] = {
        {0, kFormat, StatisticsSeparator::AfterStreamFormat, "CH=1,FPS=25,Size=352x288,Rate=512kb"},
        {0, kFormat, StatisticsSeparator::AfterTimer, "CH=1,FPS=25,Size=352*288,Rate=512kb"},
        {3, StreamFormatInfo::Make(2, 4, 1, 1999), StatisticsSeparator::AfterStreamFormat,
         "CH=4,FPS=1,Size=2x4,Rate=1kb"},
        {31, StreamFormatInfo::Make(65535, 65535, 255, 4294967295u),
         StatisticsSeparator::AfterTimer, "CH=32,FPS=255,Size=65535*65535,Rate=4294967kb"},
        {0, StreamFormatInfo{}, StatisticsSeparator::AfterTimer, "CH=1,FPS=0,Size=0*0,Rate=0kb"},
        {2147483647, kFormat, StatisticsSeparator::AfterTimer,
         "CH=2147483648,FPS=25,Size=352*288,Rate=512kb"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StreamStatisticsLine(c.channel, c.format, c.separator), c.line);
    // A stream that names its codec shows it where the channel stands.
    EXPECT_EQ(StreamStatisticsLine(0, kFormat, StatisticsSeparator::AfterTimer, VideoCodec::kH265),
              "H.265,FPS=25,Size=352*288,Rate=512kb");
}

TEST_F(SessionTest, PlayShowsEachStepOfTheLoginAndTheStatisticsLine) {
    MakeSessionWindow(m_server.Port());
    m_window->OnCommand(control::kPlay);
    // The Stop face at the press: the connect goes on off this thread.
    EXPECT_TRUE(m_window->PlayFaceActive());
    EXPECT_EQ(m_window->Button(control::kPlay)->bitmapId(), bitmap::kPlayActive);
    ASSERT_TRUE(WaitForStatus(Text(u"login_server")));
    EXPECT_EQ(m_statuses, (std::vector<QString>{Text(u"connect_begin"), Text(u"login_server")}));
    EXPECT_TRUE(m_window->Timers().IsArmed(SessionTimers::kLoginTimeout));

    ASSERT_TRUE(WaitForPackets(m_server, 0, 1));
    const Bytes login = m_server.Packets(0)[0];
    ASSERT_EQ(login.size(), 88u);  // the Current login, sequence 0
    EXPECT_EQ(login[4], 0);

    ASSERT_TRUE(m_server.Send(0, LoginAnswer(5, 1)));
    ASSERT_TRUE(m_server.Send(0, FormatPacket(kFormat)));
    ASSERT_TRUE(WaitForStatus("CH=1,FPS=25,Size=352x288,Rate=512kb"));
    // The stream format raises "login succeeded" once more just before it.
    EXPECT_EQ(StatusesFrom(2), (std::vector<QString>{Text(u"login_succeed"), Text(u"login_succeed"),
                                                     "CH=1,FPS=25,Size=352x288,Rate=512kb"}));
    EXPECT_FALSE(m_window->Timers().IsArmed(SessionTimers::kLoginTimeout));
    EXPECT_EQ(m_window->lastStreamFormat().bytes, kFormat.bytes);
}

TEST_F(SessionTest, UnreachablePortShowsConnectFailedThenCountsDownUntilStop) {
    const test::RefusingPort refusing;
    MakeSessionWindow(refusing.Port());
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForStatus(Text(u"connect_failed")));
    EXPECT_EQ(StatusesFrom(0),
              (std::vector<QString>{Text(u"connect_begin"), Text(u"connect_failed"),
                                    "Reconnecting in 1 s (attempt 1)"}));
    EXPECT_TRUE(m_window->PlayFaceActive());
    EXPECT_TRUE(m_window->Session().RetryPending());
    EXPECT_FALSE(m_window->Timers().IsArmed(SessionTimers::kLoginTimeout));

    m_window->OnCommand(control::kPlay);
    EXPECT_FALSE(m_window->PlayFaceActive());
    EXPECT_FALSE(m_window->Session().RetryPending());
    EXPECT_FALSE(m_window->HasSource());
}

TEST_F(SessionTest, OnlyTheSessionsOwnRetriesAnnounceThatTheServerAnswers) {
    MakeSessionWindow(m_server.Port());
    ViewingSession& session = m_window->Session();
    ReconnectPolicy slow;
    slow.steps = {std::chrono::hours(1)};
    session.SetReconnectPolicy(slow);
    int announced = 0;
    QObject::connect(&session, &ViewingSession::serverAnswered, [&announced] { ++announced; });
    // Logs in on connection `index`, then loses it; what it announced meanwhile.
    const auto logInAndLose = [&](int index) {
        const int before = announced;
        EXPECT_TRUE(WaitForPackets(m_server, index, 1));
        EXPECT_TRUE(m_server.Send(index, LoginAnswer(5, 1)));
        EXPECT_TRUE(WaitForStatus(Text(u"login_succeed"), index + 1));
        m_server.CloseConnection(index);
        EXPECT_TRUE(WaitFor([&] { return session.RetryPending(); }));
        return announced - before;
    };
    m_window->OnCommand(control::kPlay);
    EXPECT_GE(logInAndLose(0), 1);
    // Woken: a server that drops every login must not set its sessions
    // waking each other without a back-off.
    session.RetryNow();
    EXPECT_FALSE(session.RetryPending());
    EXPECT_EQ(logInAndLose(1), 0);
    // The session's own next retry announces again.
    slow.steps = {std::chrono::milliseconds(50)};
    session.SetReconnectPolicy(slow);
    session.RetryNow();
    EXPECT_EQ(logInAndLose(2), 0);
    EXPECT_GE(logInAndLose(3), 1);
}

TEST_F(SessionTest, StopDuringAConnectEndsItAtOnce) {
    // The connect would wait for an hour; only Stop can end it.
    const test::BlackholePort blackhole;
    MakeSessionWindow(blackhole.Port());
    m_window->SetConnectTimeout(std::chrono::hours(1));
    m_window->OnCommand(control::kPlay);
    EXPECT_EQ(m_statuses, std::vector<QString>{Text(u"connect_begin")});
    EXPECT_TRUE(m_window->PlayFaceActive());
    m_window->OnCommand(control::kPlay);
    EXPECT_FALSE(m_window->PlayFaceActive());
    EXPECT_FALSE(m_window->HasSource());
    EXPECT_EQ(m_statuses.back(), Text(u"connect_break"));
}

TEST_F(SessionTest, PlayWithoutAddressOrPortDoesNothing) {
    WriteConfig();
    MakeWindow();
    m_window->OnCommand(control::kPlay);
    EXPECT_FALSE(m_window->HasSource());
    EXPECT_FALSE(m_window->PlayFaceActive());
}

TEST_F(SessionTest, StoppingWhileLoggingInCancelsTheLoginTimeout) {
    MakeSessionWindow(m_server.Port());
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitFor([&] { return m_window->Timers().IsArmed(SessionTimers::kLoginTimeout); }));
    m_window->OnCommand(control::kPlay);
    EXPECT_EQ(m_statuses.back(), Text(u"connect_break"));
    EXPECT_FALSE(m_window->PlayFaceActive());
    // The design left the time-out running, and ten seconds later it started
    // the session again by itself.
    EXPECT_FALSE(m_window->Timers().IsArmed(SessionTimers::kLoginTimeout));
    EXPECT_TRUE(WaitFor([&] { return m_server.IsClosed(0); }));
}

TEST_F(SessionTest, PtzSendsStopCommandAndTheAutomaticStopInBothDialects) {
    for (ProtocolVariant variant : {ProtocolVariant::Current, ProtocolVariant::Legacy}) {
        SCOPED_TRACE(int(variant));
        LoopbackServer server;
        m_statuses.clear();
        PlayAndLogIn(server, variant);
        m_window->Timers().SetInterval(SessionTimers::kPtzStop, std::chrono::milliseconds(50));
        const uint8_t channelByte = variant == ProtocolVariant::Current ? 1 : 0;

        m_window->OnCommand(control::kPtzLeft);
        EXPECT_EQ(m_statuses.back(), Text(u"ptz_left"));
        ASSERT_TRUE(WaitFor([&] { return server.Packets(0).size() >= 4; }));
        const std::vector<Bytes> packets = server.Packets(0);
        EXPECT_EQ(packets[1], PtzPacket(1, channelByte, wire::kPtzStop));
        EXPECT_EQ(packets[2], PtzPacket(2, channelByte, wire::kPtzLeft));
        EXPECT_EQ(packets[3], PtzPacket(3, channelByte, wire::kPtzStop));
        ASSERT_TRUE(WaitForStatus("CH=1,FPS=25,Size=352*288,Rate=512kb"));
        m_window.reset();
    }
}

TEST_F(SessionTest, EachPtzPressSendsStopAndItsCommandAndArmsTheAutoStop) {
    PlayAndLogIn();
    const std::pair<int, uint8_t> presses[] = {
        {209, 11}, {210, 12}, {211, 9},  {212, 10}, {213, 6},
        {214, 5},  {215, 13}, {216, 14}, {217, 7},  {218, 8},
    };
    uint8_t sequence = 1;
    for (const auto& [id, code] : presses) {
        m_window->OnCommand(id);
        EXPECT_TRUE(m_window->Timers().IsArmed(SessionTimers::kPtzStop));
        ASSERT_TRUE(WaitForPackets(m_server, 0, sequence + 2u));
        const std::vector<Bytes> packets = m_server.Packets(0);
        EXPECT_EQ(packets[sequence], PtzPacket(sequence, 1, 0)) << id;
        EXPECT_EQ(packets[sequence + 1u], PtzPacket(uint8_t(sequence + 1), 1, code)) << id;
        sequence = uint8_t(sequence + 2);
    }
}

TEST_F(SessionTest, PtzWithoutAConnectionOnlyShowsItsText) {
    MakeSessionWindow(m_server.Port());
    m_window->OnCommand(control::kPtzZoomIn);
    EXPECT_EQ(m_statuses, std::vector<QString>{Text(u"ptz_zoom_in")});
    EXPECT_FALSE(m_window->Timers().IsArmed(SessionTimers::kPtzStop));
}

TEST_F(SessionTest, LegacyChannelChangeKeepsTheConnection) {
    PlayAndLogIn(ProtocolVariant::Legacy);
    m_window->OnCommand(control::kFirstChannel + 1);
    EXPECT_EQ(m_statuses.back(), Text(u"change_channel") + " 2");
    EXPECT_EQ(m_window->currentChannel(), 1);
    ASSERT_TRUE(WaitForPackets(m_server, 0, 2));
    EXPECT_EQ(m_server.Packets(0)[1], ChannelPacket(1, 0, 1));
    EXPECT_EQ(m_server.Connections(), 1);
}

TEST_F(SessionTest, CurrentChannelChangeReconnectsOnTheNewChannel) {
    PlayAndLogIn(ProtocolVariant::Current);
    m_window->OnCommand(control::kFirstChannel + 2);
    EXPECT_EQ(m_window->currentChannel(), 2);
    EXPECT_TRUE(m_window->PlayFaceActive());
    ASSERT_TRUE(WaitForPackets(m_server, 1, 1));
    const Bytes login = m_server.Packets(1)[0];
    ASSERT_EQ(login.size(), 88u);
    EXPECT_EQ(wire::ReadU32(login.data() + 20 + 60), 1u << 2);  // the channel mask
    EXPECT_TRUE(WaitFor([&] { return m_server.IsClosed(0); }));
}

TEST_F(SessionTest, ChannelChangeIgnoresTheChannelViewedAndChannelsTheServerLacks) {
    PlayAndLogIn(ProtocolVariant::Legacy);
    OnReceiveThread([&] { m_window->Session().OnChannelCount(4); });
    ASSERT_TRUE(WaitFor([&] { return m_window->channelCount() == 4; }));
    m_window->OnCommand(control::kFirstChannel);      // channel 1: the one viewed
    m_window->OnCommand(control::kFirstChannel + 4);  // channel 5 of 4
    EXPECT_EQ(m_window->currentChannel(), 0);
    m_window->OnCommand(control::kFirstChannel + 3);  // channel 4: sent
    ASSERT_TRUE(WaitForPackets(m_server, 0, 2));
    EXPECT_EQ(m_server.Packets(0)[1], ChannelPacket(1, 0, 3));
}

TEST_F(SessionTest, AnnouncedVersionSwitchesTheDialectOnTheSameChannel) {
    struct Case {
        ProtocolVariant first;
        uint16_t announced;
        size_t secondLoginSize;
    } cases[] = {{ProtocolVariant::Current, 3, 76}, {ProtocolVariant::Legacy, 5, 88}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.announced);
        LoopbackServer server;
        MakeSessionWindow(server.Port(), 2);
        m_window->SetVariant(c.first);
        m_window->OnCommand(control::kPlay);
        ASSERT_TRUE(WaitForPackets(server, 0, 1));
        ASSERT_TRUE(server.Send(0, ServerPacket({{wire::kVersionInfo, Version(c.announced)}})));
        ASSERT_TRUE(WaitFor([&] { return server.Connections() == 2; }));
        ASSERT_TRUE(WaitForPackets(server, 1, 1));
        const Bytes login = server.Packets(1)[0];
        ASSERT_EQ(login.size(), c.secondLoginSize);
        if (c.announced < 5) {
            EXPECT_EQ(login[20 + 53], 2);  // the Legacy channel byte
            EXPECT_EQ(m_window->variant(), ProtocolVariant::Legacy);
        } else {
            EXPECT_EQ(wire::ReadU32(login.data() + 20 + 60), 1u << 2);
            EXPECT_EQ(m_window->variant(), ProtocolVariant::Current);
        }
        EXPECT_TRUE(WaitFor([&] { return server.IsClosed(0); }));
        EXPECT_TRUE(m_window->PlayFaceActive());
        m_window.reset();
    }
}

TEST_F(SessionTest, NothingPostedByAClosedConnectionLands) {
    MakeSessionWindow(m_server.Port());
    OnReceiveThread([&] {
        m_window->Session().OnSourceEvent(SourceEvent::kLoginSucceeded);
        m_window->Session().OnStreamFormat(kFormat, VideoCodec::kUnknown);
        m_window->Session().OnChannelCount(0);
        const uint8_t frame[4] = {0, 0, 0, 1};
        m_window->Session().OnFrame(frame, 4, true, std::chrono::steady_clock::now());
    });
    m_window->Session().Stop();
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_statuses.empty());
    EXPECT_FALSE(m_window->PlayFaceActive());
    EXPECT_FALSE(m_window->videoReceived());
    EXPECT_EQ(m_window->channelCount(), 32);
    EXPECT_EQ(m_window->lastStreamFormat().bytes, StreamFormatInfo{}.bytes);
    EXPECT_FALSE(m_window->Timers().IsArmed(SessionTimers::kVideoWatchdog));
}

TEST_F(SessionTest, ALostConnectionsDecodeThreadEndsBeforeTheWindowHearsOfTheLoss) {
    const int idle = DecodeThreads();
    PlayAndLogIn();
    ASSERT_TRUE(test::WaitUntil([&] { return DecodeThreads() == idle + 1; }));
    // No events run while the server goes: only the receive thread knows.
    m_server.CloseConnection(0);
    EXPECT_TRUE(test::WaitUntil([&] { return DecodeThreads() == idle; }));
    EXPECT_TRUE(WaitForStatus(Text(u"connect_break")));
}

TEST_F(SessionTest, VideoDataQueuesTheFrameSetsTheFlagAndArmsTheWatchdog) {
    MakeSessionWindow(m_server.Port());
    test::DebugCapture debug;
    const Bytes frame(1000, 0);
    OnReceiveThread([&] {
        m_window->Session().OnFrame(frame.data(), 1000, true, std::chrono::steady_clock::now());
    });
    EXPECT_TRUE(debug.Contains("CH=1,1--1000"));
    EXPECT_EQ(m_window->VideoWindow()->Pipeline().QueuedFrames(), 1u);
    ASSERT_TRUE(WaitFor([&] { return m_window->videoReceived(); }));
    EXPECT_TRUE(m_window->Timers().IsArmed(SessionTimers::kVideoWatchdog));
}

TEST_F(SessionTest, AFrameIsCopiedOnceForTheDecoderAndTheKeptFrames) {
    MakeSessionWindow(m_server.Port());
    const Bytes key(1000, 1), next(500, 2);
    OnReceiveThread([&] {
        m_window->Session().OnFrame(key.data(), int(key.size()), true,
                                    std::chrono::steady_clock::now());
        m_window->Session().OnFrame(next.data(), int(next.size()), false,
                                    std::chrono::steady_clock::now());
    });
    std::vector<const uint8_t*> kept;
    m_window->Session().Recording().ForEachKeptFrame(
        [&kept](const SharedFrameBytes& bytes, bool, auto) { kept.push_back(bytes.data.get()); });
    ASSERT_EQ(kept.size(), 2u);
    for (size_t index = 0; index < kept.size(); ++index)
        EXPECT_EQ(kept[index], m_window->VideoWindow()->Pipeline().QueuedBytes(index)) << index;
}

TEST_F(SessionTest, ServerInformationHidesOnlyTheChannelsItLacks) {
    struct Case {
        int count;
        int visibleBelow;  // buttons below this index show (the first page at most)
    } cases[] = {{0, 0}, {2, 2}, {4, 4}, {5, 4}, {32, 4}, {255, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        MakeSessionWindow(m_server.Port());
        OnReceiveThread([&] { m_window->Session().OnChannelCount(uint8_t(c.count)); });
        ASSERT_TRUE(WaitFor([&] { return m_window->channelCount() == c.count; }));
        for (int index = 0; index < control::kChannelButtons; ++index)
            EXPECT_EQ(!m_window->ChannelButton(index)->isHidden(), index < c.visibleBelow) << index;
        m_window.reset();
    }
}

TEST_F(SessionTest, ACountThatHidesThePageShownTurnsToTheFirstPage) {
    MakeSessionWindow(m_server.Port());
    m_window->OnCommand(control::kSwitch);
    m_window->OnCommand(control::kSwitch);  // channels 9 to 12
    OnReceiveThread([&] { m_window->Session().OnChannelCount(6); });
    ASSERT_TRUE(WaitFor([&] { return m_window->channelCount() == 6; }));
    EXPECT_EQ(m_window->ChannelPage(), 0);
    for (int index = 0; index < control::kChannelButtons; ++index)
        EXPECT_EQ(!m_window->ChannelButton(index)->isHidden(), index < 4) << index;
    m_window->OnCommand(control::kSwitch);  // Switch finds the page again
    EXPECT_EQ(m_window->ChannelPage(), 4);
    EXPECT_FALSE(m_window->ChannelButton(5)->isHidden());
    EXPECT_TRUE(m_window->ChannelButton(6)->isHidden());
}

// Every control's rectangle and visibility, to compare before and after.
std::vector<std::pair<QRect, bool>> Snapshot(const COrvaneDlg& window) {
    std::vector<std::pair<QRect, bool>> state;
    for (const QObject* child : window.children()) {
        if (const auto* widget = qobject_cast<const QWidget*>(child))
            state.emplace_back(widget->geometry(), widget->isHidden());
    }
    return state;
}

TEST_F(SessionTest, FullScreenNeedsVideoToEnterButNeverToLeave) {
    for (bool secondPage : {false, true}) {
        SCOPED_TRACE(secondPage);
        MakeSessionWindow(m_server.Port());
        if (secondPage)
            m_window->OnCommand(control::kSwitch);
        const auto before = Snapshot(*m_window);

        m_window->OnCommand(control::kFullScreen);  // no video yet
        EXPECT_FALSE(m_window->IsFullScreen());

        const uint8_t frame[4] = {0, 0, 0, 1};
        OnReceiveThread(
            [&] { m_window->Session().OnFrame(frame, 4, true, std::chrono::steady_clock::now()); });
        ASSERT_TRUE(WaitFor([&] { return m_window->videoReceived(); }));
        m_window->OnCommand(control::kFullScreen);
        ASSERT_TRUE(m_window->IsFullScreen());
        EXPECT_TRUE(m_window->VideoWindow()->IsFullScreen());
        EXPECT_EQ(m_window->VideoWindow()->geometry(), m_window->rect());
        for (int id = control::kTitleExit; id <= control::kLastPtz; ++id) {
            if (id != control::kTitleLabel) {
                EXPECT_TRUE(m_window->Button(id)->isHidden()) << id;
            }
        }
        EXPECT_TRUE(m_window->TitleLabel()->isHidden());
        EXPECT_TRUE(m_window->StatusLine()->isHidden());
        for (int index = 0; index < control::kChannelButtons; ++index) {
            EXPECT_EQ(m_window->ChannelButton(index)->geometry(), QRect(1000, 1000, 0, 0));
            EXPECT_EQ(m_window->ChannelButton(index)->isHidden(),
                      index / 4 != (secondPage ? 1 : 0));
        }

        // The connection drops in full screen: a tap still brings the buttons back.
        m_window->Session().Stop();
        QTest::mouseClick(m_window->VideoWindow(), Qt::LeftButton);
        EXPECT_FALSE(m_window->IsFullScreen());
        EXPECT_FALSE(m_window->VideoWindow()->IsFullScreen());
        EXPECT_EQ(Snapshot(*m_window), before);

        // A tap on the video window in the normal view does nothing.
        QTest::mouseClick(m_window->VideoWindow(), Qt::LeftButton);
        EXPECT_FALSE(m_window->IsFullScreen());
        m_window.reset();
    }
}

TEST_F(SessionTest, TapOnTheWindowItselfLeavesFullScreen) {
    MakeSessionWindow(m_server.Port());
    const auto before = Snapshot(*m_window);
    const uint8_t frame[4] = {0, 0, 0, 1};
    OnReceiveThread(
        [&] { m_window->Session().OnFrame(frame, 4, true, std::chrono::steady_clock::now()); });
    ASSERT_TRUE(WaitFor([&] { return m_window->videoReceived(); }));
    m_window->OnCommand(control::kFullScreen);
    ASSERT_TRUE(m_window->IsFullScreen());
    QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(m_window->IsFullScreen());
    EXPECT_EQ(Snapshot(*m_window), before);
}

TEST_F(SessionTest, CaptureWithNoPictureShownFailsAtOnce) {
    MakeSessionWindow(m_server.Port());
    test::DebugCapture debug;
    m_window->OnCommand(control::kCapture);
    EXPECT_TRUE(debug.Contains("Capture\n"));
    EXPECT_EQ(m_statuses, std::vector<QString>{Text(u"capture_failed")});
    EXPECT_FALSE(m_window->VideoWindow()->Pipeline().SnapshotPending());
}

// Shows the window with a picture received, so full screen may be entered.
void ShowWithVideo(COrvaneDlg& window) {
    window.show();
    const uint8_t frame[4] = {0, 0, 0, 1};
    std::thread([&] {
        window.Session().OnFrame(frame, 4, true, std::chrono::steady_clock::now());
    }).join();
}

TEST_F(SessionTest, FullScreenCoversItsMonitorTurnsOnlyOnAPortraitOneAndGivesTheWindowBack) {
    MakeSessionWindow(m_server.Port());
    ShowWithVideo(*m_window);
    ASSERT_TRUE(WaitFor([&] { return m_window->videoReceived(); }));
    for (QScreen* monitor : QGuiApplication::screens()) {
        for (const QSize size : {QSize(960, 1280), QSize(1280, 720)}) {
            SCOPED_TRACE(monitor->name().toStdString() + " " + std::to_string(size.width()));
            const QRect placed(monitor->geometry().topLeft() + QPoint(40, 30), size);
            m_window->setGeometry(placed);
            ASSERT_TRUE(WaitFor([&] { return m_window->screen() == monitor; }));
            m_window->OnCommand(control::kSwitch);  // a page other than the first
            const auto before = Snapshot(*m_window);

            QTest::keyClick(m_window.get(), Qt::Key_F);
            ASSERT_TRUE(m_window->IsFullScreen());
            EXPECT_EQ(m_window->geometry(), monitor->geometry());
            EXPECT_EQ(m_window->VideoWindow()->geometry(), m_window->rect());
            const bool portrait = monitor->geometry().height() > monitor->geometry().width();
            EXPECT_EQ(m_window->VideoWindow()->Pipeline().IsFullScreen(), portrait);

            QTest::keyClick(m_window.get(), Qt::Key_Escape);
            EXPECT_FALSE(m_window->IsFullScreen());
            EXPECT_EQ(m_window->geometry(), placed);
            EXPECT_EQ(Snapshot(*m_window), before);
        }
    }
    // A double-click on the video enters; in full screen its first press leaves
    // and the double-click does not enter again.
    QTest::mouseDClick(m_window->VideoWindow(), Qt::LeftButton);
    EXPECT_TRUE(m_window->IsFullScreen());
    QTest::mouseDClick(m_window->VideoWindow(), Qt::LeftButton);
    EXPECT_FALSE(m_window->IsFullScreen());
}

TEST_F(SessionTest, CameraKeysMoveWhileHeldAndStopOnRelease) {
    PlayAndLogIn();
    const std::pair<Qt::Key, uint8_t> keys[] = {
        {Qt::Key_Up, wire::kPtzUp},       {Qt::Key_Down, wire::kPtzDown},
        {Qt::Key_Left, wire::kPtzLeft},   {Qt::Key_Right, wire::kPtzRight},
        {Qt::Key_Plus, wire::kPtzZoomIn}, {Qt::Key_Minus, wire::kPtzZoomOut},
    };
    uint8_t sequence = 1;
    for (const auto& [key, code] : keys) {
        QTest::keyPress(m_window.get(), key);
        // Held: no automatic stop, and the key's repeats send nothing more.
        EXPECT_FALSE(m_window->Timers().IsArmed(SessionTimers::kPtzStop)) << key;
        QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(m_window.get(), &repeat);
        QKeyEvent repeatRelease(QEvent::KeyRelease, key, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(m_window.get(), &repeatRelease);
        QTest::keyRelease(m_window.get(), key);
        ASSERT_TRUE(WaitForPackets(m_server, 0, sequence + 3u));
        const std::vector<Bytes> packets = m_server.Packets(0);
        EXPECT_EQ(packets[sequence], PtzPacket(sequence, 1, wire::kPtzStop)) << key;
        EXPECT_EQ(packets[sequence + 1u], PtzPacket(uint8_t(sequence + 1), 1, code)) << key;
        EXPECT_EQ(packets[sequence + 2u], PtzPacket(uint8_t(sequence + 2), 1, wire::kPtzStop))
            << key;
        sequence = uint8_t(sequence + 3);
    }
    EXPECT_EQ(m_statuses.back(), "CH=1,FPS=25,Size=352*288,Rate=512kb");
}

TEST_F(SessionTest, KeysAndTheVideoMenuRunTheButtonsCommands) {
    PlayAndLogIn();
    COrvaneDlg& window = *m_window;
    auto key = [&](Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&window, k, modifiers);
    };
    OnReceiveThread([&] { window.Session().OnChannelCount(10); });
    ASSERT_TRUE(WaitFor([&] { return window.channelCount() == 10; }));

    // Digits choose channels 1 to 10, turning to their page.
    key(Qt::Key_6);
    EXPECT_EQ(window.currentChannel(), 5);
    EXPECT_EQ(window.ChannelPage(), 4);
    EXPECT_FALSE(window.ChannelButton(5)->isHidden());
    ASSERT_TRUE(WaitForPackets(m_server, 1, 1));  // the new channel's login
    key(Qt::Key_0);
    EXPECT_EQ(window.currentChannel(), 9);
    EXPECT_EQ(window.ChannelPage(), 8);
    EXPECT_TRUE(window.ChannelButton(10)->isHidden());  // the server lacks channel 11
    // Pages: PgDn is Switch, PgUp goes back round.
    key(Qt::Key_PageDown);
    EXPECT_EQ(window.ChannelPage(), 0);
    key(Qt::Key_PageUp);
    EXPECT_EQ(window.ChannelPage(), 8);
    key(Qt::Key_PageUp);
    EXPECT_EQ(window.ChannelPage(), 4);

    key(Qt::Key_Space);
    EXPECT_FALSE(window.PlayFaceActive());
    key(Qt::Key_S);
    EXPECT_EQ(m_statuses.back(), Text(u"capture_failed"));
    key(Qt::Key_A);  // from the default, keep aspect, to stretch
    EXPECT_FALSE(window.KeepAspect());
    EXPECT_FALSE(window.VideoWindow()->KeepAspect());

    int dialogs = 0;
    ScopedSetDialogHook hook([&](CSetDialog& dialog) {
        ++dialogs;
        dialog.reject();
    });
    key(Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(dialogs, 1);
    key(Qt::Key_Q, Qt::ControlModifier);  // the exit question, answered No
    key(Qt::Key_Escape);                  // the same out of full screen
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[0].text, Text(u"leave_text"));
    EXPECT_EQ(m_messages[1].text, Text(u"leave_text"));

    // The right-click menu: its entries in the window's language, each the
    // same command.
    std::unique_ptr<QMenu> menu(window.MakeVideoMenu());
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 14);  // with a separator before Settings
    EXPECT_TRUE(actions[0]->text().startsWith(Text(u"cmd_play") + "\t"));
    EXPECT_EQ(actions[1]->text(), Text(u"cmd_capture") + "\tS");
    EXPECT_EQ(actions[2]->text(), Text(u"cmd_capture_view"));
    EXPECT_EQ(actions[3]->text(), Text(u"cmd_reset_zoom") + "\tZ");
    EXPECT_FALSE(actions[3]->isEnabled());  // not zoomed
    EXPECT_TRUE(actions[4]->text().startsWith(Text(u"cmd_fullscreen")));
    EXPECT_FALSE(actions[5]->isChecked());  // stretch, as chosen above
    EXPECT_EQ(actions[6]->text(), Text(u"cmd_quad_view") + "\tG");
    EXPECT_FALSE(actions[6]->isChecked());
    EXPECT_EQ(actions[7]->text(), Text(u"cmd_layout") + "\tL");
    ASSERT_NE(actions[7]->menu(), nullptr);
    EXPECT_EQ(actions[7]->menu()->actions().size(), 5);
    EXPECT_TRUE(actions[7]->menu()->actions()[0]->isChecked());  // the single view
    EXPECT_EQ(actions[8]->text(), Text(u"cmd_statistics") + "\tI");
    ASSERT_NE(actions[9]->menu(), nullptr);  // saved views: nine, none saved yet
    EXPECT_FALSE(actions[9]->menu()->actions()[0]->isEnabled());
    EXPECT_EQ(actions[10]->text(), Text(u"cmd_tour") + "\tT");
    EXPECT_EQ(actions[11]->text(), Text(u"cmd_record") + "\tR");
    EXPECT_TRUE(actions[13]->text().startsWith(Text(u"cmd_set")));
    actions[5]->trigger();
    EXPECT_TRUE(window.KeepAspect());
    actions[0]->trigger();
    EXPECT_TRUE(window.PlayFaceActive());
    actions[13]->trigger();
    EXPECT_EQ(dialogs, 2);
    // A right click on the video opens it.
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10),
                            window.VideoWindow()->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(window.VideoWindow(), &click);
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(qobject_cast<QMenu*>(popup), nullptr);
    popup->close();
}

TEST_F(SessionTest, StartOptionsChooseTheChannelPressPlayAndGoFullScreenWithTheFirstPicture) {
    MakeSessionWindow(m_server.Port());
    CommandLine options;
    options.channel = 6;
    options.play = true;
    options.fullScreen = true;
    m_window->ApplyStartOptions(options);
    EXPECT_EQ(m_window->ChannelPage(), 4);
    EXPECT_FALSE(m_window->PlayFaceActive());  // pressed once the event loop runs
    ASSERT_TRUE(WaitForPackets(m_server, 0, 1));
    EXPECT_EQ(m_window->currentChannel(), 6);
    ASSERT_TRUE(m_server.Send(0, LoginAnswer(5, 1)));
    ASSERT_TRUE(m_server.Send(0, FormatPacket(kFormat)));
    EXPECT_FALSE(m_window->IsFullScreen());
    emit m_window->VideoWindow()->pictureShown();
    EXPECT_FALSE(m_window->IsFullScreen());  // no video yet: full screen waits
    ShowWithVideo(*m_window);
    ASSERT_TRUE(WaitFor([&] { return m_window->videoReceived(); }));
    emit m_window->VideoWindow()->pictureShown();
    EXPECT_TRUE(m_window->IsFullScreen());
}

}  // namespace
}  // namespace kavrel
