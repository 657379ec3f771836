#pragma once
// A loopback port where a connect neither succeeds nor fails: a listener whose
// accept queue is full (filled by connections of its own that nobody
// accepts), so the kernel drops every further connection request and a
// connect waits until its own deadline, as with a host that does not answer.

#include <cstdint>
#include <vector>

namespace kavrel::test {

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
