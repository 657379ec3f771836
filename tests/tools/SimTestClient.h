#pragma once
// A bare viewer-side connection for tests of kavrel-sim's exact bytes: sends
// the three requests built with the wire helpers and reads whole packets with
// a deadline. Used by one test thread.

#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/WireFormat.h"

namespace kavrel::test {

struct WireRecord {
    uint16_t type = 0;
    std::vector<uint8_t> payload;
};

struct WirePacket {
    uint32_t length = 0;
    uint32_t sequence = 0;
    std::vector<WireRecord> records;
    // The first record of `type`, or null.
    const WireRecord* Find(uint16_t type) const;
};

inline bool IsVideoType(uint16_t type) {
    return type == 100 || type == 101 || type == 102 || type == 104 || type == 112;
}

class SimTestClient {
  public:
    static constexpr std::chrono::milliseconds kDeadline{20000};

    SimTestClient() = default;
    ~SimTestClient();
    SimTestClient(const SimTestClient&) = delete;
    SimTestClient& operator=(const SimTestClient&) = delete;

    bool Connect(uint16_t port);
    bool Send(std::span<const uint8_t> bytes);
    bool SendLogin(std::string_view user, std::string_view password, int channel,
                   ProtocolVariant variant);
    bool SendPtz(int channel, uint8_t code, ProtocolVariant variant);
    bool SendChannel(int left, int wanted);

    // Reads exactly `count` bytes; false on end of stream or at the deadline.
    bool ReadExact(size_t count, std::vector<uint8_t>& out,
                   std::chrono::milliseconds deadline = kDeadline);
    // Reads one whole packet. False on end of stream, at the deadline, or for
    // a header whose length is below 4 (then `out.length` holds it).
    bool ReadPacket(WirePacket& out, std::chrono::milliseconds deadline = kDeadline);
    // Reads packets until one holds a video record; that packet is `out`.
    // Stream-format records met on the way are appended to `formats`.
    bool ReadVideoPacket(WirePacket& out, std::vector<StreamFormatInfo>* formats = nullptr,
                         std::chrono::milliseconds deadline = kDeadline);
    // True once the server has closed the connection (what arrives before is dropped).
    bool WaitClosed(std::chrono::milliseconds deadline = kDeadline);
    // True when no byte is waiting to be read right now.
    bool NothingPending();

  private:
    int m_fd = -1;
    uint32_t m_sequence = 0;
};

}  // namespace kavrel::test
