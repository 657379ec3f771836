#include "tools/sim/ViewerPacketReader.h"

#include <algorithm>

#include "protocol/WireFormat.h"

namespace kavrel::sim {

void ViewerPacketReader::Append(const uint8_t* bytes, size_t count) {
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
}

ViewerPacketReader::Result ViewerPacketReader::Next(std::vector<ViewerRecord>& records,
                                                    std::string& why) {
    records.clear();
    if (m_buffer.size() < wire::kPacketHeaderSize)
        return Result::NeedMore;
    const wire::PacketHeader header = wire::ReadPacketHeader(m_buffer.data());
    if (header.length < 4 || size_t(header.length) + 4 > kMaxPacket) {
        why = "packet length " + std::to_string(header.length) + " outside 4.." +
              std::to_string(kMaxPacket - 4);
        return Result::Malformed;
    }
    const size_t packetSize = size_t(header.length) + 4;
    if (m_buffer.size() < packetSize)
        return Result::NeedMore;
    size_t at = wire::kPacketHeaderSize;
    while (at + wire::kTlvHeaderSize <= packetSize) {
        const wire::TlvHeader tlv = wire::ReadTlvHeader(m_buffer.data() + at);
        const size_t begin = at + wire::kTlvHeaderSize;
        const size_t end = std::min(packetSize, begin + tlv.length);
        records.push_back({tlv.type, std::vector<uint8_t>(m_buffer.begin() + long(begin),
                                                          m_buffer.begin() + long(end))});
        at = begin + tlv.length;
    }
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + long(packetSize));
    return Result::Packet;
}

}  // namespace kavrel::sim
