// The real main window, offscreen, against every fault mode of kavrel-sim,
// one table row per fault. For each: no crash, no hang (every wait has a
// deadline), the video pipeline's queue and picture buffers and the process's
// resident memory stay under bounds, and the session ends where it is meant
// to: the status line, the Play face, the engine and the timers.

#include <QCoreApplication>
#include <QImage>
#include <QSize>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "skin/CSkinButton.h"
#include "tests/app/SessionFixture.h"
#include "tests/reliability/ResidentMemory.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/SimulatorProcess.h"
#include "tools/sim/TestPattern.h"
#include "video/VideoPipeline.h"

namespace kavrel {
namespace {

using namespace std::chrono_literals;
using Lines = test::SimulatorProcess::Lines;

// Where a session against a faulty server ends up.
enum class Outcome {
    // "login_fail" and the idle face; the connection is left open, and no
    // timer runs that could start the session again.
    LoginRefused,
    // "connect_timeout" after the login time-out, and the viewer tries again
    // with the Stop face up; Play then stops it for good.
    LoginTimedOut,
    // Each connection breaks (the server hangs up or falls silent, or the
    // viewer ends a malformed stream); the viewer notices (the end of the
    // connection, or the watchdog), connects again every time, and pictures
    // come again. Play then stops it for good.
    Restarted,
    // The stream plays on its first connection.
    Viewing,
    // Every login after the first is told to use the other dialect: the
    // viewer follows three times in a row, then counts it as a failed connect
    // and tries again after a back-off; a Play press still stops it for good.
    DialectPingPong,
};

struct FaultCase {
    const char* name;
    std::vector<std::string> simArgs;
    Outcome outcome;
    // Restarted: the viewer itself ends each connection as malformed.
    bool viewerEndsConnection = false;
    // Every picture size that must be shown, and every statistics line that
    // must appear (Viewing; Restarted uses the first line).
    std::vector<QSize> pictureSizes = {QSize(352, 288)};
    std::vector<QString> statistics = {"CH=1,FPS=25,Size=352x288,Rate=512kb"};
};

void PrintTo(const FaultCase& fault, std::ostream* out) {
    *out << fault.name;
}

const FaultCase kFaults[] = {
    {"RefusedLogin", {"--fault", "refuse-login"}, Outcome::LoginRefused},
    {"NoLoginAnswer", {"--fault", "no-login-answer"}, Outcome::LoginTimedOut},
    {"CloseAfterFrames", {"--fault", "close", "--fault-frames", "10"}, Outcome::Restarted},
    {"Stall", {"--fault", "stall", "--fault-frames", "10"}, Outcome::Restarted},
    {.name = "Garbage",
     .simArgs = {"--fault", "garbage", "--fault-frames", "10"},
     .outcome = Outcome::Restarted,
     .viewerEndsConnection = true},
    {.name = "HeaderLengthBelowFour",
     .simArgs = {"--fault", "short-header", "--fault-frames", "10"},
     .outcome = Outcome::Restarted,
     .viewerEndsConnection = true},
    {.name = "OversizedPacket",
     .simArgs = {"--fault", "long-packet", "--fault-frames", "10"},
     .outcome = Outcome::Restarted,
     .viewerEndsConnection = true},
    // In the legacy dialect: the first login is told to switch, and the
    // legacy record types arrive a byte at a time.
    {"OneByteWritesLegacy", {"--fault", "one-byte-writes", "--version", "3"}, Outcome::Viewing},
    {"VersionFlipsOnEveryLogin", {"--fault", "flip-version"}, Outcome::DialectPingPong},
    {.name = "ResolutionChange",
     .simArgs = {"--fault", "resize", "--fault-frames", "10"},
     .outcome = Outcome::Viewing,
     .pictureSizes = {QSize(352, 288), QSize(704, 576)},
     .statistics = {"CH=1,FPS=25,Size=352x288,Rate=512kb", "CH=1,FPS=25,Size=704x576,Rate=512kb"}},
    // Announced 352 x 288: the buffers grow to the decoded size.
    {.name = "LargerThanAnnounced",
     .simArgs = {"--fault", "larger-picture"},
     .outcome = Outcome::Viewing,
     .pictureSizes = {QSize(704, 576)}},
    // Announced 65535 x 65535: only a capped reservation is made.
    {.name = "AbsurdAnnouncedSize",
     .simArgs = {"--fault", "absurd-size"},
     .outcome = Outcome::Viewing,
     .statistics = {"CH=1,FPS=25,Size=65535x65535,Rate=512kb"}},
};

// The decoder's picture buffers for the largest picture any row shows
// (704 x 576) or an announcement may reserve (1920 x 1088 capped), with room.
constexpr uint64_t kBufferBytesBound = uint64_t(16) << 20;
// Resident memory may grow this much over a row (measured on the 2-core
// build machine: at most 6 MB; under the sanitizers, which shadow memory and
// keep freed blocks in quarantine or history, at most 36 MB).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int64_t kResidentGrowthBoundKb = 160 * 1024;
#else
constexpr int64_t kResidentGrowthBoundKb = 48 * 1024;
#endif

// The 16-bit picture loses up to 7 levels per component on top of the codec.
constexpr int kPictureTolerance = sim::kCornerTolerance + 8;

bool ShowsChannel(const QImage& picture, int channel) {
    if (picture.isNull())
        return false;
    for (sim::Corner corner : {sim::Corner::TopLeft, sim::Corner::TopRight, sim::Corner::BottomLeft,
                               sim::Corner::BottomRight}) {
        const sim::Point at = sim::CornerSampleAt(picture.width(), picture.height(), corner);
        const QRgb pixel = picture.pixel(at.x, at.y);
        const sim::Rgb seen{uint8_t(qRed(pixel)), uint8_t(qGreen(pixel)), uint8_t(qBlue(pixel))};
        if (!sim::ColourNear(seen, sim::CornerColour(channel, corner), kPictureTolerance))
            return false;
    }
    return true;
}

class FaultMatrixTest : public test::SessionFixture, public testing::WithParamInterface<FaultCase> {
  protected:
    void StartSession() {
        ASSERT_TRUE(m_sim.Start(GetParam().simArgs)) << m_sim.Log();
        MakeSessionWindow(m_sim.Port());
        SessionTimers& timers = m_window->Timers();
        // Short enough for a fast run, long enough that a loaded machine does
        // not fire them while the server is still answering.
        if (GetParam().outcome == Outcome::LoginTimedOut)
            timers.SetInterval(SessionTimers::kLoginTimeout, 300ms);
        if (GetParam().outcome == Outcome::Restarted)
            timers.SetInterval(SessionTimers::kVideoWatchdog, 500ms);
        timers.SetInterval(SessionTimers::kPtzStop, 100ms);
        ReconnectPolicy fast;
        fast.steps = {100ms};
        m_window->Session().SetReconnectPolicy(fast);
        m_residentBeforeKb = test::ResidentMemoryKb();
        m_window->OnCommand(control::kPlay);
    }

    // Waits with the event loop running, sampling the pipeline's queue,
    // buffers and pictures on every turn.
    bool WaitSampling(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = 60s) {
        return WaitFor(
            [&] {
                Sample();
                return condition();
            },
            deadline);
    }

    void Sample() {
        VideoPipeline& pipeline = m_window->VideoWindow()->Pipeline();
        m_peakQueued = std::max(m_peakQueued, pipeline.QueuedFrames());
        m_peakBufferBytes = std::max(m_peakBufferBytes, pipeline.Counters().bufferBytes);
        const QImage picture = m_window->VideoWindow()->LatestPicture();
        const QSize decoded = m_window->VideoWindow()->LatestPictureSource();
        if (ShowsChannel(picture, m_window->currentChannel()))
            m_sizesShown.insert({decoded.width(), decoded.height()});
        m_peakResidentKb = std::max(m_peakResidentKb, test::ResidentMemoryKb());
    }

    bool NothingCanRestart() const {
        return !m_window->Timers().IsArmed(SessionTimers::kLoginTimeout) &&
               !m_window->Timers().IsArmed(SessionTimers::kVideoWatchdog) &&
               !m_window->Session().RetryPending();
    }

    // Play with the active face: the session stops for good.
    void StopAndExpectIdle() {
        ASSERT_TRUE(m_window->PlayFaceActive());
        m_window->OnCommand(control::kPlay);
        EXPECT_FALSE(m_window->PlayFaceActive());
        EXPECT_FALSE(m_window->HasSource());
        EXPECT_TRUE(NothingCanRestart());
        EXPECT_EQ(m_statuses.back(), Text(u"connect_break"));
        EXPECT_EQ(m_window->VideoWindow()->Pipeline().QueuedFrames(), 0u);
    }

    void ExpectPicturesOfEverySize() {
        for (const QSize& size : GetParam().pictureSizes) {
            EXPECT_TRUE(WaitSampling([&] {
                return m_sizesShown.count({size.width(), size.height()});
            })) << "no picture of "
                << size.width() << "x" << size.height();
        }
        for (const QString& line : GetParam().statistics)
            EXPECT_TRUE(WaitForStatus(line)) << line.toStdString();
    }

    void ExpectBoundedMemory() {
        Sample();
        EXPECT_LE(m_peakBufferBytes, kBufferBytesBound);
        EXPECT_LE(m_peakQueued, PipelineLimits{}.maxQueuedFrames);
        EXPECT_LE(m_peakResidentKb - m_residentBeforeKb, kResidentGrowthBoundKb)
            << "resident before " << m_residentBeforeKb << " KB, peak " << m_peakResidentKb
            << " KB";
        std::printf(
            "%s: peak queued %zu frames, peak picture buffers %llu KB, resident %lld -> %lld KB\n",
            GetParam().name, m_peakQueued, (unsigned long long)(m_peakBufferBytes / 1024),
            (long long)m_residentBeforeKb, (long long)m_peakResidentKb);
    }

    test::DebugCapture m_debug;
    // The viewer acts on this thread: its events run while the log is awaited.
    test::SimulatorProcess m_sim{[] { QCoreApplication::processEvents(); }};
    int64_t m_residentBeforeKb = 0;
    int64_t m_peakResidentKb = 0;
    size_t m_peakQueued = 0;
    uint64_t m_peakBufferBytes = 0;
    std::set<std::pair<int, int>> m_sizesShown;  // pictures of the viewed channel's colours
};

TEST_P(FaultMatrixTest, EndsInItsStateWithBoundedMemory) {
    const FaultCase& fault = GetParam();
    StartSession();
    if (HasFatalFailure())
        return;

    switch (fault.outcome) {
        case Outcome::LoginRefused:
            ASSERT_TRUE(WaitSampling([&] { return StatusCount(Text(u"login_fail")) >= 1; }))
                << m_sim.Log();
            EXPECT_EQ(m_statuses.back(), Text(u"login_fail"));
            EXPECT_FALSE(m_window->PlayFaceActive());
            EXPECT_TRUE(m_window->HasSource());  // the connection stays open
            EXPECT_TRUE(NothingCanRestart());
            EXPECT_TRUE(m_sim.WaitForLog("login: user", 1, Lines::Exactly));
            break;

        case Outcome::LoginTimedOut:
            ASSERT_TRUE(WaitSampling([&] { return StatusCount(Text(u"connect_timeout")) >= 2; }))
                << m_sim.Log();
            EXPECT_TRUE(m_sim.WaitForLog("login: user", 2));
            StopAndExpectIdle();
            break;

        case Outcome::Restarted:
            // Three connections: the first and two restarts by the watchdog,
            // each playing again.
            ASSERT_TRUE(WaitSampling([&] {
                return m_sim.CountLog("login accepted") >= 3 &&
                       StatusCount(fault.statistics.front()) >= 3;
            })) << m_sim.Log();
            EXPECT_TRUE(WaitSampling([&] {
                return ShowsChannel(m_window->VideoWindow()->LatestPicture(), 0);
            })) << "no picture after the restarts";
            EXPECT_GE(StatusCount(Text(u"connect_break")), 2);
            EXPECT_EQ(StatusCount(Text(u"connect_timeout")), 0);
            if (fault.viewerEndsConnection) {
                EXPECT_TRUE(m_debug.AnyContains("Socket error"));
                EXPECT_TRUE(m_sim.WaitForLog("closed: viewer", 2));
            }
            StopAndExpectIdle();
            break;

        case Outcome::Viewing:
            ExpectPicturesOfEverySize();
            // Two seconds of pictures, so that growth per picture would show.
            EXPECT_TRUE(WaitSampling([&] {
                return m_window->VideoWindow()->Pipeline().Counters().picturesDrawn >= 50;
            }));
            EXPECT_TRUE(m_sim.WaitForLog("login accepted", 1, Lines::Exactly));
            EXPECT_EQ(StatusCount(Text(u"connect_timeout")), 0);
            EXPECT_TRUE(m_window->PlayFaceActive());
            EXPECT_TRUE(m_window->videoReceived());
            StopAndExpectIdle();
            break;

        case Outcome::DialectPingPong:
            // The first login is accepted; a channel change logs in again and
            // from then on every login is told to use the other dialect.
            ASSERT_TRUE(WaitSampling([&] { return !m_sizesShown.empty(); })) << m_sim.Log();
            m_window->OnCommand(control::kFirstChannel + 1);
            // Three switches followed; the fourth counts as a failed connect.
            ASSERT_TRUE(WaitSampling([&] { return StatusCount(Text(u"connect_failed")) >= 1; }))
                << m_sim.Log();
            EXPECT_TRUE(m_sim.WaitForLog("the viewer should switch to", 4, Lines::Exactly));
            // The retry logs in in the dialect of the last switch followed,
            // which this server accepts at its next login.
            EXPECT_TRUE(WaitSampling([&] {
                return ShowsChannel(m_window->VideoWindow()->LatestPicture(), 1);
            })) << m_sim.Log();
            EXPECT_EQ(m_window->currentChannel(), 1);
            StopAndExpectIdle();
            break;
    }
    if (fault.outcome != Outcome::DialectPingPong) {
        EXPECT_EQ(StatusCount(Text(u"connect_failed")), 0);
    }
    ExpectBoundedMemory();
    m_window.reset();
    EXPECT_EQ(m_sim.Stop(), 0) << m_sim.Log();
}

INSTANTIATE_TEST_SUITE_P(EveryFault, FaultMatrixTest, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kavrel
