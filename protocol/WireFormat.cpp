#include "protocol/WireFormat.h"

#include <algorithm>

namespace kavrel {
namespace wire {
namespace {

void CopyField(uint8_t* field, size_t width, std::string_view text) {
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

size_t WriteHeaders(uint8_t* out, uint32_t sequence, size_t recordBytes) {
    WriteU32BE(out, uint32_t(4 + recordBytes));
    WriteU32(out + 4, sequence);
    return kPacketHeaderSize;
}

uint8_t* WriteTlv(uint8_t* p, uint16_t type, uint16_t length) {
    WriteU16(p, type);
    WriteU16(p + 2, length);
    return p + kTlvHeaderSize;
}

std::string FieldText(const uint8_t* field, size_t width) {
    const auto* end = std::find(field, field + width, uint8_t(0));
    return std::string(reinterpret_cast<const char*>(field), size_t(end - field));
}

}  // namespace

PacketBuilder::PacketBuilder(uint32_t sequence) : m_bytes(kPacketHeaderSize, 0) {
    WriteU32(m_bytes.data() + 4, sequence);
}

PacketBuilder& PacketBuilder::Add(uint16_t type, std::span<const uint8_t> payload) {
    const size_t at = m_bytes.size();
    m_bytes.resize(at + kTlvHeaderSize + payload.size());
    WriteTlv(m_bytes.data() + at, type, uint16_t(payload.size()));
    if (!payload.empty())
        std::memcpy(m_bytes.data() + at + kTlvHeaderSize, payload.data(), payload.size());
    return *this;
}

const std::vector<uint8_t>& PacketBuilder::Bytes() {
    WriteU32BE(m_bytes.data(), uint32_t(m_bytes.size() - 4));
    return m_bytes;
}

uint32_t ChannelMask(int channel) {
    return (channel >= 0 && channel <= 31) ? (uint32_t(1) << channel) : 0;
}

size_t BuildLoginPacket(uint8_t* out, uint32_t sequence, std::string_view user,
                        std::string_view password, int channel, ProtocolVariant variant) {
    const bool current = variant == ProtocolVariant::Current;
    const size_t payloadSize = current ? kCurrentLoginPayload : kLegacyLoginPayload;
    const size_t records = 2 * kTlvHeaderSize + 4 + payloadSize;
    std::memset(out, 0, kPacketHeaderSize + records);
    uint8_t* p = out + WriteHeaders(out, sequence, records);
    p = WriteTlv(p, kVersionInfo, 4);
    WriteU16(p, current ? kCurrentVersion : kLegacyVersion);
    WriteU16(p + 2, current ? kCurrentSecond : kLegacySecond);
    p = WriteTlv(p + 4, kLoginRequest, uint16_t(payloadSize));
    if (current) {
        CopyField(p + 1, 32, user);
        CopyField(p + 33, 19, password);
        WriteU32(p + 60, ChannelMask(channel));
        p[64] = 1;
    } else {
        CopyField(p, 32, user);
        CopyField(p + 32, 16, password);
        WriteU32(p + 48, 1);
        p[53] = uint8_t(channel);
    }
    return kPacketHeaderSize + records;
}

size_t BuildPtzPacket(uint8_t* out, uint32_t sequence, int channel, uint8_t command,
                      ProtocolVariant variant) {
    std::memset(out, 0, 20);
    uint8_t* p = out + WriteHeaders(out, sequence, 12);
    p = WriteTlv(p, kControlRequest, 8);
    WriteU32(p, 1);
    // Unsigned arithmetic: the low byte is all that is sent, and a channel near
    // INT_MAX must not overflow.
    const unsigned wireChannel =
        unsigned(channel) + (variant == ProtocolVariant::Current ? 1u : 0u);
    p[4] = uint8_t(wireChannel);
    p[5] = command;
    return 20;
}

size_t BuildChannelPacket(uint8_t* out, uint32_t sequence, int channelLeft, int channelWanted) {
    std::memset(out, 0, 20);
    uint8_t* p = out + WriteHeaders(out, sequence, 12);
    p = WriteTlv(p, kChannelRequest, 8);
    WriteU32(p, 0);
    p[4] = uint8_t(channelLeft);
    p[5] = uint8_t(channelWanted);
    return 20;
}

int LoginRequest::Channel() const {
    if (variant == ProtocolVariant::Legacy)
        return channelByte;
    for (int bit = 0; bit < 32; ++bit) {
        if (channelMask & (uint32_t(1) << bit))
            return bit;
    }
    return -1;
}

bool ParseLoginPayload(std::span<const uint8_t> payload, LoginRequest& out) {
    if (payload.size() == kCurrentLoginPayload) {
        out.variant = ProtocolVariant::Current;
        out.user = FieldText(payload.data() + 1, 32);
        out.password = FieldText(payload.data() + 33, 19);
        out.channelMask = ReadU32(payload.data() + 60);
        out.channelByte = 0;
        return true;
    }
    if (payload.size() == kLegacyLoginPayload) {
        out.variant = ProtocolVariant::Legacy;
        out.user = FieldText(payload.data(), 32);
        out.password = FieldText(payload.data() + 32, 16);
        out.channelMask = 0;
        out.channelByte = payload[53];
        return true;
    }
    return false;
}

}  // namespace wire

StreamFormatInfo StreamFormatInfo::Make(uint16_t width, uint16_t height, uint8_t fps,
                                        uint32_t bitRate) {
    StreamFormatInfo info;
    wire::WriteU32(info.bytes.data() + 8, bitRate);
    wire::WriteU16(info.bytes.data() + 12, width);
    wire::WriteU16(info.bytes.data() + 14, height);
    info.bytes[16] = fps;
    return info;
}

DvsInfo DvsInfo::Make(uint8_t channelCount) {
    DvsInfo info;
    info.bytes[68] = channelCount;
    return info;
}

}  // namespace kavrel
