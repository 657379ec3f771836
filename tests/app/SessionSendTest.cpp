// The session when its requests cannot go out: a server that stopped reading
// ends the connection like a server that closed it, and a name server that
// never answers cannot hold a connect.

#include <QCoreApplication>
#include <atomic>
#include <future>
#include <memory>

#include "protocol/CTCPClient_CE.h"
#include "protocol/WireFormat.h"
#include "skin/ControlIds.h"
#include "tests/app/SessionFixture.h"
#include "tests/support/SilentPeer.h"

namespace kavrel {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// The server's answer to a Current login: version 5, then the login result
// (1 accepted, anything else refused), then the stream format when accepted.
Bytes LoginAnswer(bool accepted) {
    wire::PacketBuilder answer(0);
    answer.Add(wire::kVersionInfo, Bytes{5, 0, 0, 0});
    answer.Add(wire::kLoginAnswer, Bytes{uint8_t(accepted ? 1 : 2), 0, 0, 0});
    Bytes bytes = answer.Bytes();
    if (accepted) {
        const StreamFormatInfo format = StreamFormatInfo::Make(352, 288, 25, 512000);
        wire::PacketBuilder formatPacket(0);
        formatPacket.Add(wire::kStreamFormatInfo, Bytes(format.bytes.begin(), format.bytes.end()));
        const Bytes more = formatPacket.Bytes();
        bytes.insert(bytes.end(), more.begin(), more.end());
    }
    return bytes;
}

constexpr size_t kCurrentLoginSize = 88;

class SessionSendTest : public test::SessionFixture {};

TEST_F(SessionSendTest, PtzAgainstAServerThatStoppedReadingEndsTheConnection) {
    // Each click queues its two packets until the queue overflows or the
    // server has taken nothing for a second; either way the connection is
    // lost as when the server closes it. Watching, a retry follows; after a
    // refused login there is none, and the status line says the connection
    // is gone rather than that the camera turns.
    for (const bool accepted : {true, false}) {
        SCOPED_TRACE(accepted ? "login accepted" : "login refused");
        m_statuses.clear();
        test::SilentPeer peer(kCurrentLoginSize, LoginAnswer(accepted));
        MakeSessionWindow(peer.Port());
        // Only the lost connection may end it, not the video watchdog.
        m_window->Timers().SetInterval(SessionTimers::kVideoWatchdog, 1h);
        m_window->OnCommand(control::kPlay);
        ASSERT_TRUE(WaitForStatus(Text(accepted ? u"login_succeed" : u"login_fail")));

        for (int click = 0; m_window->HasSource(); ++click) {
            ASSERT_LT(click, 5000) << "the session never noticed";
            m_window->OnCommand(control::kPtzLeft);
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(StatusCount(Text(u"connect_break")), 1);
        EXPECT_EQ(m_statuses.back(),
                  accepted ? QString("Reconnecting in 1 s (attempt 1)") : Text(u"connect_break"));
        EXPECT_EQ(m_window->Session().RetryPending(), accepted);
        EXPECT_EQ(m_window->PlayFaceActive(), accepted);
        m_window.reset();
    }
}

TEST_F(SessionSendTest, ConnectFailsAtOnceWhileTooManyLookupsHang) {
    ASSERT_TRUE(WaitFor([] { return CTCPClient_CE::AbandonedLookups() == 0; }));
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = gate->get_future().share();
    auto lookups = std::make_shared<std::atomic<int>>(0);
    CTCPClient_CE::SetNameLookup([released, lookups](const std::string&, uint32_t&) {
        lookups->fetch_add(1);
        released.wait();
        return false;
    });
    for (int i = 0; i < CTCPClient_CE::kMaxAbandonedLookups; ++i) {
        CTCPClient_CE givenUp;
        givenUp.SetConnectTimeout(20ms);
        ASSERT_TRUE(givenUp.Open(nullptr, u"camera.invalid", 80));
        ASSERT_TRUE(givenUp.StartConnect());
        ASSERT_TRUE(WaitFor([&] { return givenUp.ReceiveThreadEnded(); }));
    }

    // The session's own connect would wait an hour for its lookup.
    MakeSessionWindow(80);
    m_window->Session().SetServer({u"camera.invalid", u"80", u"admin", u"admin", 0});
    m_window->SetConnectTimeout(1h);
    m_window->OnCommand(control::kPlay);
    EXPECT_TRUE(WaitForStatus(Text(u"connect_failed")));
    EXPECT_TRUE(m_window->Session().RetryPending());
    EXPECT_EQ(lookups->load(), CTCPClient_CE::kMaxAbandonedLookups);

    m_window->OnCommand(control::kPlay);
    CTCPClient_CE::SetNameLookup({});
    gate->set_value();
    EXPECT_TRUE(WaitFor([] { return CTCPClient_CE::AbandonedLookups() == 0; }));
}

}  // namespace
}  // namespace kavrel
