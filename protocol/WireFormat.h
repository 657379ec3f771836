#pragma once
// The bytes of the server protocol: packet and record headers, the three
// requests the viewer sends, and the payload records it reads. Pure functions
// with no connection state; the engine and the simulated server both use them.
//
// A packet is an 8-byte header (u32 big-endian length of everything after the
// length field, u32 little-endian sequence) followed by TLV records (u16 type,
// u16 length, payload; little-endian).

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

enum class ProtocolVariant : int { Current = 0, Legacy = 1 };

namespace wire {

constexpr size_t kPacketHeaderSize = 8;
constexpr size_t kTlvHeaderSize = 4;
constexpr size_t kMaxSentPacket = 88;

// Record types.
enum RecordType : uint16_t {
    kVersionInfoAlt = 39,
    kVersionInfo = 40,
    kLoginRequest = 41,
    kLoginAnswer = 42,
    kControlRequest = 51,
    kControlAnswer = 52,
    kChannelRequest = 64,
    kChannelAnswer = 65,
    kDvsInfoRequest = 70,
    kDvsInfoAnswer = 71,
    kPhoneInfoAnswer = 73,
    kVideoKeyFrame = 100,
    kVideoFrameInfoEx = 101,
    kVideoFrame = 102,
    kVideoKeyFrameAlt = 104,
    kVideoFrameAlt = 112,
    kStreamFormatInfo = 199,  // also 200, 201 and 203
};

// PTZ command codes.
enum PtzCode : uint8_t {
    kPtzStop = 0,
    kPtzZoomOut = 5,
    kPtzZoomIn = 6,
    kPtzFocusAdd = 7,
    kPtzFocusSub = 8,
    kPtzUp = 9,
    kPtzDown = 10,
    kPtzLeft = 11,
    kPtzRight = 12,
    kPtzIrisAdd = 13,
    kPtzIrisSub = 14,
};

// The version each dialect announces in its login, and the second value.
constexpr uint16_t kCurrentVersion = 5;
constexpr uint16_t kCurrentSecond = 0;
constexpr uint16_t kLegacyVersion = 3;
constexpr uint16_t kLegacySecond = 7;

constexpr size_t kCurrentLoginPayload = 68;
constexpr size_t kLegacyLoginPayload = 56;

// Integers are read from and written to bytes with memcpy-free shifts: no
// alignment or aliasing assumptions about the buffer.
inline uint16_t ReadU16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t ReadU32BE(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void WriteU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void WriteU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void WriteU32BE(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * (3 - i)));
}

struct PacketHeader {
    uint32_t length = 0;  // bytes after the length field: 4 (sequence) + records
    uint32_t sequence = 0;
};
inline PacketHeader ReadPacketHeader(const uint8_t* p) {
    return {ReadU32BE(p), ReadU32(p + 4)};
}

struct TlvHeader {
    uint16_t type = 0;
    uint16_t length = 0;
};
inline TlvHeader ReadTlvHeader(const uint8_t* p) {
    return {ReadU16(p), ReadU16(p + 2)};
}

// True for 199, 200, 201 and 203 (202 is not a stream-format type).
inline bool IsStreamFormatType(uint16_t type) {
    return type == 199 || type == 200 || type == 201 || type == 203;
}

// Builds a packet record by record; used by the engine's three requests and by
// the simulated server for every answer.
class PacketBuilder {
  public:
    explicit PacketBuilder(uint32_t sequence);
    PacketBuilder& Add(uint16_t type, std::span<const uint8_t> payload);
    // Finishes the header; the builder may keep adding records afterwards.
    const std::vector<uint8_t>& Bytes();

  private:
    std::vector<uint8_t> m_bytes;
};

// The three requests. Each writes a whole packet into `out` (at least
// kMaxSentPacket bytes) and returns its size. Texts are UTF-8 bytes already;
// longer ones are cut to their field.
size_t BuildLoginPacket(uint8_t* out, uint32_t sequence, std::string_view user,
                        std::string_view password, int channel, ProtocolVariant variant);
size_t BuildPtzPacket(uint8_t* out, uint32_t sequence, int channel, uint8_t command,
                      ProtocolVariant variant);
size_t BuildChannelPacket(uint8_t* out, uint32_t sequence, int channelLeft, int channelWanted);

// The Current login's channel mask: 1 << channel, 0 outside 0..31.
uint32_t ChannelMask(int channel);

// The login request as a server reads it (the simulator's side).
struct LoginRequest {
    ProtocolVariant variant = ProtocolVariant::Current;
    std::string user;
    std::string password;
    uint32_t channelMask = 0;  // Current layout
    uint8_t channelByte = 0;   // Legacy layout
    // 0-based channel the viewer asked for: the lowest set bit of the mask in
    // Current, the byte in Legacy; -1 when the mask is 0.
    int Channel() const;
};
// Parses a login payload of either layout (68 bytes Current, 56 Legacy). False
// for any other size.
bool ParseLoginPayload(std::span<const uint8_t> payload, LoginRequest& out);

}  // namespace wire

// Stream format announced by the server (40 bytes, carried whole).
struct StreamFormatInfo {
    std::array<uint8_t, 40> bytes{};

    uint32_t BitRate() const { return wire::ReadU32(bytes.data() + 8); }
    uint16_t Width() const { return wire::ReadU16(bytes.data() + 12); }
    uint16_t Height() const { return wire::ReadU16(bytes.data() + 14); }
    uint8_t FramesPerSecond() const { return bytes[16]; }

    static StreamFormatInfo Make(uint16_t width, uint16_t height, uint8_t fps, uint32_t bitRate);
};
static_assert(sizeof(StreamFormatInfo) == 40);

// Server information (72 bytes, carried whole); the viewer reads the channel count.
struct DvsInfo {
    std::array<uint8_t, 72> bytes{};

    uint8_t ChannelCount() const { return bytes[68]; }

    static DvsInfo Make(uint8_t channelCount);
};
static_assert(sizeof(DvsInfo) == 72);

}  // namespace kavrel
