#pragma once
// Loopback ports whose connects go wrong in a chosen way, held for as long as
// the object lives (a port only bound and released again could be taken
// meanwhile by another test running in parallel, which would then answer).
//
// RefusingPort: every connect is refused at once. A TCP socket bound to
// 127.0.0.1 that never listens.
//
// BlackholePort: a connect neither succeeds nor fails. A listener whose
// accept queue is full (filled by connections of its own that nobody
// accepts), so the kernel drops every further connection request and a
// connect waits until its own deadline, as with a host that does not answer.

#include <cstdint>
#include <vector>

namespace kavrel::test {

class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    // The port; 0 when no socket could be bound.
    uint16_t Port() const { return m_port; }

  private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

class BlackholePort {
  public:
    BlackholePort();
    ~BlackholePort();
    BlackholePort(const BlackholePort&) = delete;
    BlackholePort& operator=(const BlackholePort&) = delete;

    // The port; 0 when the listener could not be made.
    uint16_t Port() const { return m_port; }

  private:
    int m_listenFd = -1;
    std::vector<int> m_fillers;
    uint16_t m_port = 0;
};

}  // namespace kavrel::test
