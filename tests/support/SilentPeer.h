#pragma once
// A loopback server that stops reading: it accepts one connection, reads the
// first `readFirst` bytes (a login), answers with `answer`, and from then on
// reads nothing until it is destroyed. Its receive buffer is kept small, so a
// client's sends back up after a few kilobytes, as with a server that hangs
// or a link that has died without a reset.
//
// Threads: one thread of its own accepts, reads and answers; the members may
// be called from any thread. The destructor closes everything and joins it.

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace kavrel::test {

class SilentPeer {
  public:
    SilentPeer(size_t readFirst, std::vector<uint8_t> answer);
    ~SilentPeer();
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;

    // The port on 127.0.0.1; 0 when the listener could not be made.
    uint16_t Port() const { return m_port; }
    // The login was read and the answer sent: it reads no more from now on.
    bool Answered() const { return m_answered.load(); }

  private:
    void Run(size_t readFirst, std::vector<uint8_t> answer);

    int m_listenFd = -1;
    int m_wakeFd = -1;  // eventfd: ends the thread early
    uint16_t m_port = 0;
    std::atomic<bool> m_answered{false};
    int m_connectionFd = -1;  // the server thread's until it is joined
    std::thread m_thread;
};

}  // namespace kavrel::test
