// The bytes the viewer sends, compared with hand-written packets, and the
// header readers.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "protocol/WireFormat.h"
#include "tests/protocol/TestPackets.h"

namespace kavrel {
namespace {

using test::Bytes;

// Little helpers that write the expected packets straight from the byte
// tables, independently of the builders under test.
void PutLe32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = uint8_t(value >> (8 * i));
}

Bytes ExpectedCurrentLogin(uint32_t sequence, const std::string& user, uint32_t mask) {
    Bytes b(88, 0);
    b[3] = 84;  // big-endian length
    PutLe32(b, 4, sequence);
    b[8] = 40, b[10] = 4;    // version record, length 4
    b[12] = 5, b[14] = 0;    // version 5, second value 0
    b[16] = 41, b[18] = 68;  // login record, length 68
    for (size_t i = 0; i < user.size(); ++i)
        b[20 + 1 + i] = uint8_t(user[i]);
    PutLe32(b, 20 + 60, mask);
    b[20 + 64] = 1;
    return b;
}

Bytes ExpectedLegacyLogin(uint32_t sequence, const std::string& user, uint8_t channel) {
    Bytes b(76, 0);
    b[3] = 72;
    PutLe32(b, 4, sequence);
    b[8] = 40, b[10] = 4;
    b[12] = 3, b[14] = 7;
    b[16] = 41, b[18] = 56;
    for (size_t i = 0; i < user.size(); ++i)
        b[20 + i] = uint8_t(user[i]);
    PutLe32(b, 20 + 48, 1);
    b[20 + 53] = channel;
    return b;
}

Bytes Built(size_t size, const uint8_t* out) {
    return Bytes(out, out + size);
}

struct LoginCase {
    int channel;
    uint32_t currentMask;
    uint8_t legacyChannelByte;
};

class LoginPacketTest : public ::testing::TestWithParam<LoginCase> {};

TEST_P(LoginPacketTest, BothVariantsMatchTheTablesByteForByte) {
    const LoginCase c = GetParam();
    uint8_t out[wire::kMaxSentPacket];

    const size_t currentSize =
        wire::BuildLoginPacket(out, 0, "abc", "", c.channel, ProtocolVariant::Current);
    EXPECT_EQ(Built(currentSize, out), ExpectedCurrentLogin(0, "abc", c.currentMask));

    const size_t legacySize =
        wire::BuildLoginPacket(out, 0, "abc", "", c.channel, ProtocolVariant::Legacy);
    EXPECT_EQ(Built(legacySize, out), ExpectedLegacyLogin(0, "abc", c.legacyChannelByte));
}

INSTANTIATE_TEST_SUITE_P(Channels, LoginPacketTest,
                         ::testing::Values(LoginCase{0, 1u, 0}, LoginCase{31, 0x80000000u, 31},
                                           LoginCase{32, 0u, 32}, LoginCase{-1, 0u, 255},
                                           LoginCase{256, 0u, 0}));

TEST(LoginPacket, LongTextsAreCutToTheirFieldsAndPasswordsLand) {
    const std::string user(40, 'u');
    const std::string password(40, 'p');
    uint8_t out[wire::kMaxSentPacket];

    wire::BuildLoginPacket(out, 7, user, password, 2, ProtocolVariant::Current);
    const uint8_t* current = out + 20;
    EXPECT_EQ(current[0], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(current + 1), 32), std::string(32, 'u'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(current + 33), 19), std::string(19, 'p'));
    EXPECT_EQ(wire::ReadU32(current + 52), 0u);  // nothing spilled past the password field
    EXPECT_EQ(wire::ReadU32(current + 60), 4u);
    EXPECT_EQ(wire::ReadU32(out + 4), 7u);

    wire::BuildLoginPacket(out, 7, user, password, 2, ProtocolVariant::Legacy);
    const uint8_t* legacy = out + 20;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(legacy), 32), std::string(32, 'u'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(legacy + 32), 16), std::string(16, 'p'));
    EXPECT_EQ(wire::ReadU32(legacy + 48), 1u);
    EXPECT_EQ(legacy[53], 2);
}

TEST(LoginPacket, ParsesBackAsTheServerReadsIt) {
    uint8_t out[wire::kMaxSentPacket];
    for (const auto variant : {ProtocolVariant::Current, ProtocolVariant::Legacy}) {
        const size_t size = wire::BuildLoginPacket(out, 0, "admin", "secret", 5, variant);
        wire::LoginRequest request;
        ASSERT_TRUE(wire::ParseLoginPayload({out + 20, size - 20}, request));
        EXPECT_EQ(request.variant, variant);
        EXPECT_EQ(request.user, "admin");
        EXPECT_EQ(request.password, "secret");
        EXPECT_EQ(request.Channel(), 5);
    }
    wire::LoginRequest request;
    EXPECT_FALSE(wire::ParseLoginPayload({out, 57}, request));
}

TEST(PtzPacket, LeftOnChannelZeroInBothVariants) {
    uint8_t out[wire::kMaxSentPacket];
    // length 16, sequence 3, record 51 of 8 bytes: u32 1, channel, command 11, reserved.
    const Bytes current = {0, 0, 0, 16, 3, 0, 0, 0, 51, 0, 8, 0, 1, 0, 0, 0, 1, 11, 0, 0};
    const Bytes legacy = {0, 0, 0, 16, 3, 0, 0, 0, 51, 0, 8, 0, 1, 0, 0, 0, 0, 11, 0, 0};
    EXPECT_EQ(Built(wire::BuildPtzPacket(out, 3, 0, wire::kPtzLeft, ProtocolVariant::Current), out),
              current);
    EXPECT_EQ(Built(wire::BuildPtzPacket(out, 3, 0, wire::kPtzLeft, ProtocolVariant::Legacy), out),
              legacy);
}

TEST(PtzPacket, ChannelByteIsTheLowByteWithoutOverflow) {
    uint8_t out[wire::kMaxSentPacket];
    wire::BuildPtzPacket(out, 0, 255, wire::kPtzStop, ProtocolVariant::Current);
    EXPECT_EQ(out[16], 0);
    wire::BuildPtzPacket(out, 0, INT_MAX, wire::kPtzStop, ProtocolVariant::Current);
    EXPECT_EQ(out[16], 0);
    wire::BuildPtzPacket(out, 0, -1, wire::kPtzStop, ProtocolVariant::Legacy);
    EXPECT_EQ(out[16], 255);
}

TEST(ChannelPacket, CarriesBothChannelsAsLowBytes) {
    uint8_t out[wire::kMaxSentPacket];
    const Bytes expected = {0, 0, 0, 16, 0x02, 0x01, 0, 0, 64, 0, 8, 0, 0, 0, 0, 0, 3, 255, 0, 0};
    EXPECT_EQ(Built(wire::BuildChannelPacket(out, 0x0102, 3, -1), out), expected);
}

TEST(Headers, LengthIsBigEndianEverythingElseLittleEndian) {
    const Bytes packet = test::Packet({{0x1234, {9, 8, 7}}}, 0x01020304);
    ASSERT_EQ(packet.size(), 15u);
    const wire::PacketHeader header = wire::ReadPacketHeader(packet.data());
    EXPECT_EQ(header.length, 11u);
    EXPECT_EQ(header.sequence, 0x01020304u);
    EXPECT_EQ(packet[4], 0x04);
    const wire::TlvHeader record = wire::ReadTlvHeader(packet.data() + 8);
    EXPECT_EQ(record.type, 0x1234);
    EXPECT_EQ(record.length, 3);
    EXPECT_EQ(packet[8], 0x34);
}

}  // namespace
}  // namespace kavrel
