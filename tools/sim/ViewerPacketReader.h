#pragma once
// Cuts the bytes a viewer sends into packets and records. A viewer sends only
// small packets (at most 88 bytes), so a header announcing more than
// kMaxPacket bytes, or fewer than its own sequence field, is malformed and
// ends the connection: the buffer never grows past one read beyond that.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavrel::sim {

struct ViewerRecord {
    uint16_t type = 0;
    std::vector<uint8_t> payload;
};

class ViewerPacketReader {
  public:
    static constexpr size_t kMaxPacket = 4096;

    enum class Result { Packet, NeedMore, Malformed };

    void Append(const uint8_t* bytes, size_t count);
    // Takes the next complete packet. Records are read as long as a whole
    // header fits; a record running past the packet's end is cut to what the
    // packet holds. On Malformed, `why` says what was wrong.
    Result Next(std::vector<ViewerRecord>& records, std::string& why);

  private:
    std::vector<uint8_t> m_buffer;  // unparsed bytes, oldest first
};

}  // namespace kavrel::sim
