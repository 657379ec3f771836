// CTCPClient_CE against a real server on the loopback interface.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "protocol/CTCPClient_CE.h"
#include "tests/protocol/LoopbackServer.h"
#include "tests/protocol/TestPackets.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/TestPorts.h"

namespace kavrel {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::LoopbackServer;
using test::WaitUntil;

// Collects what the receive thread hands over; optional hook on each chunk.
class CollectingSink final : public ReceiveSink {
  public:
    bool Append(const uint8_t* bytes, int count) override {
        {
            std::lock_guard lock(m_mutex);
            m_bytes.insert(m_bytes.end(), bytes, bytes + count);
            m_largestChunk = std::max(m_largestChunk, count);
        }
        m_changed.notify_all();
        return onChunk ? onChunk() : true;
    }
    void OnConnectResult(bool connected) override {
        if (onConnect)
            onConnect(connected);
        {
            std::lock_guard lock(m_mutex);
            m_connectResults.push_back(connected);
        }
        m_changed.notify_all();
    }
    void OnReceiveEnded() override {
        {
            std::lock_guard lock(m_mutex);
            ++m_ends;
        }
        m_changed.notify_all();
    }
    // Waits until `count` connect outcomes have arrived; all of them.
    std::vector<bool> WaitForConnectResults(size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 10s, [&] { return m_connectResults.size() >= count; });
        return m_connectResults;
    }
    bool WaitForEnd() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_ends > 0; });
    }
    int Ends() const {
        std::lock_guard lock(m_mutex);
        return m_ends;
    }
    bool WaitForBytes(size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_bytes.size() >= count; });
    }
    Bytes Received() const {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }
    int LargestChunk() const {
        std::lock_guard lock(m_mutex);
        return m_largestChunk;
    }

    std::function<bool()> onChunk;        // set before the client is opened
    std::function<void(bool)> onConnect;  // the same

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Bytes m_bytes;                       // guarded by m_mutex
    int m_largestChunk = 0;              // guarded by m_mutex
    std::vector<bool> m_connectResults;  // guarded by m_mutex
    int m_ends = 0;                      // guarded by m_mutex
};

class TcpClientTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.Listening()); }
    // Opens and connects `client` to the test server, then accepts.
    void ConnectTo(CTCPClient_CE& target, std::u16string_view address) {
        ASSERT_TRUE(target.Open(&sink, address, server.Port()));
        ASSERT_TRUE(target.Connect());
        ASSERT_TRUE(server.Accept());
    }

    test::DebugCapture debug;
    LoopbackServer server;
    CollectingSink sink;
    CTCPClient_CE client;
};

TEST_F(TcpClientTest, DeliversEverythingReadInChunksOfAtMost10240Bytes) {
    ConnectTo(client, u"127.0.0.1");
    const Bytes data = test::Pattern(100000, 3);
    ASSERT_TRUE(server.Send(data));
    ASSERT_TRUE(sink.WaitForBytes(data.size()));
    EXPECT_EQ(sink.Received(), data);
    EXPECT_LE(sink.LargestChunk(), CTCPClient_CE::kReadChunk);
    EXPECT_TRUE(client.Close());
    EXPECT_TRUE(client.ReceiveThreadEnded());
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(TcpClientTest, AddressForms) {
    const int port = server.Port();
    struct Case {
        std::u16string address;
        int port;
    };
    // A host name, the inet_addr shorthand for 127.0.0.1, the port's low 16
    // bits, and the empty address, which is 0.0.0.0 (this host on Linux).
    for (const Case& c : {Case{u"localhost", port}, Case{u"127.1", port},
                          Case{u"127.0.0.1", port + 65536}, Case{u"", port}}) {
        CTCPClient_CE other;
        ASSERT_TRUE(other.Open(&sink, c.address, c.port));
        EXPECT_TRUE(other.Connect()) << std::string(c.address.begin(), c.address.end());
        EXPECT_TRUE(server.Accept(2s));
        EXPECT_TRUE(other.Close());
    }
}

TEST_F(TcpClientTest, FailedConnectsReturnFalseWithoutDebugLines) {
    // 255.255.255.255 is looked up as a name (it yields the broadcast address,
    // which a TCP connect refuses); a zero byte makes the text name no host; a
    // port nobody listens on refuses.
    const test::RefusingPort refusing;
    const int unused = refusing.Port();
    for (const std::u16string& address :
         {std::u16string(u"255.255.255.255"), std::u16string(u"127.0.0.1\0x", 11)}) {
        CTCPClient_CE other;
        ASSERT_TRUE(other.Open(&sink, address, server.Port()));
        EXPECT_FALSE(other.Connect());
    }
    CTCPClient_CE refused;
    ASSERT_TRUE(refused.Open(&sink, u"127.0.0.1", unused));
    EXPECT_FALSE(refused.Connect());
    // The thread waits for Close rather than ending on the failed socket.
    EXPECT_FALSE(refused.ReceiveThreadEnded());
    EXPECT_TRUE(refused.Close());
    EXPECT_TRUE(refused.ReceiveThreadEnded());
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(TcpClientTest, ReceiveThreadWaitsForConnectInsteadOfEnding) {
    ASSERT_TRUE(client.Open(&sink, u"127.0.0.1", server.Port()));
    // Linux reports the unconnected socket as hung up at once; a thread that
    // polled it would have ended by now. (A negative check needs a window.)
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(client.ReceiveThreadEnded());
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Send(Bytes{1, 2, 3}));
    ASSERT_TRUE(sink.WaitForBytes(3));
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(TcpClientTest, ConnectGivesUpAtItsTimeout) {
    // A listener with a full accept queue drops further connection requests,
    // so the client's connect would wait for the system's minutes-long limit.
    LoopbackServer full(0);
    std::vector<std::unique_ptr<CTCPClient_CE>> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(std::make_unique<CTCPClient_CE>());
        fillers.back()->SetConnectTimeout(200ms);
        ASSERT_TRUE(fillers.back()->Open(nullptr, u"127.0.0.1", full.Port()));
        fillers.back()->Connect();
    }
    client.SetConnectTimeout(200ms);
    ASSERT_TRUE(client.Open(&sink, u"127.0.0.1", full.Port()));
    EXPECT_FALSE(client.Connect());
}

TEST_F(TcpClientTest, StartConnectReportsItsOutcomeAndTheEndOfTheConnection) {
    // Whoever hears of the connect may send at once: the login used to be
    // dropped when it left before the client counted itself connected.
    bool sentAtOnce = false;
    sink.onConnect = [&](bool connected) {
        sentAtOnce = connected && client.Send(Bytes{7, 8}.data(), 2);
    };
    ASSERT_TRUE(client.Open(&sink, u"127.0.0.1", server.Port()));
    ASSERT_TRUE(client.StartConnect());
    EXPECT_FALSE(client.StartConnect());  // one attempt per client
    EXPECT_EQ(sink.WaitForConnectResults(1), std::vector<bool>{true});
    EXPECT_TRUE(sentAtOnce);
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(server.Read(2), (Bytes{7, 8}));
    ASSERT_TRUE(server.Send(Bytes{1, 2, 3}));
    ASSERT_TRUE(sink.WaitForBytes(3));
    server.CloseConnection();
    EXPECT_TRUE(sink.WaitForEnd());

    // Refused: the outcome, and no end of a connection that never was.
    const test::RefusingPort refusing;
    CollectingSink refusedSink;
    CTCPClient_CE refused;
    ASSERT_TRUE(refused.Open(&refusedSink, u"127.0.0.1", refusing.Port()));
    ASSERT_TRUE(refused.StartConnect());
    EXPECT_EQ(refusedSink.WaitForConnectResults(1), std::vector<bool>{false});
    EXPECT_TRUE(WaitUntil([&] { return refused.ReceiveThreadEnded(); }));
    EXPECT_EQ(refusedSink.Ends(), 0);
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(TcpClientTest, CloseEndsAConnectOrANameLookupInProgressAtOnce) {
    // Neither ends by itself within the test's time: only Close can end them.
    const test::BlackholePort blackhole;
    CTCPClient_CE connecting;
    connecting.SetConnectTimeout(std::chrono::hours(1));
    ASSERT_TRUE(connecting.Open(&sink, u"127.0.0.1", blackhole.Port()));
    ASSERT_TRUE(connecting.StartConnect());

    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = gate->get_future().share();
    CTCPClient_CE::SetNameLookup([released](const std::string&, uint32_t&) {
        released.wait();
        return false;
    });
    CollectingSink lookingUpSink;
    CTCPClient_CE lookingUp;
    lookingUp.SetConnectTimeout(std::chrono::hours(1));
    ASSERT_TRUE(lookingUp.Open(&lookingUpSink, u"camera.invalid", 80));
    ASSERT_TRUE(lookingUp.StartConnect());

    // The lookup counts against the connect's deadline, too.
    CollectingSink timedOutSink;
    CTCPClient_CE timedOut;
    timedOut.SetConnectTimeout(100ms);
    ASSERT_TRUE(timedOut.Open(&timedOutSink, u"camera.invalid", 80));
    ASSERT_TRUE(timedOut.StartConnect());
    EXPECT_EQ(timedOutSink.WaitForConnectResults(1), std::vector<bool>{false});

    connecting.Close();
    lookingUp.Close();
    EXPECT_TRUE(connecting.ReceiveThreadEnded());
    EXPECT_TRUE(lookingUp.ReceiveThreadEnded());
    EXPECT_TRUE(sink.WaitForConnectResults(0).empty());
    EXPECT_TRUE(lookingUpSink.WaitForConnectResults(0).empty());
    CTCPClient_CE::SetNameLookup({});
    gate->set_value();  // the abandoned lookups finish on their own
}

TEST_F(TcpClientTest, LookupsThatNeverAnswerDoNotPileUp) {
    ASSERT_TRUE(WaitUntil([] { return CTCPClient_CE::AbandonedLookups() == 0; }));
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = gate->get_future().share();
    auto lookups = std::make_shared<std::atomic<int>>(0);
    CTCPClient_CE::SetNameLookup([released, lookups](const std::string&, uint32_t& address) {
        lookups->fetch_add(1);
        released.wait();
        address = htonl(INADDR_LOOPBACK);
        return true;
    });
    // Each connect gives its lookup up at the deadline; the lookup waits on.
    for (int i = 0; i < CTCPClient_CE::kMaxAbandonedLookups; ++i) {
        CollectingSink givenUpSink;
        CTCPClient_CE givenUp;
        givenUp.SetConnectTimeout(20ms);
        ASSERT_TRUE(givenUp.Open(&givenUpSink, u"camera.invalid", server.Port()));
        ASSERT_TRUE(givenUp.StartConnect());
        EXPECT_EQ(givenUpSink.WaitForConnectResults(1), std::vector<bool>{false});
    }
    EXPECT_EQ(CTCPClient_CE::AbandonedLookups(), CTCPClient_CE::kMaxAbandonedLookups);

    // One more fails at once, without a lookup thread, long before its deadline.
    client.SetConnectTimeout(std::chrono::hours(1));
    ASSERT_TRUE(client.Open(&sink, u"camera.invalid", server.Port()));
    ASSERT_TRUE(client.StartConnect());
    EXPECT_EQ(sink.WaitForConnectResults(1), std::vector<bool>{false});
    EXPECT_EQ(lookups->load(), CTCPClient_CE::kMaxAbandonedLookups);

    // Once they answer, lookups run again.
    gate->set_value();
    EXPECT_TRUE(WaitUntil([] { return CTCPClient_CE::AbandonedLookups() == 0; }));
    CollectingSink laterSink;
    CTCPClient_CE later;
    ASSERT_TRUE(later.Open(&laterSink, u"camera.invalid", server.Port()));
    ASSERT_TRUE(later.StartConnect());
    EXPECT_EQ(laterSink.WaitForConnectResults(1), std::vector<bool>{true});
    CTCPClient_CE::SetNameLookup({});
}

TEST_F(TcpClientTest, LookupsStartedTogetherAreCappedBeforeAnyIsGivenUp) {
    ASSERT_TRUE(WaitUntil([] { return CTCPClient_CE::AbandonedLookups() == 0; }));
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = gate->get_future().share();
    auto lookups = std::make_shared<std::atomic<int>>(0);
    CTCPClient_CE::SetNameLookup([released, lookups](const std::string&, uint32_t&) {
        lookups->fetch_add(1);
        released.wait();
        return false;
    });
    // A wall of tiles starts at once: none has given its lookup up yet when
    // the next one starts. Each either looks up or fails at once.
    constexpr int kTiles = 16;
    std::vector<std::unique_ptr<CollectingSink>> sinks;
    std::vector<std::unique_ptr<CTCPClient_CE>> tiles;
    for (int i = 0; i < kTiles; ++i) {
        sinks.push_back(std::make_unique<CollectingSink>());
        tiles.push_back(std::make_unique<CTCPClient_CE>());
        tiles.back()->SetConnectTimeout(std::chrono::hours(1));
        ASSERT_TRUE(tiles.back()->Open(sinks.back().get(), u"camera.invalid", server.Port()));
        ASSERT_TRUE(tiles.back()->StartConnect());
    }
    ASSERT_TRUE(WaitUntil([&] {
        size_t settled = size_t(lookups->load());
        for (const auto& tileSink : sinks)
            settled += tileSink->WaitForConnectResults(0).size();
        return settled == kTiles;
    }));
    for (const auto& tile : tiles)
        tile->Close();  // gives every lookup still running up
    EXPECT_LE(lookups->load(), CTCPClient_CE::kMaxAbandonedLookups);
    EXPECT_LE(CTCPClient_CE::AbandonedLookups(), CTCPClient_CE::kMaxAbandonedLookups);
    CTCPClient_CE::SetNameLookup({});
    gate->set_value();
    EXPECT_TRUE(WaitUntil([] { return CTCPClient_CE::AbandonedLookups() == 0; }));
}

TEST_F(TcpClientTest, ServerCloseEndsTheThreadQuietly) {
    ConnectTo(client, u"127.0.0.1");
    server.CloseConnection();
    EXPECT_TRUE(WaitUntil([&] { return client.ReceiveThreadEnded(); }));
    EXPECT_TRUE(debug.Lines().empty());
    EXPECT_TRUE(client.Close());  // the descriptor is still the client's to close
    EXPECT_FALSE(client.Close());
}

TEST_F(TcpClientTest, SendAfterTheServerIsGoneFails) {
    ConnectTo(client, u"127.0.0.1");
    server.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return client.ReceiveThreadEnded(); }));
    const Bytes packet(20, 7);
    EXPECT_FALSE(client.Send(packet.data(), int(packet.size())));
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Socket error\n"});
    EXPECT_EQ(sink.Ends(), 1);  // the server's close, reported once
    EXPECT_TRUE(client.Close());
}

TEST_F(TcpClientTest, SendOfNothingTouchesNothing) {
    CTCPClient_CE unopened;
    EXPECT_TRUE(unopened.Send(nullptr, 0));
    EXPECT_TRUE(unopened.Send(nullptr, -5));
    EXPECT_TRUE(debug.Lines().empty());
    // A real send on the unopened client is a failure, so the two above did not
    // reach the socket.
    const uint8_t byte = 1;
    EXPECT_FALSE(unopened.Send(&byte, 1));
    EXPECT_EQ(debug.Count("Socket error\n"), 1);
}

// Sends 4096-byte pieces numbered from `first` until the socket takes no
// more and Send starts queuing; all of them are appended to `sent`.
void SendUntilQueued(CTCPClient_CE& client, Bytes& sent, int first = 0) {
    for (int piece = first; client.QueuedSendBytes() == 0; ++piece) {
        ASSERT_LT(piece, first + 10000) << "the socket never filled";
        const Bytes bytes = test::Pattern(4096, uint8_t(piece));
        ASSERT_TRUE(client.Send(bytes.data(), int(bytes.size()))) << piece;
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    }
}

TEST_F(TcpClientTest, SendQueuesWhatThePeerCannotTakeYetAndNeverWaitsForIt) {
    ConnectTo(client, u"127.0.0.1");
    // The server reads nothing until every Send has returned: a Send that
    // waited for room would wait for good (and used to fail after a second).
    Bytes sent;
    SendUntilQueued(client, sent);
    const Bytes more = test::Pattern(CTCPClient_CE::kSendQueueLimit / 2, 9);
    EXPECT_TRUE(client.Send(more.data(), int(more.size())));
    sent.insert(sent.end(), more.begin(), more.end());

    // The receive thread writes the queue out as the server reads, in order.
    EXPECT_TRUE(server.Read(sent.size()) == sent);
    EXPECT_TRUE(WaitUntil([&] { return client.QueuedSendBytes() == 0; }));
    EXPECT_EQ(sink.Ends(), 0);
    EXPECT_TRUE(debug.Lines().empty());
}

// The descriptor of this process's socket connected to `port` on loopback.
int SocketConnectedTo(int port) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == port)
            return fd;
    }
    return -1;
}

TEST_F(TcpClientTest, TheLastBytesBeforeCloseLeaveAtOnceAndReachThePeer) {
    ConnectTo(client, u"127.0.0.1");
    const int fd = SocketConnectedTo(server.Port());
    ASSERT_GE(fd, 0);
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
    EXPECT_NE(noDelay, 0);

    // The server reads nothing until Close has returned: the last request
    // waits in the queue behind a full socket.
    client.SetCloseFlushTimeout(1min);  // a slow machine must not cut it short
    Bytes sent;
    SendUntilQueued(client, sent);
    const Bytes last = test::Pattern(20, 0xEE);
    ASSERT_TRUE(client.Send(last.data(), int(last.size())));
    sent.insert(sent.end(), last.begin(), last.end());
    EXPECT_TRUE(client.Close());
    EXPECT_TRUE(server.Read(sent.size()) == sent);
    EXPECT_TRUE(server.WaitForPeerClose());
    EXPECT_TRUE(CTCPClient_CE::WaitForClosingSockets(10s));
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(TcpClientTest, APeerThatStopsTakingBytesIsALostConnection) {
    // The peer stops reading: the queue either waits kSendStallTimeout or
    // overflows its bound. Either way the sink hears the connection end, as
    // when the server closes it, and the peer sees it shut down.
    for (const bool overflow : {false, true}) {
        SCOPED_TRACE(overflow ? "overflow" : "stall");
        LoopbackServer silent;
        CollectingSink silentSink;
        CTCPClient_CE sender;
        ASSERT_TRUE(sender.Open(&silentSink, u"127.0.0.1", silent.Port()));
        ASSERT_TRUE(sender.Connect());
        ASSERT_TRUE(silent.Accept());
        debug.Clear();
        Bytes sent;
        if (overflow) {
            SendUntilQueued(sender, sent);
            const Bytes tooMuch(CTCPClient_CE::kSendQueueLimit, 1);
            EXPECT_FALSE(sender.Send(tooMuch.data(), int(tooMuch.size())));
            EXPECT_EQ(debug.Count("Socket error\n"), 1);
        } else {
            // A queue the kernel still drains into the peer's window is no
            // stall: queue again until it stays, and the end comes.
            for (int round = 0; silentSink.Ends() == 0; ++round) {
                ASSERT_LT(round, 1000) << "the peer's window never closed";
                SendUntilQueued(sender, sent, round * 10000);
                WaitUntil([&] { return sender.QueuedSendBytes() == 0 || silentSink.Ends() > 0; });
            }
        }
        EXPECT_TRUE(silentSink.WaitForEnd());
        EXPECT_TRUE(silent.WaitForPeerClose());
        EXPECT_EQ(debug.Count("Socket error\n"), 1);

        // Later sends fail, and the end is not reported twice.
        const uint8_t byte = 1;
        EXPECT_FALSE(sender.Send(&byte, 1));
        EXPECT_EQ(debug.Count("Socket error\n"), 2);
        EXPECT_TRUE(sender.Close());
        EXPECT_EQ(silentSink.Ends(), 1);
    }
}

TEST_F(TcpClientTest, CloseWakesAnIdleThreadAtOnce) {
    // The thread waits without a time-out; only the wake-up can end it. Close
    // returning at all, with the thread ended, shows it was woken.
    ConnectTo(client, u"127.0.0.1");
    EXPECT_FALSE(client.ReceiveThreadEnded());
    EXPECT_TRUE(client.Close());
    EXPECT_TRUE(client.ReceiveThreadEnded());

    CTCPClient_CE neverConnected;
    ASSERT_TRUE(neverConnected.Open(&sink, u"127.0.0.1", server.Port()));
    EXPECT_TRUE(neverConnected.Close());
    EXPECT_TRUE(neverConnected.ReceiveThreadEnded());
}

TEST_F(TcpClientTest, SinkMayCloseOrDestroyItsClient) {
    // Close from inside the sink: no self-join, the thread ends after the sink.
    ConnectTo(client, u"127.0.0.1");
    sink.onChunk = [&] {
        client.Close();
        return true;
    };
    ASSERT_TRUE(server.Send(Bytes{1}));
    EXPECT_TRUE(WaitUntil([&] { return client.ReceiveThreadEnded(); }));
    EXPECT_TRUE(server.WaitForPeerClose());

    // Destroy from inside the sink: the thread outlives its client briefly.
    CollectingSink otherSink;
    auto* doomed = new CTCPClient_CE();
    std::atomic<bool> destroyed{false};
    otherSink.onChunk = [&] {
        delete doomed;
        destroyed.store(true);
        return true;
    };
    ASSERT_TRUE(doomed->Open(&otherSink, u"127.0.0.1", server.Port()));
    ASSERT_TRUE(doomed->Connect());
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Send(Bytes{1, 2}));
    EXPECT_TRUE(WaitUntil([&] { return destroyed.load(); }));
    EXPECT_TRUE(server.WaitForPeerClose());
    EXPECT_TRUE(WaitUntil([] { return CTCPClient_CE::ActiveReceiveThreads() == 0; }));
}

TEST_F(TcpClientTest, SinkRefusalEndsTheConnectionAsAReadError) {
    ConnectTo(client, u"127.0.0.1");
    sink.onChunk = [] { return false; };
    ASSERT_TRUE(server.Send(Bytes{1, 2, 3}));
    EXPECT_TRUE(WaitUntil([&] { return client.ReceiveThreadEnded(); }));
    EXPECT_TRUE(server.WaitForPeerClose());
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Socket error\n"});
}

}  // namespace
}  // namespace kavrel
