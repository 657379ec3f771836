// The engine's buffering and dispatch, fed directly through Append (no socket).

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "protocol/CProtocolEngine.h"
#include "tests/protocol/RecordingListener.h"
#include "tests/protocol/TestPackets.h"
#include "tests/support/DebugCapture.h"

namespace kavrel {
namespace {

using test::Bytes;
using test::Concat;
using test::Packet;
using test::Pattern;
using test::U16Payload;
using Lines = std::vector<std::string>;

std::string VideoLine(int key, const Bytes& payload) {
    char line[96];
    std::snprintf(line, sizeof line, "video key=%d len=%zu fnv=%08x", key, payload.size(),
                  unsigned(test::Fnv1a(payload.data(), payload.size())));
    return line;
}

class EngineTest : public ::testing::Test {
  protected:
    std::unique_ptr<CProtocolEngine> MakeEngine(ProtocolVariant variant) {
        auto engine = std::make_unique<CProtocolEngine>(&listener);
        engine->SendLogin(u"user", u"pw", 0, variant);  // sets the variant; no client, nothing sent
        debug.Clear();
        return engine;
    }
    static bool Feed(CProtocolEngine& engine, const Bytes& bytes) {
        return engine.Append(bytes.data(), int(bytes.size()));
    }
    // Feeds `bytes` in pieces of `chunk` bytes, as the client's reads would.
    static bool FeedInChunks(CProtocolEngine& engine, const Bytes& bytes, size_t chunk) {
        bool ok = true;
        for (size_t at = 0; at < bytes.size() && ok; at += chunk) {
            const size_t n = std::min(chunk, bytes.size() - at);
            ok = engine.Append(bytes.data() + at, int(n));
        }
        return ok;
    }

    test::DebugCapture debug;
    test::RecordingListener listener;
};

// One record per case: what the listener hears and what the debug output says.
struct RecordCase {
    const char* name;
    ProtocolVariant variant;
    uint16_t type;
    Bytes payload;
    Lines callbacks;
    Lines debugLines;
};

const Bytes kFrame = Pattern(37, 1);
const Bytes kFormat40 = test::FormatPayload(352, 288, 25, 512000);

Bytes WithTail(Bytes bytes, size_t extra) {
    bytes.resize(bytes.size() + extra, 0xEE);
    return bytes;
}

Bytes DvsPayload(size_t size) {
    Bytes bytes(size, 0);
    if (size > 68)
        bytes[68] = 8;
    return bytes;
}

std::vector<RecordCase> RecordCases() {
    const auto C = ProtocolVariant::Current;
    const auto L = ProtocolVariant::Legacy;
    const std::string format = "format 352x288 fps=25 rate=512000";
    return {
        {"LoginAccepted",
         C,
         42,
         U16Payload(1),
         {"event 4"},
         {"TLV_T_LOGIN_ANSWER\n", "Login succeed\n"}},
        {"LoginRefused",
         L,
         42,
         U16Payload(2),
         {"event 5"},
         {"TLV_T_LOGIN_ANSWER\n", "Login failed\n"}},
        {"LoginAnswerTooShort", C, 42, {1, 0, 0}, {}, {"TLV_T_LOGIN_ANSWER\n"}},
        {"ControlAnswer", C, 52, {}, {}, {"TLV_T_CONTROL_ANSWER\n"}},
        {"ChannelAnswer", L, 65, U16Payload(0), {}, {"TLV_T_CHANNLE_ANSWER\n"}},
        {"PhoneInfoAnswer", C, 73, {}, {}, {"TLV_T_PHONE_INFO_ANSWER\n"}},
        {"DvsInfoRequest", C, 70, DvsPayload(72), {"dvs channels=8"}, {"TLV_T_DVS_INFO_REQUEST\n"}},
        {"DvsInfoAnswer", C, 71, DvsPayload(80), {"dvs channels=8"}, {}},
        {"DvsInfoTooShort", C, 71, DvsPayload(71), {}, {}},
        {"Skipped97", C, 97, kFrame, {}, {}},
        {"Skipped99", L, 99, kFrame, {}, {}},
        {"KeyFrame100Current", C, 100, kFrame, {VideoLine(1, kFrame)}, {}},
        {"KeyFrame104Legacy", L, 104, kFrame, {VideoLine(1, kFrame)}, {}},
        {"EmptyKeyFrame", C, 100, {}, {VideoLine(1, {})}, {}},
        {"Frame101Current", C, 101, kFrame, {VideoLine(0, kFrame)}, {}},
        {"Frame101Legacy", L, 101, kFrame, {}, {"TLV_T_VIDEO_FRAME_INFO_EX\n"}},
        {"Frame102Current", C, 102, kFrame, {}, {}},
        {"Frame102Legacy", L, 102, kFrame, {VideoLine(0, kFrame)}, {}},
        {"Frame112Current", C, 112, kFrame, {VideoLine(0, kFrame)}, {}},
        {"Frame112Legacy", L, 112, kFrame, {VideoLine(0, kFrame)}, {}},
        {"StreamFormat199",
         C,
         199,
         kFormat40,
         {"event 4", format},
         {"TLV_T_STREAM_FORMAT_INFO:199\n"}},
        {"StreamFormat203Long",
         L,
         203,
         WithTail(kFormat40, 4),
         {"event 4", format},
         {"TLV_T_STREAM_FORMAT_INFO:203\n"}},
        {"StreamFormatTooShort",
         C,
         200,
         Bytes(kFormat40.begin(), kFormat40.end() - 1),
         {},
         {"TLV_T_STREAM_FORMAT_INFO:200\n"}},
        {"Type202IsUnknown", C, 202, kFormat40, {}, {"Unknow command:202\n"}},
        {"UnknownType", L, 1000, {}, {}, {"Unknow command:1000\n"}},
        {"Version3OnCurrent", C, 40, U16Payload(3), {"event 9"}, {}},
        {"Version3OnLegacy", L, 40, U16Payload(3), {}, {}},
        {"Version4OnLegacyAlt", L, 39, U16Payload(4), {}, {}},
        {"Version5OnLegacy", L, 40, U16Payload(5), {"event 10"}, {}},
        {"Version5OnLegacyAlt", L, 39, U16Payload(5, 9), {"event 10"}, {}},
        {"Version7OnCurrent", C, 40, U16Payload(7), {}, {}},
        {"VersionTooShort", C, 40, {3}, {}, {}},
    };
}

class RecordDispatchTest : public EngineTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RecordDispatchTest, CallbacksAndDebugLines) {
    const RecordCase& c = GetParam();
    auto engine = MakeEngine(c.variant);
    // The record sits between two key frames, so a mis-sized record shows up
    // as a wrong or missing neighbour.
    const Bytes packet = Packet({{100, Pattern(5, 7)}, {c.type, c.payload}, {100, Pattern(6, 8)}});
    ASSERT_TRUE(Feed(*engine, packet));

    Lines expected = {VideoLine(1, Pattern(5, 7))};
    expected.insert(expected.end(), c.callbacks.begin(), c.callbacks.end());
    expected.push_back(VideoLine(1, Pattern(6, 8)));
    EXPECT_EQ(listener.Lines(), expected);
    EXPECT_EQ(debug.Lines(), c.debugLines);
}

INSTANTIATE_TEST_SUITE_P(Table, RecordDispatchTest, ::testing::ValuesIn(RecordCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, StreamFormatIsKeptWhole) {
    auto engine = MakeEngine(ProtocolVariant::Current);
    const Bytes payload = WithTail(Pattern(40, 3), 4);
    ASSERT_TRUE(Feed(*engine, Packet({{201, payload}})));
    EXPECT_EQ(
        Bytes(engine->LastStreamFormat().bytes.begin(), engine->LastStreamFormat().bytes.end()),
        Bytes(payload.begin(), payload.begin() + 40));
}

TEST_F(EngineTest, VariantFollowsTheLastLogin) {
    CProtocolEngine engine(&listener);
    EXPECT_EQ(engine.Variant(), ProtocolVariant::Current);
    engine.SendLogin(u"a", u"", 0, ProtocolVariant::Legacy);
    EXPECT_EQ(engine.Variant(), ProtocolVariant::Legacy);
    EXPECT_EQ(debug.Count("Login to server\n"), 1);
    engine.SendPtz(0, wire::kPtzUp);
    engine.SendChannel(0, 1);
    EXPECT_EQ(debug.Lines(), (Lines{"Login to server\n", "Send PTZ command to server\n",
                                    "Send channel command to server\n"}));
}

TEST_F(EngineTest, EmptyPacketAndLeftoverBytesAreConsumedSilently) {
    auto engine = MakeEngine(ProtocolVariant::Current);
    // A packet of length 4, then one whose records leave 3 stray bytes, then
    // one whose second record claims more bytes than the packet holds.
    Bytes stray = Packet({{100, kFrame}});
    stray.insert(stray.end(), {1, 2, 3});
    wire::WriteU32BE(stray.data(), uint32_t(stray.size() - 4));
    Bytes overlong = Packet({{112, Pattern(3, 1)}, {100, Pattern(10, 2)}});
    overlong.resize(overlong.size() - 4);
    wire::WriteU32BE(overlong.data(), uint32_t(overlong.size() - 4));
    const Bytes last = Packet({{112, kFrame}});

    ASSERT_TRUE(Feed(*engine, Concat({test::RawHeader(4), stray, overlong, last})));
    EXPECT_EQ(listener.Lines(),
              (Lines{VideoLine(1, kFrame), VideoLine(0, Pattern(3, 1)), VideoLine(0, kFrame)}));
    EXPECT_TRUE(debug.Lines().empty());
}

Bytes MixedStream() {
    return Concat({
        Packet({{40, U16Payload(5)}, {42, U16Payload(1)}}),
        Packet({{71, DvsPayload(72)}}),
        Packet({{199, kFormat40}, {100, Pattern(3000, 1)}}),
        test::RawHeader(4),
        Packet({{101, Pattern(1, 2)}, {112, Pattern(700, 3)}, {104, Pattern(12000, 4)}}),
        Packet({{202, {}}, {101, Pattern(9, 5)}}),
    });
}

TEST_F(EngineTest, AnyCutOfTheStreamGivesTheSameCallbacks) {
    const Bytes stream = MixedStream();
    auto reference = MakeEngine(ProtocolVariant::Current);
    ASSERT_TRUE(Feed(*reference, stream));
    const Lines expected = listener.Lines();
    ASSERT_EQ(expected.size(), 9u);

    // Every split point into two reads.
    for (size_t split = 1; split < stream.size(); ++split) {
        test::RecordingListener cut;
        auto engine = std::make_unique<CProtocolEngine>(&cut);
        ASSERT_TRUE(engine->Append(stream.data(), int(split)));
        ASSERT_TRUE(engine->Append(stream.data() + split, int(stream.size() - split)));
        ASSERT_EQ(cut.Lines(), expected) << "split at " << split;
    }
    // One byte per read, then many random cuts.
    std::mt19937 random(12345);
    for (int round = 0; round < 100; ++round) {
        test::RecordingListener cut;
        auto engine = std::make_unique<CProtocolEngine>(&cut);
        const size_t maxPiece = round == 0 ? 1 : 1 + random() % 4000;
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min(stream.size() - at, 1 + random() % maxPiece);
            ASSERT_TRUE(engine->Append(stream.data() + at, int(n)));
            at += n;
        }
        ASSERT_EQ(cut.Lines(), expected) << "round " << round;
    }
}

TEST_F(EngineTest, TwoAndAHalfPacketsInOneChunk) {
    auto engine = MakeEngine(ProtocolVariant::Current);
    const Bytes a = Packet({{100, Pattern(50, 1)}});
    const Bytes b = Packet({{112, Pattern(60, 2)}});
    const Bytes c = Packet({{104, Pattern(70, 3)}});
    const size_t half = c.size() / 2;
    Bytes chunk = Concat({a, b});
    chunk.insert(chunk.end(), c.begin(), c.begin() + long(half));

    ASSERT_TRUE(Feed(*engine, chunk));
    EXPECT_EQ(listener.Lines(),
              (Lines{VideoLine(1, Pattern(50, 1)), VideoLine(0, Pattern(60, 2))}));
    ASSERT_TRUE(Feed(*engine, Bytes(c.begin() + long(half), c.end())));
    EXPECT_EQ(listener.Count(), 3u);
    EXPECT_EQ(listener.Lines().back(), VideoLine(1, Pattern(70, 3)));
}

TEST_F(EngineTest, CompactionAtTheBufferEndKeepsTheStreamIntact) {
    // Packets of odd sizes fed in 10240-byte reads run the write position into
    // the end of the buffer many times, each time with a packet cut in two.
    Bytes stream;
    Lines expected;
    for (uint32_t i = 0; stream.size() < 5 * CProtocolEngine::kReceiveBufferSize; ++i) {
        const Bytes payload = Pattern(1000 + (i * 7919) % 30000, i);
        stream = Concat({stream, Packet({{112, payload}})});
        expected.push_back(VideoLine(0, payload));
    }
    auto engine = MakeEngine(ProtocolVariant::Current);
    ASSERT_TRUE(FeedInChunks(*engine, stream, 10240));
    EXPECT_EQ(listener.Lines(), expected);
}

TEST_F(EngineTest, PacketFillingTheWholeBufferCompletesAfterCompaction) {
    // Four records make a packet of exactly the buffer's size. A small packet
    // before it leaves the read position off the start, so the large one's
    // bytes plus one read exceed the buffer: it must still arrive whole, and
    // the packet behind it too.
    const size_t recordBytes = (CProtocolEngine::kReceiveBufferSize - 8) / 4 - 4;
    ASSERT_EQ(8 + 4 * (recordBytes + 4), CProtocolEngine::kReceiveBufferSize);
    std::vector<test::Record> records;
    Lines expected = {VideoLine(1, Pattern(100, 9))};
    for (uint32_t i = 0; i < 4; ++i) {
        records.push_back({102, Pattern(recordBytes, i)});
        expected.push_back(VideoLine(0, records.back().payload));
    }
    expected.push_back(VideoLine(1, Pattern(200, 10)));
    const Bytes stream = Concat(
        {Packet({{100, Pattern(100, 9)}}), Packet(records), Packet({{104, Pattern(200, 10)}})});

    auto engine = MakeEngine(ProtocolVariant::Legacy);
    ASSERT_TRUE(FeedInChunks(*engine, stream, 10240));
    EXPECT_EQ(listener.Lines(), expected);
}

struct MalformedCase {
    const char* name;
    uint32_t length;
};

class MalformedHeaderTest : public EngineTest,
                            public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedHeaderTest, EndsTheStreamAndDispatchesNothingPastIt) {
    auto engine = MakeEngine(ProtocolVariant::Current);
    const Bytes before = Packet({{100, Pattern(20, 1)}});
    const Bytes after = Packet({{100, Pattern(30, 2)}});
    // Everything in one chunk: the packet before is dispatched, nothing after.
    EXPECT_FALSE(Feed(*engine, Concat({before, test::RawHeader(GetParam().length), after})));
    EXPECT_EQ(listener.Lines(), (Lines{VideoLine(1, Pattern(20, 1))}));
    // The engine stays failed and buffers nothing more.
    EXPECT_FALSE(Feed(*engine, after));
    EXPECT_FALSE(Feed(*engine, {}));
    EXPECT_EQ(listener.Count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Headers, MalformedHeaderTest,
                         ::testing::Values(MalformedCase{"Length0", 0}, MalformedCase{"Length3", 3},
                                           MalformedCase{
                                               "OneByteOverTheBuffer",
                                               uint32_t(CProtocolEngine::kReceiveBufferSize - 3)},
                                           MalformedCase{"Huge", 0xFFFFFFFFu}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, PacketOfExactlyTheBufferSizeIsAwaitedNotRejected) {
    auto engine = MakeEngine(ProtocolVariant::Current);
    EXPECT_TRUE(Feed(*engine, test::RawHeader(uint32_t(CProtocolEngine::kReceiveBufferSize - 4))));
    EXPECT_TRUE(Feed(*engine, Pattern(10000, 1)));
    EXPECT_EQ(listener.Count(), 0u);
}

TEST_F(EngineTest, GarbageNeverReadsPastTheBytesItWasGiven) {
    // Random headers and records, many of them inconsistent, cut at random.
    // The listener hashes every video payload, so under AddressSanitizer an
    // out-of-range pointer or length fails here; once refused, always refused.
    std::mt19937 random(777);
    for (int round = 0; round < 300; ++round) {
        Bytes stream;
        while (stream.size() < 20000) {
            const size_t packetSize = 8 + random() % 400;
            Bytes packet = Pattern(packetSize, uint32_t(random()));
            const uint32_t length =
                random() % 8 == 0 ? uint32_t(random() % 8) : uint32_t(packetSize - 4);
            wire::WriteU32BE(packet.data(), length);
            for (size_t at = 8; at + 4 <= packetSize; at += 4 + packet[at + 2]) {
                const uint16_t types[] = {39, 40, 42, 70, 71, 100, 101, 102, 104, 112, 199, 203};
                wire::WriteU16(packet.data() + at, types[random() % 12]);
                packet[at + 3] = 0;
            }
            stream = Concat({stream, packet});
        }
        test::RecordingListener own;
        auto engine = std::make_unique<CProtocolEngine>(&own);
        engine->SendLogin(u"u", u"", 0,
                          round % 2 ? ProtocolVariant::Legacy : ProtocolVariant::Current);
        bool refused = false;
        for (size_t at = 0; at < stream.size();) {
            const size_t n = std::min(stream.size() - at, 1 + random() % 10240);
            const bool accepted = engine->Append(stream.data() + at, int(n));
            ASSERT_FALSE(refused && accepted);
            refused = !accepted;
            at += n;
        }
    }
}

TEST_F(EngineTest, NoCallbackAfterDisconnect) {
    auto engine = MakeEngine(ProtocolVariant::Current);
    const Bytes first = Packet({{100, kFrame}});
    const Bytes tail = Packet({{112, kFrame}, {42, U16Payload(1)}});
    // Half of a packet is buffered when the engine is disconnected.
    ASSERT_TRUE(Feed(*engine, Concat({first, Bytes(tail.begin(), tail.begin() + 10)})));
    engine->Disconnect();
    listener.ForbidCallbacks();
    EXPECT_TRUE(Feed(*engine, Bytes(tail.begin() + 10, tail.end())));
    EXPECT_TRUE(Feed(*engine, Packet({{199, kFormat40}, {40, U16Payload(3)}})));
    EXPECT_EQ(listener.LateCallbacks(), 0);
    EXPECT_EQ(listener.Count(), 1u);
}

TEST_F(EngineTest, ListenerMayDisconnectFromInsideACallback) {
    auto engine = MakeEngine(ProtocolVariant::Current);
    CProtocolEngine* raw = engine.get();
    listener.onEvent = [&](int code) {
        if (code == CServerNotify::EVENT_USE_LEGACY) {
            raw->Disconnect();
            listener.ForbidCallbacks();
        }
    };
    ASSERT_TRUE(Feed(*engine, Concat({Packet({{40, U16Payload(3)}, {100, kFrame}}),
                                      Packet({{42, U16Payload(1)}})})));
    EXPECT_EQ(listener.Lines(), (Lines{"event 9"}));
    EXPECT_EQ(listener.LateCallbacks(), 0);
}

TEST_F(EngineTest, ListenerMayDestroyTheEngineFromInsideACallback) {
    // The variant switch done synchronously: the listener disconnects and
    // destroys the engine while its dispatcher is the caller. Under
    // AddressSanitizer any later touch of the engine is a failure. Type 199
    // destroys it on event 4, before OnStreamFormat would be called.
    const std::vector<test::Record> triggers = {
        {40, U16Payload(3)}, {39, U16Payload(3)}, {100, kFrame}, {199, kFormat40}};
    for (const test::Record& trigger : triggers) {
        test::RecordingListener own;
        auto* engine = new CProtocolEngine(&own);
        engine->SendLogin(u"u", u"", 0, ProtocolVariant::Current);
        auto destroy = [&] {
            engine->Disconnect();
            delete engine;
            engine = nullptr;
            own.ForbidCallbacks();
        };
        own.onEvent = [&](int) { destroy(); };
        own.onVideo = destroy;
        const Bytes stream =
            Concat({Packet({trigger, {100, kFrame}}), Packet({{42, U16Payload(1)}}), Bytes(9, 0)});
        EXPECT_TRUE(engine->Append(stream.data(), int(stream.size())));
        EXPECT_EQ(engine, nullptr) << "type " << trigger.type;
        EXPECT_EQ(own.Count(), 1u) << "type " << trigger.type;
        EXPECT_EQ(own.LateCallbacks(), 0) << "type " << trigger.type;
    }
}

}  // namespace
}  // namespace kavrel
