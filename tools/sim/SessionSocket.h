#pragma once
// One viewer's TCP connection as its session thread uses it: waits that a
// server stop interrupts at once (the shared stop eventfd), and whole sends
// that give up when the viewer stops reading for kWriteStallLimit. Owns the
// socket and closes it. Used by its session thread only.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <span>

#include "tools/sim/SimStats.h"

namespace kavrel::sim {

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

}  // namespace kavrel::sim
