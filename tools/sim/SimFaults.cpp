#include "tools/sim/SimFaults.h"

#include <random>

namespace kavrel::sim {

uint16_t AnnouncedVersion(const SimOptions& options, uint64_t loginNumber) {
    const uint16_t own = uint16_t(options.version);
    if (!options.faults.Has(Fault::FlipVersion) || loginNumber % 2 == 0)
        return own;
    return VariantOfVersion(own) == ProtocolVariant::Current ? kFlipLegacyVersion
                                                             : kFlipCurrentVersion;
}

std::vector<uint8_t> GarbageBytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes)
        b = uint8_t(random());
    return bytes;
}

std::vector<uint8_t> ShortHeaderPacket(uint32_t sequence) {
    std::vector<uint8_t> bytes(wire::kPacketHeaderSize);
    wire::WriteU32BE(bytes.data(), 2);
    wire::WriteU32(bytes.data() + 4, sequence);
    return bytes;
}

std::vector<uint8_t> LongPacket(uint32_t sequence) {
    const std::vector<uint8_t> filler(65535, 0x5A);
    wire::PacketBuilder packet(sequence);
    for (int i = 0; i < 4; ++i)
        packet.Add(97, filler);
    return packet.Bytes();
}

}  // namespace kavrel::sim
