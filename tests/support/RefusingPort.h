#pragma once
// A loopback port that refuses every connection for as long as this object
// lives: a TCP socket bound to 127.0.0.1 that never listens. A port that was
// only bound and released again could be taken meanwhile by another test
// running in parallel (a simulator on port 0, an outgoing connection), which
// would then accept the connect the test expects to fail.

#include <cstdint>

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

}  // namespace kavrel::test
