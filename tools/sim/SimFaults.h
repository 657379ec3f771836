#pragma once
// The bytes and choices of the fault modes (see Fault in SimOptions.h): pure
// functions, so tests can check them without a connection.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/WireFormat.h"
#include "tools/sim/SimOptions.h"

namespace kavrel::sim {

// Version and second value a legacy server announces when flipping from a
// current one, and the other way round.
constexpr uint16_t kFlipLegacyVersion = 3;
constexpr uint16_t kFlipCurrentVersion = 5;

inline ProtocolVariant VariantOfVersion(int version) {
    return version >= 5 ? ProtocolVariant::Current : ProtocolVariant::Legacy;
}

// The version announced to the `loginNumber`-th login of the run (0-based):
// --version, or with "flip-version" every odd login the other dialect's.
uint16_t AnnouncedVersion(const SimOptions& options, uint64_t loginNumber);

// `count` bytes from a fixed pseudo-random sequence chosen by `seed`.
std::vector<uint8_t> GarbageBytes(size_t count, uint32_t seed);

// An 8-byte packet header whose length field is 2: shorter than its own
// sequence field.
std::vector<uint8_t> ShortHeaderPacket(uint32_t sequence);

// A well-formed packet of four 65535-byte filler records (type 97, which a
// viewer skips): 262164 bytes, longer than a 200000-byte receive buffer.
std::vector<uint8_t> LongPacket(uint32_t sequence);
constexpr size_t kLongPacketBytes = wire::kPacketHeaderSize + 4 * (wire::kTlvHeaderSize + 65535);

}  // namespace kavrel::sim
