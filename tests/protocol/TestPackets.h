#pragma once
// Building received streams for tests: whole packets from records.

#include <cstdint>
#include <utility>
#include <vector>

#include "protocol/WireFormat.h"

namespace kavrel::test {

using Bytes = std::vector<uint8_t>;

struct Record {
    uint16_t type;
    Bytes payload;
};

inline Bytes Packet(const std::vector<Record>& records, uint32_t sequence = 0) {
    wire::PacketBuilder builder(sequence);
    for (const Record& record : records)
        builder.Add(record.type, record.payload);
    return builder.Bytes();
}

// `size` bytes of a pattern that differs with `seed`, so payloads are told apart.
inline Bytes Pattern(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = uint8_t(state >> 24);
    }
    return bytes;
}

inline Bytes U16Payload(uint16_t first, uint16_t second = 0) {
    Bytes bytes(4);
    wire::WriteU16(bytes.data(), first);
    wire::WriteU16(bytes.data() + 2, second);
    return bytes;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes FormatPayload(uint16_t width, uint16_t height, uint8_t fps, uint32_t bitRate) {
    const StreamFormatInfo info = StreamFormatInfo::Make(width, height, fps, bitRate);
    return Bytes(info.bytes.begin(), info.bytes.end());
}

// A packet header alone, with any length word (for malformed packets).
inline Bytes RawHeader(uint32_t length, uint32_t sequence = 0) {
    Bytes bytes(wire::kPacketHeaderSize);
    wire::WriteU32BE(bytes.data(), length);
    wire::WriteU32(bytes.data() + 4, sequence);
    return bytes;
}

}  // namespace kavrel::test
