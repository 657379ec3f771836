#pragma once
// One viewer connection as its session thread sees it: the socket, and the
// reader that cuts what the viewer sends into packets and records.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/sim/SimReport.h"

namespace kavrel::sim {

// One viewer's TCP connection as its session thread uses it: waits that a
// server stop interrupts at once (the shared stop eventfd), and whole sends
// that give up when the viewer stops reading for kWriteStallLimit. Owns the
// socket and closes it. Used by its session thread only.
class SessionSocket {
  public:
    static constexpr std::chrono::seconds kWriteStallLimit{20};

    enum class Wait { Readable, Timeout, Stop, Error };
    enum class SendResult { Sent, Stop, Failed };

    // `stopFd` is readable once the server stops. With `oneByteWrites` every
    // byte goes out by a write of its own (a fault mode).
    SessionSocket(int fd, int stopFd, bool oneByteWrites, SimStats& stats);
    ~SessionSocket();
    SessionSocket(const SessionSocket&) = delete;
    SessionSocket& operator=(const SessionSocket&) = delete;

    // Waits until the viewer sent something, `timeout` passed (negative: no
    // limit) or the server stops.
    Wait WaitReadable(std::chrono::milliseconds timeout);
    // Reads what is there: > 0 bytes read, 0 the viewer closed, -1 an error,
    // -2 nothing there after all.
    ssize_t Read(uint8_t* buffer, size_t capacity);
    SendResult Send(std::span<const uint8_t> bytes);

  private:
    int m_fd;
    int m_stopFd;
    bool m_oneByteWrites;
    SimStats& m_stats;
};

// Cuts the bytes a viewer sends into packets and records. A viewer sends only
// small packets (at most 88 bytes), so a header announcing more than
// kMaxPacket bytes, or fewer than its own sequence field, is malformed and
// ends the connection: the buffer never grows past one read beyond that.
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
