// kavrel-sim's exact bytes, read with a bare client: the answer records, the
// record-type options, every fault mode, --file, and how it treats bad options
// and bad input.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/SimulatorProcess.h"
#include "tests/tools/SimTestClient.h"
#include "tests/tools/TestH264Decoder.h"
#include "tools/sim/H264Encoder.h"
#include "tools/sim/SimFaults.h"
#include "tools/sim/TestPattern.h"

namespace kavrel::test {
namespace {

// A simulator that must end cleanly: its exit status after SIGTERM is 0 unless
// it crashed or a sanitizer found something in it.
class Simulator : public SimulatorProcess {
  public:
    ~Simulator() { EXPECT_EQ(Stop(), 0) << Log(); }
};

using Args = std::vector<std::string>;

StreamFormatInfo FormatOf(const WireRecord& record) {
    StreamFormatInfo info;
    std::copy_n(record.payload.begin(), std::min<size_t>(40, record.payload.size()),
                info.bytes.begin());
    return info;
}

// Logs in as admin and reads the answer packet and the stream format packet.
void LoginAndReadFormat(SimTestClient& client, uint16_t port, ProtocolVariant variant, int channel,
                        WirePacket& answer, StreamFormatInfo& format) {
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(client.SendLogin("admin", "admin", channel, variant));
    ASSERT_TRUE(client.ReadPacket(answer));
    ASSERT_NE(answer.Find(wire::kLoginAnswer), nullptr);
    WirePacket packet;
    ASSERT_TRUE(client.ReadPacket(packet));
    ASSERT_EQ(packet.records.size(), 1u);
    ASSERT_EQ(packet.records[0].type, 199);
    format = FormatOf(packet.records[0]);
}

// Reads `count` video packets; each holds exactly one video record.
void ReadVideo(SimTestClient& client, int count, std::vector<WireRecord>& frames) {
    for (int i = 0; i < count; ++i) {
        WirePacket packet;
        ASSERT_TRUE(client.ReadPacket(packet)) << "video packet " << i;
        ASSERT_EQ(packet.records.size(), 1u);
        ASSERT_TRUE(IsVideoType(packet.records[0].type)) << packet.records[0].type;
        frames.push_back(packet.records[0]);
    }
}

TEST(SimulatorWireTest, AnswerCarriesVersionResultAndServerInformationInEachDialect) {
    struct Case {
        const char* version;
        ProtocolVariant variant;
        uint16_t second;
        uint16_t deltaType;
    } cases[] = {{"5", ProtocolVariant::Current, 0, 101}, {"3", ProtocolVariant::Legacy, 7, 102}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        Simulator sim;
        ASSERT_TRUE(sim.Start({"--version", c.version, "--channels", "9"})) << sim.Log();
        SimTestClient client;
        WirePacket answer;
        StreamFormatInfo format;
        LoginAndReadFormat(client, sim.Port(), c.variant, 8, answer, format);
        EXPECT_EQ(answer.sequence, 0u);
        ASSERT_EQ(answer.records.size(), 3u);
        EXPECT_EQ(answer.records[0].type, wire::kVersionInfo);
        ASSERT_EQ(answer.records[0].payload.size(), 4u);
        EXPECT_EQ(wire::ReadU16(answer.records[0].payload.data()), std::stoi(c.version));
        EXPECT_EQ(wire::ReadU16(answer.records[0].payload.data() + 2), c.second);
        EXPECT_EQ(answer.records[1].payload, (std::vector<uint8_t>{1, 0, 0, 0}));
        EXPECT_EQ(answer.records[2].type, wire::kDvsInfoAnswer);
        ASSERT_EQ(answer.records[2].payload.size(), 72u);
        EXPECT_EQ(answer.records[2].payload[68], 9);
        EXPECT_EQ(format.Width(), 352);
        EXPECT_EQ(format.Height(), 288);
        EXPECT_EQ(format.FramesPerSecond(), 25);

        std::vector<WireRecord> frames;
        ReadVideo(client, 2, frames);
        EXPECT_EQ(frames[0].type, 100);
        EXPECT_EQ(frames[1].type, c.deltaType);
    }
}

TEST(SimulatorWireTest, RecordTypesFollowTheOptions) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--key-type", "104", "--frame-type", "112", "--format-type", "203",
                           "--gop", "2", "--fps", "50"}))
        << sim.Log();
    SimTestClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.SendLogin("admin", "admin", 0, ProtocolVariant::Current));
    WirePacket packet;
    ASSERT_TRUE(client.ReadPacket(packet));
    ASSERT_TRUE(client.ReadPacket(packet));
    EXPECT_EQ(packet.records.at(0).type, 203);
    std::vector<WireRecord> frames;
    ReadVideo(client, 4, frames);
    EXPECT_EQ(frames[0].type, 104);
    EXPECT_EQ(frames[1].type, 112);
    EXPECT_EQ(frames[2].type, 104);  // a key frame every 2 frames
    EXPECT_EQ(frames[3].type, 112);
}

TEST(SimulatorWireTest, CloseFaultEndsTheConnectionAfterTheFrames) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--fault", "close", "--fault-frames", "3", "--fps", "50"})) << sim.Log();
    SimTestClient client;
    WirePacket answer;
    StreamFormatInfo format;
    LoginAndReadFormat(client, sim.Port(), ProtocolVariant::Current, 0, answer, format);
    std::vector<WireRecord> frames;
    ReadVideo(client, 3, frames);
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_TRUE(sim.WaitForLog("closing after 3 frames (fault close)")) << sim.Log();
}

TEST(SimulatorWireTest, StallFaultStopsSendingButKeepsTheConnection) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--fault", "stall", "--fault-frames", "2", "--fps", "50"})) << sim.Log();
    SimTestClient client;
    WirePacket answer;
    StreamFormatInfo format;
    LoginAndReadFormat(client, sim.Port(), ProtocolVariant::Current, 0, answer, format);
    std::vector<WireRecord> frames;
    ReadVideo(client, 2, frames);
    ASSERT_TRUE(sim.WaitForLog("stalling after 2 frames")) << sim.Log();
    // The PTZ command is read and logged, and not even answered.
    ASSERT_TRUE(client.SendPtz(0, wire::kPtzUp, ProtocolVariant::Current));
    ASSERT_TRUE(sim.WaitForLog("ptz: channel 0, command up (9)")) << sim.Log();
    EXPECT_TRUE(client.NothingPending());
}

TEST(SimulatorWireTest, OneShotFaultsStrikeAfterTheFramesThenStreamingGoesOn) {
    for (const char* fault : {"garbage", "short-header", "long-packet"}) {
        SCOPED_TRACE(fault);
        Simulator sim;
        ASSERT_TRUE(sim.Start(
            {"--fault", fault, "--fault-frames", "2", "--garbage-bytes", "100", "--fps", "50"}))
            << sim.Log();
        SimTestClient client;
        WirePacket answer;
        StreamFormatInfo format;
        LoginAndReadFormat(client, sim.Port(), ProtocolVariant::Current, 0, answer, format);
        std::vector<WireRecord> frames;
        ReadVideo(client, 2, frames);
        if (std::string(fault) == "garbage") {
            std::vector<uint8_t> garbage;
            ASSERT_TRUE(client.ReadExact(100, garbage));
            EXPECT_EQ(garbage, sim::GarbageBytes(100, 1));  // seeded by the connection number
        } else if (std::string(fault) == "short-header") {
            WirePacket header;
            EXPECT_FALSE(client.ReadPacket(header));
            EXPECT_EQ(header.length, 2u);
        } else {
            WirePacket packet;
            ASSERT_TRUE(client.ReadPacket(packet));
            EXPECT_EQ(packet.length + 4, sim::kLongPacketBytes);
            EXPECT_GT(packet.length, 200000u);
            ASSERT_EQ(packet.records.size(), 4u);
            for (const WireRecord& r : packet.records) {
                EXPECT_EQ(r.type, 97);
                EXPECT_EQ(r.payload.size(), 65535u);
            }
        }
        ReadVideo(client, 1, frames);
    }
}

TEST(SimulatorWireTest, NoLoginAnswerFaultReadsTheLoginAndSendsNothing) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--fault", "no-login-answer"})) << sim.Log();
    SimTestClient client;
    ASSERT_TRUE(client.Connect(sim.Port()));
    ASSERT_TRUE(client.SendLogin("admin", "admin", 0, ProtocolVariant::Current));
    ASSERT_TRUE(client.SendPtz(0, wire::kPtzLeft, ProtocolVariant::Current));
    // The sim handles requests in order: once the PTZ is logged, the login was handled.
    ASSERT_TRUE(sim.WaitForLog("before a login: ignored")) << sim.Log();
    EXPECT_TRUE(
        sim.WaitForLog("login not answered (fault no-login-answer)", 1, Simulator::Lines::Exactly));
    EXPECT_TRUE(client.NothingPending());
}

TEST(SimulatorWireTest, FlipVersionAlternatesTheAnnouncedDialect) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--fault", "flip-version"})) << sim.Log();
    const struct {
        uint16_t version;
        size_t records;  // a login in the other dialect gets the version record alone
    } expected[] = {{5, 3}, {3, 1}, {5, 3}};
    for (const auto& e : expected) {
        SimTestClient client;
        ASSERT_TRUE(client.Connect(sim.Port()));
        ASSERT_TRUE(client.SendLogin("admin", "admin", 0, ProtocolVariant::Current));
        WirePacket answer;
        ASSERT_TRUE(client.ReadPacket(answer));
        ASSERT_EQ(answer.records.size(), e.records);
        EXPECT_EQ(wire::ReadU16(answer.records[0].payload.data()), e.version);
    }
}

TEST(SimulatorWireTest, SizeFaultsShapeTheAnnouncementAndThePictures) {
    struct Case {
        Args args;
        int announcedWidth, announcedHeight;
        int pictureWidth, pictureHeight;
    } cases[] = {
        {{"--fault", "larger-picture", "--fault-size", "704x576"}, 352, 288, 704, 576},
        {{"--fault", "absurd-size"}, 65535, 65535, 352, 288},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        Simulator sim;
        ASSERT_TRUE(sim.Start(c.args)) << sim.Log();
        SimTestClient client;
        WirePacket answer;
        StreamFormatInfo format;
        LoginAndReadFormat(client, sim.Port(), ProtocolVariant::Current, 2, answer, format);
        EXPECT_EQ(format.Width(), c.announcedWidth);
        EXPECT_EQ(format.Height(), c.announcedHeight);
        std::vector<WireRecord> frames;
        ReadVideo(client, 1, frames);
        TestH264Decoder decoder;
        sim::YuvPicture picture;
        ASSERT_TRUE(decoder.Decode(frames[0].payload, picture));
        EXPECT_EQ(picture.width, c.pictureWidth);
        EXPECT_EQ(picture.height, c.pictureHeight);
        EXPECT_TRUE(CornersMatch(picture, 2));
    }
}

TEST(SimulatorWireTest, ResizeFaultAnnouncesEachNewSizeBeforeItsKeyFrame) {
    Simulator sim;
    ASSERT_TRUE(sim.Start(
        {"--fault", "resize", "--fault-frames", "3", "--fault-size", "176x144", "--fps", "50"}))
        << sim.Log();
    SimTestClient client;
    WirePacket answer;
    StreamFormatInfo format;
    LoginAndReadFormat(client, sim.Port(), ProtocolVariant::Current, 0, answer, format);
    TestH264Decoder decoder;
    sim::YuvPicture picture;
    const int sizes[][2] = {{352, 288}, {176, 144}, {352, 288}};
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 3; ++i) {
            WirePacket packet;
            std::vector<StreamFormatInfo> formats;
            ASSERT_TRUE(client.ReadVideoPacket(packet, &formats));
            const bool first = i == 0 && round > 0;
            ASSERT_EQ(formats.size(), first ? 1u : 0u) << "round " << round << " frame " << i;
            if (first) {
                EXPECT_EQ(formats[0].Width(), sizes[round][0]);
                EXPECT_EQ(packet.records[0].type, 100);
            }
            ASSERT_TRUE(decoder.Decode(packet.records[0].payload, picture));
            EXPECT_EQ(picture.width, sizes[round][0]);
            EXPECT_EQ(picture.height, sizes[round][1]);
        }
    }
}

TEST(SimulatorWireTest, OneByteWritesStillMakeAValidStream) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--fault", "one-byte-writes", "--size", "176x144", "--fps", "50"}))
        << sim.Log();
    SimTestClient client;
    WirePacket answer;
    StreamFormatInfo format;
    LoginAndReadFormat(client, sim.Port(), ProtocolVariant::Current, 1, answer, format);
    std::vector<WireRecord> frames;
    ReadVideo(client, 3, frames);
    TestH264Decoder decoder;
    sim::YuvPicture picture;
    for (const WireRecord& frame : frames) {
        ASSERT_TRUE(decoder.Decode(frame.payload, picture));
        EXPECT_TRUE(CornersMatch(picture, 1));
    }
}

TEST(SimulatorWireTest, FileIsStreamedAccessUnitByAccessUnitAndLoops) {
    // Ten frames of the pattern, a key frame every five.
    sim::H264Encoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.Open({176, 144, 25, 256000, 5}, error)) << error;
    sim::TestPattern pattern(176, 144);
    sim::YuvPicture picture;
    std::vector<sim::EncodedFrame> units(10);
    std::string path = ::testing::TempDir() + "kavrel-sim-clip-XXXXXX";
    const int fd = ::mkstemp(path.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream file(path, std::ios::binary);
        for (uint64_t i = 0; i < units.size(); ++i) {
            pattern.Render(0, i, {}, picture);
            ASSERT_TRUE(encoder.Encode(picture, false, units[i], error)) << error;
            file.write(reinterpret_cast<const char*>(units[i].bytes.data()),
                       long(units[i].bytes.size()));
        }
    }
    Simulator sim;
    const bool started = sim.Start({"--file", path, "--fps", "100"});
    std::remove(path.c_str());  // read whole at start
    ASSERT_TRUE(started) << sim.Log();

    SimTestClient client;
    WirePacket answer;
    StreamFormatInfo format;
    LoginAndReadFormat(client, sim.Port(), ProtocolVariant::Current, 0, answer, format);
    EXPECT_EQ(format.Width(), 176);  // found by decoding the file
    EXPECT_EQ(format.Height(), 144);
    std::vector<WireRecord> frames;
    ReadVideo(client, 25, frames);
    for (size_t i = 0; i < frames.size(); ++i) {
        const sim::EncodedFrame& unit = units[i % units.size()];
        EXPECT_EQ(frames[i].payload, unit.bytes) << "record " << i;
        EXPECT_EQ(frames[i].type, unit.key ? 100 : 101) << "record " << i;
    }
}

TEST(SimulatorWireTest, BadOptionsEndTheProgramWithStatus2) {
    const Args cases[] = {
        {"--channels", "33"},
        {"--channels", "0"},
        {"--size", "351x288"},
        {"--fps", "fast"},
        {"--fault", "everything"},
        {"--frame-type", "100"},
        {"--no-such-option", "1"},
        {"--file", "x.264", "--fault", "resize"},
        {"--user"},
    };
    for (const Args& args : cases) {
        SCOPED_TRACE(args[0]);
        SimulatorProcess sim;  // exits with status 2, checked below
        EXPECT_FALSE(sim.Start(args));
        EXPECT_EQ(sim.Stop(), 2) << sim.Log();
    }
}

TEST(SimulatorWireTest, MalformedViewerPacketsEndTheirConnectionOnly) {
    Simulator sim;
    ASSERT_TRUE(sim.Start()) << sim.Log();
    for (uint32_t length : {2u, 100000u}) {
        SimTestClient client;
        ASSERT_TRUE(client.Connect(sim.Port()));
        uint8_t header[8] = {};
        wire::WriteU32BE(header, length);
        ASSERT_TRUE(client.Send(header));
        EXPECT_TRUE(client.WaitClosed()) << length;
    }
    EXPECT_TRUE(sim.WaitForLog("malformed packet from the viewer", 2)) << sim.Log();
    SimTestClient client;  // the server itself goes on
    WirePacket answer;
    StreamFormatInfo format;
    LoginAndReadFormat(client, sim.Port(), ProtocolVariant::Current, 0, answer, format);
}

TEST(SimulatorWireTest, ConnectionsBeyondTheLimitAreClosedAtOnce) {
    Simulator sim;
    ASSERT_TRUE(sim.Start({"--max-connections", "1"})) << sim.Log();
    SimTestClient first;
    WirePacket answer;
    StreamFormatInfo format;
    LoginAndReadFormat(first, sim.Port(), ProtocolVariant::Current, 0, answer, format);
    SimTestClient second;
    ASSERT_TRUE(second.Connect(sim.Port()));
    EXPECT_TRUE(second.WaitClosed());
    EXPECT_TRUE(sim.WaitForLog("closed at once: 1 viewers already served")) << sim.Log();
}

}  // namespace
}  // namespace kavrel::test
