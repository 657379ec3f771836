// CProtocolEngine over a real loopback connection: what it sends, what it
// reports, and how it ends.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "protocol/CProtocolEngine.h"
#include "tests/protocol/LoopbackServer.h"
#include "tests/protocol/RecordingListener.h"
#include "tests/protocol/TestPackets.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/TestPorts.h"

namespace kavrel {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::Concat;
using test::LoopbackServer;
using test::Packet;
using test::WaitUntil;
using Lines = std::vector<std::string>;

class EngineSocketTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.Listening()); }
    void TearDown() override {
        if (engine)
            engine->Disconnect();
        engine.reset();
        EXPECT_TRUE(WaitUntil([] { return CTCPClient_CE::ActiveReceiveThreads() == 0; }));
        EXPECT_TRUE(CTCPClient_CE::WaitForClosingSockets(10s));
    }
    void ConnectEngine() {
        engine = std::make_unique<CProtocolEngine>(&listener);
        ASSERT_TRUE(engine->Connect(u"127.0.0.1", server.Port()));
        ASSERT_TRUE(server.Accept());
    }

    test::DebugCapture debug;
    LoopbackServer server;
    test::RecordingListener listener;
    std::unique_ptr<CProtocolEngine> engine;
};

TEST_F(EngineSocketTest, RequestsCarrySequenceZeroOneTwo) {
    ConnectEngine();
    engine->SendLogin(u"abc", u"", 0, ProtocolVariant::Current);
    engine->SendPtz(0, wire::kPtzLeft);
    engine->SendChannel(0, 3);

    uint8_t expected[3 * wire::kMaxSentPacket];
    size_t size = wire::BuildLoginPacket(expected, 0, "abc", "", 0, ProtocolVariant::Current);
    size += wire::BuildPtzPacket(expected + size, 1, 0, wire::kPtzLeft, ProtocolVariant::Current);
    size += wire::BuildChannelPacket(expected + size, 2, 0, 3);
    EXPECT_EQ(server.Read(size), Bytes(expected, expected + size));

    // A new engine numbers from 0 again, and a request without a client still
    // takes its number.
    auto second = std::make_unique<CProtocolEngine>(&listener);
    second->SendPtz(0, wire::kPtzStop);  // no client: number 0 is used up
    ASSERT_TRUE(second->Connect(u"127.0.0.1", server.Port()));
    ASSERT_TRUE(server.Accept());
    second->SendLogin(u"abc", u"", 0, ProtocolVariant::Legacy);
    const Bytes login = server.Read(76);
    ASSERT_EQ(login.size(), 76u);
    EXPECT_EQ(wire::ReadPacketHeader(login.data()).sequence, 1u);
    second->Disconnect();
}

TEST_F(EngineSocketTest, EmptyAddressFailsWithoutAClient) {
    engine = std::make_unique<CProtocolEngine>(&listener);
    EXPECT_FALSE(engine->Connect(u"", server.Port()));
    EXPECT_EQ(CTCPClient_CE::ActiveReceiveThreads(), 0);
    const test::RefusingPort refusing;
    EXPECT_FALSE(engine->Connect(u"127.0.0.1", refusing.Port()));
}

TEST_F(EngineSocketTest, ServerAnswersReachTheListenerInOrder) {
    ConnectEngine();
    engine->SendLogin(u"abc", u"", 0, ProtocolVariant::Current);
    const Bytes frame = test::Pattern(30000, 4);
    ASSERT_TRUE(server.Send(Concat({
        Packet({{42, test::U16Payload(1)}}),
        Packet({{200, test::FormatPayload(640, 480, 15, 300000)}}),
        Packet({{100, frame}}),
    })));
    ASSERT_TRUE(listener.WaitForCount(4));
    const Lines lines = listener.Lines();
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3),
              (Lines{"event 4", "event 4", "format 640x480 fps=15 rate=300000"}));
    EXPECT_EQ(lines[3].rfind("video key=1 len=30000 ", 0), 0u) << lines[3];
}

TEST_F(EngineSocketTest, MalformedPacketsEndTheConnection) {
    for (const uint32_t badLength : {3u, uint32_t(CProtocolEngine::kReceiveBufferSize)}) {
        test::RecordingListener own;
        auto local = std::make_unique<CProtocolEngine>(&own);
        ASSERT_TRUE(local->Connect(u"127.0.0.1", server.Port()));
        ASSERT_TRUE(server.Accept());
        debug.Clear();
        ASSERT_TRUE(server.Send(Concat({Packet({{112, Bytes(10, 1)}}), test::RawHeader(badLength),
                                        Packet({{112, Bytes(10, 2)}})})));
        EXPECT_TRUE(server.WaitForPeerClose()) << badLength;
        EXPECT_TRUE(WaitUntil([] { return CTCPClient_CE::ActiveReceiveThreads() == 0; }));
        EXPECT_EQ(debug.Lines(), Lines{"Socket error\n"});
        EXPECT_EQ(own.Count(), 1u);
        local->Disconnect();
    }
}

TEST_F(EngineSocketTest, ConnectFromInsideACallbackIsRefused) {
    std::atomic<int> result{-1};
    listener.onEvent = [&](int) { result.store(engine->Connect(u"127.0.0.1", server.Port())); };
    ConnectEngine();
    ASSERT_TRUE(server.Send(Packet({{42, test::U16Payload(1)}, {100, Bytes(5, 1)}})));
    ASSERT_TRUE(listener.WaitForCount(2));
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(listener.Lines()[0], "event 4");
}

TEST_F(EngineSocketTest, NoCallbackAfterDisconnectWhileStreaming) {
    ConnectEngine();
    std::atomic<bool> stop{false};
    std::thread streamer([&] {
        const Bytes packet = Packet({{112, test::Pattern(2000, 1)}});
        while (!stop.load() && server.Send(packet)) {
        }
    });
    ASSERT_TRUE(listener.WaitForCount(20));
    engine->Disconnect();
    listener.ForbidCallbacks();
    stop.store(true);
    streamer.join();  // a send blocked on the closed peer fails and ends it
    EXPECT_EQ(listener.LateCallbacks(), 0);
}

// Runs posted work on the test thread, as the user-interface thread would.
class WorkQueue {
  public:
    void Post(std::function<void()> work) {
        {
            std::lock_guard lock(m_mutex);
            m_work.push_back(std::move(work));
        }
        m_changed.notify_all();
    }
    bool RunOne(std::chrono::milliseconds wait = 10s) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, wait, [&] { return !m_work.empty(); }))
            return false;
        auto work = std::move(m_work.front());
        m_work.pop_front();
        lock.unlock();
        work();
        return true;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_work;  // guarded by m_mutex
};

TEST_F(EngineSocketTest, VariantSwitchPostedToTheOwnerThread) {
    // The server announces version 3 to a Current login; the listener posts the
    // switch, and the owner replaces the engine and logs in as Legacy.
    WorkQueue owner;
    listener.onEvent = [&](int code) {
        if (code == CServerNotify::EVENT_USE_LEGACY) {
            owner.Post([&] {
                engine->Disconnect();
                engine = std::make_unique<CProtocolEngine>(&listener);
                ASSERT_TRUE(engine->Connect(u"127.0.0.1", server.Port()));
                engine->SendLogin(u"abc", u"", 4, ProtocolVariant::Legacy);
            });
        }
    };
    ConnectEngine();
    engine->SendLogin(u"abc", u"", 4, ProtocolVariant::Current);
    ASSERT_EQ(server.Read(88).size(), 88u);
    ASSERT_TRUE(server.Send(Packet({{40, test::U16Payload(3)}, {100, Bytes(5, 1)}})));
    ASSERT_TRUE(owner.RunOne());
    ASSERT_TRUE(server.Accept());
    const Bytes login = server.Read(76);
    ASSERT_EQ(login.size(), 76u);
    EXPECT_EQ(wire::ReadPacketHeader(login.data()).sequence, 0u);
    wire::LoginRequest request;
    ASSERT_TRUE(wire::ParseLoginPayload({login.data() + 20, 56}, request));
    EXPECT_EQ(request.variant, ProtocolVariant::Legacy);
    EXPECT_EQ(request.Channel(), 4);
    EXPECT_EQ(engine->Variant(), ProtocolVariant::Legacy);
}

TEST_F(EngineSocketTest, VariantSwitchDoneInsideTheCallback) {
    // The unsafe way a listener might do it: disconnect and destroy the engine
    // on the receive thread. The engine must not be touched afterwards.
    std::atomic<bool> replaced{false};
    CProtocolEngine* raw = nullptr;
    listener.onEvent = [&](int code) {
        if (code == CServerNotify::EVENT_USE_CURRENT) {
            raw->Disconnect();
            delete raw;
            listener.ForbidCallbacks();
            replaced.store(true);
        }
    };
    raw = new CProtocolEngine(&listener);
    ASSERT_TRUE(raw->Connect(u"127.0.0.1", server.Port()));
    ASSERT_TRUE(server.Accept());
    raw->SendLogin(u"abc", u"", 0, ProtocolVariant::Legacy);
    ASSERT_TRUE(server.Send(Concat({Packet({{39, test::U16Payload(6)}, {100, Bytes(5, 1)}}),
                                    Packet({{42, test::U16Payload(1)}})})));
    EXPECT_TRUE(WaitUntil([&] { return replaced.load(); }));
    EXPECT_TRUE(server.WaitForPeerClose());
    EXPECT_EQ(listener.LateCallbacks(), 0);
    EXPECT_EQ(listener.Lines(), Lines{"event 10"});
}

TEST_F(EngineSocketTest, DisconnectInsideTheCallbackThenDestroyOnTheOwnerThread) {
    std::atomic<bool> disconnected{false};
    listener.onEvent = [&](int) {
        engine->Disconnect();
        listener.ForbidCallbacks();
        disconnected.store(true);
    };
    ConnectEngine();
    ASSERT_TRUE(server.Send(Concat(
        {Packet({{42, test::U16Payload(2)}, {100, Bytes(5, 1)}}), Packet({{100, Bytes(5, 1)}})})));
    EXPECT_TRUE(WaitUntil([&] { return disconnected.load(); }));
    engine.reset();  // waits for the receive thread it could not join itself
    EXPECT_EQ(CTCPClient_CE::ActiveReceiveThreads(), 0);
    EXPECT_EQ(listener.LateCallbacks(), 0);
}

}  // namespace
}  // namespace kavrel
