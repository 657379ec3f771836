// The simulator's byte-level parts: cutting an Annex B file into access
// units, reading the viewer's packets, and the fault modes' bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "protocol/WireFormat.h"
#include "tools/sim/AnnexBClip.h"
#include "tools/sim/H264Encoder.h"
#include "tools/sim/SimFaults.h"
#include "tools/sim/TestPattern.h"
#include "tools/sim/ViewerConnection.h"

namespace kavrel::sim {
namespace {

// One NAL unit: start code, header byte, for slices first_mb_in_slice (0 or
// 1), then two payload bytes.
struct Nal {
    int type;
    bool firstSlice = true;
    bool longStartCode = false;
};

std::vector<uint8_t> Stream(const std::vector<Nal>& nals, std::vector<size_t>* starts = nullptr) {
    std::vector<uint8_t> bytes;
    for (const Nal& nal : nals) {
        if (starts)
            starts->push_back(bytes.size());
        if (nal.longStartCode)
            bytes.push_back(0);
        bytes.insert(bytes.end(), {0, 0, 1, uint8_t(0x60 | nal.type)});
        if (nal.type == 1 || nal.type == 5)
            bytes.push_back(nal.firstSlice ? 0x80 : 0x40);
        bytes.insert(bytes.end(), {0x11, 0x22});
    }
    return bytes;
}

TEST(SplitAccessUnitsTest, UnitsStartWhereTheStandardSays) {
    const struct {
        const char* name;
        std::vector<Nal> nals;
        std::vector<size_t> firstNal;  // index of each unit's first NAL
        std::vector<bool> keys;
    } cases[] = {
        {"parameter sets join the key frame",
         {{7}, {8}, {5}, {1}, {1}},
         {0, 3, 4},
         {true, false, false}},
        {"a second slice of a picture stays",
         {{9}, {7}, {8}, {5}, {5, false}, {9}, {1}, {1, false}},
         {0, 5},
         {true, false}},
        {"SEI opens a unit after a slice", {{6}, {5}, {6}, {1}}, {0, 2}, {true, false}},
        {"four-byte start codes",
         {{7, true, true}, {5, true, true}, {1, true, true}},
         {0, 2},
         {true, false}},
        {"trailing parameter sets without a slice are dropped",
         {{5}, {1}, {7}, {8}},
         {0, 1},
         {true, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<size_t> starts;
        const std::vector<uint8_t> bytes = Stream(c.nals, &starts);
        const std::vector<AccessUnit> units = SplitAccessUnits(bytes);
        ASSERT_EQ(units.size(), c.firstNal.size());
        for (size_t i = 0; i < units.size(); ++i) {
            EXPECT_EQ(units[i].offset, starts[c.firstNal[i]]) << i;
            const size_t end =
                i + 1 < units.size()
                    ? starts[c.firstNal[i + 1]]
                    : (std::string(c.name).find("trailing") == 0 ? starts[2] : bytes.size());
            EXPECT_EQ(units[i].offset + units[i].size, end) << i;
            EXPECT_EQ(units[i].key, c.keys[i]) << i;
        }
    }
}

TEST(SplitAccessUnitsTest, BytesOutsideAnyUnitAreLeftOut) {
    EXPECT_TRUE(SplitAccessUnits({}).empty());
    const std::vector<uint8_t> noStartCode = {1, 2, 3, 0, 0, 2, 9};
    EXPECT_TRUE(SplitAccessUnits(noStartCode).empty());
    std::vector<uint8_t> junkFirst = {0xFF, 0xEE, 0xDD};
    const std::vector<uint8_t> stream = Stream({{5}, {1}});
    junkFirst.insert(junkFirst.end(), stream.begin(), stream.end());
    const std::vector<AccessUnit> units = SplitAccessUnits(junkFirst);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].offset, 3u);
}

TEST(SplitAccessUnitsTest, EncoderOutputSplitsBackIntoItsFrames) {
    H264Encoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.Open({176, 144, 25, 256000, 4}, error)) << error;
    TestPattern pattern(176, 144);
    YuvPicture picture;
    std::vector<EncodedFrame> frames(9);
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < frames.size(); ++i) {
        pattern.Render(1, i, {}, picture);
        ASSERT_TRUE(encoder.Encode(picture, false, frames[i], error)) << error;
        stream.insert(stream.end(), frames[i].bytes.begin(), frames[i].bytes.end());
    }
    const std::vector<AccessUnit> units = SplitAccessUnits(stream);
    ASSERT_EQ(units.size(), frames.size());
    for (size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(std::vector<uint8_t>(stream.begin() + long(units[i].offset),
                                       stream.begin() + long(units[i].offset + units[i].size)),
                  frames[i].bytes)
            << i;
        EXPECT_EQ(units[i].key, frames[i].key) << i;
    }
}

TEST(AnnexBClipTest, FilesThatCannotBeStreamedAreRefused) {
    AnnexBClip clip;
    std::string error;
    EXPECT_FALSE(clip.Load("/nonexistent/clip.264", error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_FALSE(clip.Load("/dev/null", error));
}

std::vector<uint8_t> ViewerBytes() {
    std::vector<uint8_t> bytes;
    uint8_t packet[wire::kMaxSentPacket];
    size_t n = wire::BuildLoginPacket(packet, 0, "admin", "secret", 3, ProtocolVariant::Current);
    bytes.insert(bytes.end(), packet, packet + n);
    n = wire::BuildPtzPacket(packet, 1, 3, wire::kPtzZoomIn, ProtocolVariant::Current);
    bytes.insert(bytes.end(), packet, packet + n);
    n = wire::BuildChannelPacket(packet, 2, 3, 5);
    bytes.insert(bytes.end(), packet, packet + n);
    return bytes;
}

// Feeds `bytes` cut at `cuts` and returns each packet's record types and sizes.
std::vector<std::string> ReadAll(const std::vector<uint8_t>& bytes, std::vector<size_t> cuts) {
    ViewerPacketReader reader;
    std::vector<std::string> seen;
    std::vector<ViewerRecord> records;
    std::string why;
    cuts.push_back(bytes.size());
    size_t from = 0;
    for (size_t cut : cuts) {
        reader.Append(bytes.data() + from, cut - from);
        from = cut;
        ViewerPacketReader::Result result;
        while ((result = reader.Next(records, why)) == ViewerPacketReader::Result::Packet) {
            std::string text;
            for (const ViewerRecord& r : records) {
                text += std::to_string(r.type) + ":" + std::to_string(r.payload.size()) + " ";
            }
            seen.push_back(text);
        }
        EXPECT_EQ(result, ViewerPacketReader::Result::NeedMore) << why;
    }
    return seen;
}

TEST(ViewerPacketReaderTest, AnySplitOfTheStreamGivesTheSamePackets) {
    const std::vector<uint8_t> bytes = ViewerBytes();
    const std::vector<std::string> whole = ReadAll(bytes, {});
    ASSERT_EQ(whole, (std::vector<std::string>{"40:4 41:68 ", "51:8 ", "64:8 "}));
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < bytes.size(); ++i)
        everyByte.push_back(i);
    EXPECT_EQ(ReadAll(bytes, everyByte), whole);
    std::mt19937 random(3);
    for (int round = 0; round < 20; ++round) {
        std::vector<size_t> cuts;
        for (int i = 0; i < 4; ++i)
            cuts.push_back(random() % bytes.size());
        std::sort(cuts.begin(), cuts.end());
        EXPECT_EQ(ReadAll(bytes, cuts), whole);
    }
}

TEST(ViewerPacketReaderTest, LengthsOutsideAViewersPacketsAreMalformed) {
    const struct {
        uint32_t length;
        ViewerPacketReader::Result result;
    } cases[] = {
        {0, ViewerPacketReader::Result::Malformed},
        {3, ViewerPacketReader::Result::Malformed},
        {4, ViewerPacketReader::Result::Packet},  // no records
        {ViewerPacketReader::kMaxPacket - 4, ViewerPacketReader::Result::NeedMore},
        {ViewerPacketReader::kMaxPacket - 3, ViewerPacketReader::Result::Malformed},
        {0xFFFFFFFF, ViewerPacketReader::Result::Malformed},
    };
    for (const auto& c : cases) {
        ViewerPacketReader reader;
        uint8_t header[8] = {};
        wire::WriteU32BE(header, c.length);
        reader.Append(header, sizeof header);
        std::vector<ViewerRecord> records;
        std::string why;
        EXPECT_EQ(reader.Next(records, why), c.result) << c.length;
        EXPECT_TRUE(records.empty());
    }
}

TEST(ViewerPacketReaderTest, RecordRunningPastItsPacketIsCutAndTheNextPacketKept) {
    uint8_t bytes[8 + 4 + 2 + 8] = {};
    wire::WriteU32BE(bytes, 4 + 6);  // one record header and 2 payload bytes
    wire::WriteU16(bytes + 8, 51);
    wire::WriteU16(bytes + 10, 8);    // claims 8
    wire::WriteU32BE(bytes + 14, 4);  // next packet, empty
    ViewerPacketReader reader;
    reader.Append(bytes, sizeof bytes);
    std::vector<ViewerRecord> records;
    std::string why;
    ASSERT_EQ(reader.Next(records, why), ViewerPacketReader::Result::Packet);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].payload.size(), 2u);
    EXPECT_EQ(reader.Next(records, why), ViewerPacketReader::Result::Packet);
    EXPECT_EQ(reader.Next(records, why), ViewerPacketReader::Result::NeedMore);
}

TEST(SimFaultsTest, FlipVersionAnnouncesTheOtherDialectOnEveryOtherLogin) {
    SimOptions options;
    for (uint64_t login = 0; login < 4; ++login)
        EXPECT_EQ(AnnouncedVersion(options, login), 5);
    options.faults.Add(Fault::FlipVersion);
    const uint16_t current[] = {5, 3, 5, 3};
    for (uint64_t login = 0; login < 4; ++login)
        EXPECT_EQ(AnnouncedVersion(options, login), current[login]);
    options.version = 4;
    EXPECT_EQ(AnnouncedVersion(options, 0), 4);
    EXPECT_EQ(AnnouncedVersion(options, 1), 5);
}

TEST(SimFaultsTest, FaultBytesHaveTheirShapes) {
    const std::vector<uint8_t> header = ShortHeaderPacket(9);
    ASSERT_EQ(header.size(), 8u);
    EXPECT_EQ(wire::ReadPacketHeader(header.data()).length, 2u);
    EXPECT_EQ(wire::ReadPacketHeader(header.data()).sequence, 9u);

    const std::vector<uint8_t> packet = LongPacket(4);
    ASSERT_EQ(packet.size(), kLongPacketBytes);
    EXPECT_EQ(wire::ReadPacketHeader(packet.data()).length, kLongPacketBytes - 4);

    EXPECT_EQ(GarbageBytes(64, 1), GarbageBytes(64, 1));
    EXPECT_NE(GarbageBytes(64, 1), GarbageBytes(64, 2));
}

}  // namespace
}  // namespace kavrel::sim
